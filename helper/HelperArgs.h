#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Command line of the `updater` helper:
//   updater [--max-bytes=N] [--max-entries=N] --unpack "ARCHIVE" "DEST/"
//   updater [--wait-ms=N] "TARGET" "NEW" "RUNNING"
// Arguments normally arrive one per argv slot. When the whole parameter text comes as one
// argument (a caller that built a command line), it is split at blanks outside double quotes;
// a quote only opens or closes, so "C:\dir\" keeps its trailing separator. One pair of
// surrounding quotes is also taken off single arguments.
namespace helper {

enum ExitCode : int {
    kOk = 0,
    kUsage = 1,
    kArchiveUnreadable = 2, // missing, not zip/tar.gz, truncated or corrupt
    kUnsafeEntry = 3,       // absolute path, "..", escaping link, device, set-id bit, clash
    kLimitExceeded = 4,     // too many entries or too many bytes
    kWriteFailed = 5,       // the destination could not be written or put in place
    kStillRunning = 10,     // the program to replace did not exit in time
    kReplaceFailed = 11,    // the new program could not be put in place; the old one stands
    kStartFailed = 12,      // replaced, but the new program did not start
};

struct HelperArgs {
    enum class Mode { Invalid, Unpack, Replace } mode = Mode::Invalid;
    std::string archive, dest;            // --unpack
    std::string target, newFile, running; // replacement
    std::uint64_t maxBytes = 4ull << 30;  // an archive may expand to this much at most
    std::uint64_t maxEntries = 200000;
    int waitMs = 120000; // for the running program to exit
    std::string error;   // why the command line is invalid
};

// Splits a parameter text as described above.
std::vector<std::string> SplitCommandText(const std::string& AText);

HelperArgs ParseHelperArgs(std::vector<std::string> AArgs);

} // namespace helper
