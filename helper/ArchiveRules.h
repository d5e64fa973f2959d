#pragma once

#include "InstallLayout.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>

struct archive_entry;

// What a component archive may hold and how far it may expand. Kept apart from the unpacking
// so that every program that accepts or produces component archives applies the same rules.
namespace helper {

enum ExitCode : int {
    kOk = 0,
    kUsage = 1,
    kArchiveUnreadable = 2, // missing, not zip/tar.gz, truncated or corrupt
    kUnsafeEntry = 3,       // absolute path, "..", escaping link, device, set-id bit, clash
    kLimitExceeded = 4,     // too many entries, too many bytes, or too high an expansion
    kWriteFailed = 5,       // the destination could not be written or put in place
    kStillRunning = 10,     // the program to replace did not exit in time
    kReplaceFailed = 11,    // the new program could not be put in place; the old one stands
    kStartFailed = 12,      // replaced, but the new program did not start
};

// The largest component, the VLC runtime with all its plugins, unpacks to a few hundred MiB;
// 1 GiB leaves room for growth while a bomb can't fill a small disk.
inline constexpr std::uint64_t kMaxUnpackedBytes = std::uint64_t(1) << 30;
// Program files and libraries compress by 2 to 5 times, text by 10 at most; 100 times means
// the archive was made to expand (a file of zeros), whatever its total.
inline constexpr std::uint64_t kMaxExpansionRatio = 100;
// Tiny archives (a script, a few empty files) can legitimately exceed any ratio: it only
// counts once this much has been unpacked.
inline constexpr std::uint64_t kRatioFreeBytes = std::uint64_t(8) << 20;
// Far more files than any runtime holds, far fewer than it takes to exhaust inodes.
inline constexpr std::uint64_t kMaxEntries = 200000;

struct ArchiveLimits {
    std::uint64_t maxBytes = kMaxUnpackedBytes;
    std::uint64_t maxEntries = kMaxEntries;
    std::uint64_t maxRatio = kMaxExpansionRatio;
    std::uint64_t archiveBytes = 0; // size of the archive file; 0: no ratio limit
};

// A member name made safe: relative, no "..", "." dropped, no backslash (a Windows separator
// that would mean something else here). Empty result for the archive's root itself.
bool CleanName(const char* AName, std::string& AOut, std::string& AErr);

// Whether a symbolic link at AEntry pointing at ATarget stays inside the archive's root.
bool SafeLinkTarget(const std::string& AEntry, const char* ATarget);

// Counts unpacked bytes against the total cap and the expansion ratio.
class ExpansionGuard {
public:
    explicit ExpansionGuard(const ArchiveLimits& ALimits) : limits(ALimits) {}
    // kOk, or kLimitExceeded with AErr set, once ABytes more would pass a limit.
    int add(std::uint64_t ABytes, std::string& AErr);
    // Whether ABytes more could still pass (for sizes announced before the data).
    int wouldFit(std::uint64_t ABytes, std::string& AErr) const;
    std::uint64_t total() const { return bytes; }

private:
    ArchiveLimits limits;
    std::uint64_t bytes = 0;
};

// Judges the entries of one archive in order. Entries with absolute paths or "..", links
// whose targets could leave the destination, hard links to anything but an earlier file of
// the archive, devices, FIFOs, sockets, set-id bits, reserved names and entries that clash with
// earlier ones are refused, as are more than maxEntries entries and content beyond the limits.
class EntryRules {
public:
    explicit EntryRules(const ArchiveLimits& ALimits) : limits(ALimits), guard(ALimits) {}

    // Checks AEntry and rewrites it for writing: cleaned name and hard link, owner read/write,
    // no write for others, no sticky bit. ASkip: nothing to write (the root folder itself).
    int check(archive_entry* AEntry, bool& ASkip, std::string& AErr);
    // Data of the current entry: ABytes more at AOffset within it.
    int addData(std::uint64_t ABytes, std::int64_t AOffset, std::string& AErr);
    const ExpansionGuard& expansion() const { return guard; }

private:
    int readName(archive_entry* AEntry, std::string& AName, std::string& AErr) const;
    int checkKind(archive_entry* AEntry, const std::string& AName, std::string& AErr) const;
    int checkPlace(const std::string& AName, mode_t AType, std::string& AErr) const;
    int checkLink(archive_entry* AEntry, const std::string& AName, std::string& AErr) const;
    int checkAnnouncedSize(archive_entry* AEntry, std::string& AErr) const;
    // Rewrites the accepted entry for writing and remembers where it went.
    void accept(archive_entry* AEntry, const std::string& AName, mode_t AType, bool AHardLink);

    ArchiveLimits limits;
    ExpansionGuard guard;
    std::uint64_t entries = 0;
    std::map<std::string, mode_t> written; // entry name -> file type
    std::set<std::string> parents;         // folders that entries were written into
};

} // namespace helper
