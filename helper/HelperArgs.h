#pragma once

#include "ArchiveRules.h"

#include <cstdint>
#include <string>
#include <vector>

// Command line of the `updater` helper:
//   updater [--max-bytes=N] [--max-entries=N] --unpack "ARCHIVE" "DEST/"
//   updater --finish "DEST/"   (completes an install that an earlier helper left unfinished)
//   updater [--wait-ms=N] "TARGET" "NEW" "RUNNING"
// Arguments normally arrive one per argv slot. When the whole parameter text comes as one
// argument (a caller that built a command line), it is split at blanks outside double quotes;
// a quote only opens or closes, so "C:\dir\" keeps its trailing separator. One pair of
// surrounding quotes is also taken off single arguments.
namespace helper {

struct HelperArgs {
    enum class Mode { Invalid, Unpack, Finish, Replace } mode = Mode::Invalid;
    std::string archive, dest;                  // --unpack, --finish (dest only)
    std::string target, newFile, running;       // replacement
    std::uint64_t maxBytes = kMaxUnpackedBytes; // an archive may expand to this much at most
    std::uint64_t maxEntries = kMaxEntries;
    int waitMs = 120000; // for the running program to exit
    std::string error;   // why the command line is invalid
};

// Splits a parameter text as described above.
std::vector<std::string> SplitCommandText(const std::string& AText);

HelperArgs ParseHelperArgs(std::vector<std::string> AArgs);

} // namespace helper
