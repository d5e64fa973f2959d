#pragma once

namespace helper {

// Marks the point just before a file operation that changes the disk. With
// HALVORA_HELPER_KILL_AT=N in the environment the helper kills itself (SIGKILL, as a crash or
// power cut would stop it) right before its Nth such operation: tests stop it at every step in
// turn. pkexec clears the environment, so an elevated helper never sees the variable.
void FileStep();

} // namespace helper
