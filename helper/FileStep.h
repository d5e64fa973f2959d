#pragma once

namespace helper {

// Marks the point just before a file operation that changes the disk. With
// HALVORA_HELPER_KILL_AT=N in the environment the helper kills itself (SIGKILL, as a crash or
// power cut would stop it) right before its Nth such operation: tests stop it at every step in
// turn. pkexec clears the environment, so an elevated helper never sees the variable.
void FileStep();

// With HALVORA_HELPER_NO_EXCHANGE in the environment the helper acts as on a file system that
// can't swap two entries in one step, so tests reach the set-aside path on any disk.
bool ExchangeRefused();

} // namespace helper
