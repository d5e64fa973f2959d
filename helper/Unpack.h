#pragma once

#include <cstdint>
#include <string>

namespace helper {

// Unpacks a zip or tar.gz archive into ADest (an existing folder). Everything is first written
// to a hidden staging folder inside ADest and moved into place only once the whole archive
// has been read and written, so an interrupted unpack never leaves a partial tree under its
// real name. Entries with absolute paths or "..", links whose targets could leave the
// destination, hard links to anything but an earlier file of the archive, devices, FIFOs,
// sockets, set-id bits and entries that clash with earlier ones are refused, as are archives
// with more than AMaxEntries entries or AMaxBytes of content. Returns an ExitCode; AErr says why.
int Unpack(const std::string& AArchive, const std::string& ADest, std::uint64_t AMaxBytes,
           std::uint64_t AMaxEntries, std::string& AErr);

// Removes staging and set-aside folders left in ADir by helpers that no longer run.
void RemoveStaleStaging(const std::string& ADir);

} // namespace helper
