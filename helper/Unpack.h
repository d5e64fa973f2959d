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

} // namespace helper
