#pragma once

namespace halvora::cli {

// The exit codes of halvora-cli, as --help and the README list them.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3; // a download failed; what it got is kept
constexpr int kExitSignalled = 4;  // SIGINT/SIGTERM; what was finished (a recording) is kept

} // namespace halvora::cli
