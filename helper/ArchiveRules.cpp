#include "ArchiveRules.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace helper {

namespace {

std::vector<std::string> SplitPath(const std::string& APath) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : APath) {
        if (c == '/') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

} // namespace

bool CleanName(const char* AName, std::string& AOut, std::string& AErr) {
    AOut.clear();
    if (!AName || !*AName) {
        AErr = "entry without a name";
        return false;
    }
    const std::string name = AName;
    if (name[0] == '/') {
        AErr = "absolute path refused: " + name;
        return false;
    }
    if (name.find('\\') != std::string::npos) {
        AErr = "backslash in path refused: " + name;
        return false;
    }
    for (const std::string& p : SplitPath(name)) {
        if (p == ".")
            continue;
        if (p == "..") {
            AErr = "path with .. refused: " + name;
            return false;
        }
        AOut += AOut.empty() ? p : "/" + p;
    }
    return true;
}

// A link target stays inside when it is relative, climbs at most as far as its own folder
// is deep, and never climbs again after it has gone down. Since no entry is ever written
// through a link, every folder a link sits in is real, so the target resolves inside the
// destination even when it passes through other such links.
bool SafeLinkTarget(const std::string& AEntry, const char* ATarget) {
    if (!ATarget || !*ATarget || ATarget[0] == '/' || std::strchr(ATarget, '\\'))
        return false;
    const size_t depth = SplitPath(AEntry).size() - 1;
    size_t ups = 0;
    bool descended = false;
    for (const std::string& p : SplitPath(ATarget)) {
        if (p == ".")
            continue;
        if (p == "..") {
            if (descended || ++ups > depth)
                return false;
        } else {
            descended = true;
        }
    }
    return true;
}

int ExpansionGuard::wouldFit(std::uint64_t ABytes, std::string& AErr) const {
    if (ABytes > limits.maxBytes || bytes > limits.maxBytes - ABytes) {
        AErr = "archive expands beyond the size limit of " + std::to_string(limits.maxBytes) +
               " bytes";
        return kLimitExceeded;
    }
    const std::uint64_t after = bytes + ABytes;
    if (limits.archiveBytes > 0 && limits.maxRatio > 0 && after > kRatioFreeBytes &&
        after / limits.maxRatio > limits.archiveBytes) {
        AErr = "archive expands more than " + std::to_string(limits.maxRatio) +
               " times its size of " + std::to_string(limits.archiveBytes) + " bytes";
        return kLimitExceeded;
    }
    return kOk;
}

int ExpansionGuard::add(std::uint64_t ABytes, std::string& AErr) {
    const int rc = wouldFit(ABytes, AErr);
    if (rc == kOk)
        bytes += ABytes;
    return rc;
}

int EntryRules::addData(std::uint64_t ABytes, std::int64_t AOffset, std::string& AErr) {
    // A sparse entry's offset can jump ahead; the file then still takes that much space.
    if (AOffset < 0 || std::uint64_t(AOffset) > limits.maxBytes ||
        ABytes > limits.maxBytes - std::uint64_t(AOffset)) {
        AErr = "archive expands beyond the size limit of " + std::to_string(limits.maxBytes) +
               " bytes";
        return kLimitExceeded;
    }
    return guard.add(ABytes, AErr);
}

// The entry's name, cleaned; empty for the archive's root itself.
int EntryRules::readName(archive_entry* AEntry, std::string& AName, std::string& AErr) const {
    const char* raw = archive_entry_pathname(AEntry);
    if (!raw)
        raw = archive_entry_pathname_utf8(AEntry);
    if (!CleanName(raw, AName, AErr))
        return kUnsafeEntry;
    if (!AName.empty() && AName.rfind(kReservedPrefix, 0) == 0) {
        AErr = "reserved name refused: " + AName;
        return kUnsafeEntry;
    }
    return kOk;
}

int EntryRules::checkKind(archive_entry* AEntry, const std::string& AName,
                          std::string& AErr) const {
    const mode_t type = archive_entry_filetype(AEntry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK &&
        !archive_entry_hardlink(AEntry)) {
        AErr = "special file refused: " + AName;
        return kUnsafeEntry;
    }
    if (archive_entry_perm(AEntry) & (S_ISUID | S_ISGID)) {
        AErr = "set-id bit refused: " + AName;
        return kUnsafeEntry;
    }
    return kOk;
}

