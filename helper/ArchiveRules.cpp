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

int EntryRules::check(archive_entry* AEntry, bool& ASkip, std::string& AErr) {
    ASkip = false;
    if (++entries > limits.maxEntries) {
        AErr = "archive has more entries than allowed";
        return kLimitExceeded;
    }
    std::string name;
    const char* raw = archive_entry_pathname(AEntry);
    if (!raw)
        raw = archive_entry_pathname_utf8(AEntry);
    if (!CleanName(raw, name, AErr))
        return kUnsafeEntry;
    if (name.empty()) {
        ASkip = true; // the root folder itself: nothing to write
        return kOk;
    }
    if (name.rfind(kReservedPrefix, 0) == 0) {
        AErr = "reserved name refused: " + name;
        return kUnsafeEntry;
    }
    const mode_t type = archive_entry_filetype(AEntry);
    const char* hardlink = archive_entry_hardlink(AEntry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK && !hardlink) {
        AErr = "special file refused: " + name;
        return kUnsafeEntry;
    }
    const mode_t perm = archive_entry_perm(AEntry);
    if (perm & (S_ISUID | S_ISGID)) {
        AErr = "set-id bit refused: " + name;
        return kUnsafeEntry;
    }
    // No entry may replace an earlier one or sit below a non-folder: that is how archives
    // sneak writes through links.
    const auto earlier = written.find(name);
    if (earlier != written.end() && !(type == AE_IFDIR && earlier->second == AE_IFDIR)) {
        AErr = "entry appears twice: " + name;
        return kUnsafeEntry;
    }
    if (type != AE_IFDIR && parents.count(name)) {
        AErr = "entry clashes with a folder: " + name;
        return kUnsafeEntry;
    }
    const std::vector<std::string> parts = SplitPath(name);
    std::string prefix;
    for (const std::string& p : parts) {
        if (!prefix.empty()) {
            const auto it = written.find(prefix);
            if (it != written.end() && it->second != AE_IFDIR) {
                AErr = "entry below a non-folder refused: " + name;
                return kUnsafeEntry;
            }
        }
        prefix += prefix.empty() ? p : "/" + p;
    }
    if (hardlink) {
        std::string target;
        if (!CleanName(hardlink, target, AErr) || target.empty()) {
            AErr = "hard link leaving the archive refused: " + name;
            return kUnsafeEntry;
        }
        const auto it = written.find(target);
        if (it == written.end() || it->second != AE_IFREG) {
            AErr = "hard link to something not unpacked before refused: " + name;
            return kUnsafeEntry;
        }
        archive_entry_set_hardlink(AEntry, target.c_str());
    } else if (type == AE_IFLNK && !SafeLinkTarget(name, archive_entry_symlink(AEntry))) {
        AErr = "link leaving the destination refused: " + name;
        return kUnsafeEntry;
    }
    // A size announced in the header is refused before anything of it is written.
    if (type == AE_IFREG && !hardlink && archive_entry_size_is_set(AEntry) &&
        archive_entry_size(AEntry) > 0) {
        const int rc = guard.wouldFit(std::uint64_t(archive_entry_size(AEntry)), AErr);
        if (rc != kOk)
            return rc;
    }
    // Owner may always read and write; nobody else writes; no sticky bit.
    archive_entry_set_perm(AEntry, (perm & 0755) | (type == AE_IFDIR ? 0700 : 0600));
    archive_entry_set_pathname(AEntry, name.c_str());
    written[name] = hardlink ? mode_t(AE_IFREG) : type;
    prefix.clear();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix += prefix.empty() ? parts[i] : "/" + parts[i];
        parents.insert(prefix);
    }
    return kOk;
}

} // namespace helper
