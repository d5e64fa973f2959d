#pragma once

#include <cstdint>
#include <string>

namespace helper {

// Unpacks a zip or tar.gz archive into ADest (an existing folder). Everything is first written
// to a hidden staging folder inside ADest and moved into place only once the whole archive
// has been read and written, so an interrupted unpack never leaves a partial tree under its
// real name. Entries are judged by EntryRules (ArchiveRules.h); an archive with more than
// AMaxEntries entries, more than AMaxBytes of content, or content more than kMaxExpansionRatio
// times its own size is refused. An `ffmpeg` at the top is made executable for its owner.
// Returns an ExitCode; AErr says why.
int Unpack(const std::string& AArchive, const std::string& ADest, std::uint64_t AMaxBytes,
           std::uint64_t AMaxEntries, std::string& AErr);

// Settles what helpers that no longer run left in ADir (a resolved folder). An install cut
// short after its archive was wholly unpacked is completed: every entry its journal names moves
// into place. One cut short earlier is dropped, the old component untouched. Set-aside entries
// are removed, or put back where nothing took their place. kOk, or kWriteFailed with AErr set
// when an install could not be completed; its journal then stays for the next run.
int FinishInterrupted(const std::string& ADir, std::string& AErr);

// The same for the folder ADest as given on the command line ("updater --finish DEST/").
int FinishInterruptedInstall(const std::string& ADest, std::string& AErr);

// Whether the process APidText (decimal) no longer exists; false for anything else.
bool ProcessGone(const std::string& APidText);

} // namespace helper
