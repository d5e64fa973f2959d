#pragma once

#include <string>

namespace helper {

// Waits until the program named by ARunning has exited (a process id, or the path of the
// running program file: then the helper's parent when it runs that file, else every process
// of the invoking user that runs it), at most AWaitMs. Then copies ANew beside ATarget, flushes
// it to disk, makes it executable and renames it over ATarget in one step, and starts ATarget
// in a session of its own, with the environment and working folder the old program had when
// they can be read. Any failure before the rename leaves ATarget as it was. Returns an ExitCode.
int ReplaceProgram(const std::string& ATarget, const std::string& ANew, const std::string& ARunning,
                   int AWaitMs, std::string& AErr);

} // namespace helper