// No entry may replace an earlier one or sit below a non-folder: that is how archives
// sneak writes through links.
int EntryRules::checkPlace(const std::string& AName, mode_t AType, std::string& AErr) const {
    const auto earlier = written.find(AName);
    if (earlier != written.end() && !(AType == AE_IFDIR && earlier->second == AE_IFDIR)) {
        AErr = "entry appears twice: " + AName;
        return kUnsafeEntry;
    }
    if (AType != AE_IFDIR && parents.count(AName)) {
        AErr = "entry clashes with a folder: " + AName;
        return kUnsafeEntry;
    }
    std::string prefix;
    for (const std::string& p : SplitPath(AName)) {
        if (!prefix.empty()) {
            const auto it = written.find(prefix);
            if (it != written.end() && it->second != AE_IFDIR) {
                AErr = "entry below a non-folder refused: " + AName;
                return kUnsafeEntry;
            }
        }
        prefix += prefix.empty() ? p : "/" + p;
    }
    return kOk;
}

// A hard link must name an earlier file of the archive (its target is rewritten cleaned); a
// symbolic link must stay inside the destination.
int EntryRules::checkLink(archive_entry* AEntry, const std::string& AName,
                          std::string& AErr) const {
    if (const char* hardlink = archive_entry_hardlink(AEntry)) {
        std::string target;
        if (!CleanName(hardlink, target, AErr) || target.empty()) {
            AErr = "hard link leaving the archive refused: " + AName;
            return kUnsafeEntry;
        }
        const auto it = written.find(target);
        if (it == written.end() || it->second != AE_IFREG) {
            AErr = "hard link to something not unpacked before refused: " + AName;
            return kUnsafeEntry;
        }
        archive_entry_set_hardlink(AEntry, target.c_str());
    } else if (archive_entry_filetype(AEntry) == AE_IFLNK &&
               !SafeLinkTarget(AName, archive_entry_symlink(AEntry))) {
        AErr = "link leaving the destination refused: " + AName;
        return kUnsafeEntry;
    }
    return kOk;
}

// A size announced in the header is refused before anything of it is written.
int EntryRules::checkAnnouncedSize(archive_entry* AEntry, std::string& AErr) const {
    if (archive_entry_filetype(AEntry) == AE_IFREG && !archive_entry_hardlink(AEntry) &&
        archive_entry_size_is_set(AEntry) && archive_entry_size(AEntry) > 0)
        return guard.wouldFit(std::uint64_t(archive_entry_size(AEntry)), AErr);
    return kOk;
}

void EntryRules::accept(archive_entry* AEntry, const std::string& AName, mode_t AType,
                        bool AHardLink) {
    // Owner may always read and write; nobody else writes; no sticky bit.
    const mode_t perm = archive_entry_perm(AEntry);
    archive_entry_set_perm(AEntry, (perm & 0755) | (AType == AE_IFDIR ? 0700 : 0600));
    archive_entry_set_pathname(AEntry, AName.c_str());
    written[AName] = AHardLink ? mode_t(AE_IFREG) : AType;
    const std::vector<std::string> parts = SplitPath(AName);
    std::string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix += prefix.empty() ? parts[i] : "/" + parts[i];
        parents.insert(prefix);
    }
}

int EntryRules::check(archive_entry* AEntry, bool& ASkip, std::string& AErr) {
    ASkip = false;
    if (++entries > limits.maxEntries) {
        AErr = "archive has more entries than allowed";
        return kLimitExceeded;
    }
    std::string name;
    int rc = readName(AEntry, name, AErr);
    if (rc != kOk)
        return rc;
    if (name.empty()) {
        ASkip = true; // the root folder itself: nothing to write
        return kOk;
    }
    const mode_t type = archive_entry_filetype(AEntry);
    const bool hardlink = archive_entry_hardlink(AEntry) != nullptr;
    rc = checkKind(AEntry, name, AErr);
    if (rc == kOk)
        rc = checkPlace(name, type, AErr);
    if (rc == kOk)
        rc = checkLink(AEntry, name, AErr);
    if (rc == kOk)
        rc = checkAnnouncedSize(AEntry, AErr);
    if (rc == kOk)
        accept(AEntry, name, type, hardlink);
    return rc;
}

} // namespace helper
