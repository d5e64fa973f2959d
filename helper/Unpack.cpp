#include "Unpack.h"

#include "HelperArgs.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace helper {

namespace {

const char kStagingPrefix[] = ".updater-staging-";
const char kAsidePrefix[] = ".updater-old-";

void RemoveTree(const std::string& APath) {
    std::error_code ec;
    fs::remove_all(APath, ec); // never follows links
}

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

// A member name made safe: relative, no "..", "." dropped, no backslash (a Windows separator
// that would mean something else here). Empty result for the archive's root itself.
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

bool ProcessGone(const std::string& APidText) {
    if (APidText.empty() || APidText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long pid = std::strtol(APidText.c_str(), nullptr, 10);
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// libarchive's gzip reader doesn't check the trailer's CRC, so a damaged tar.gz would unpack
// "successfully". zlib checks it: one pass over the compressed file before unpacking, which
// also stops a gzip bomb before anything is written.
int VerifyGzip(const std::string& AArchive, std::uint64_t AMaxBytes, std::string& AErr) {
    unsigned char magic[2] = {};
    FILE* f = std::fopen(AArchive.c_str(), "rb");
    if (!f) {
        AErr = "cannot read the archive: " + std::string(std::strerror(errno));
        return kArchiveUnreadable;
    }
    const size_t n = std::fread(magic, 1, 2, f);
    std::fclose(f);
    if (n != 2 || magic[0] != 0x1f || magic[1] != 0x8b)
        return kOk; // not gzip: zip carries its own checks
    gzFile gz = gzopen(AArchive.c_str(), "rb");
    if (!gz) {
        AErr = "cannot read the archive";
        return kArchiveUnreadable;
    }
    gzbuffer(gz, 1 << 17);
    std::vector<char> buf(1 << 18);
    std::uint64_t total = 0;
    int rc = kOk;
    for (;;) {
        const int got = gzread(gz, buf.data(), unsigned(buf.size()));
        if (got < 0) {
            int code = 0;
            AErr = std::string("damaged archive: ") + gzerror(gz, &code);
            rc = kArchiveUnreadable;
            break;
        }
        if (got == 0)
            break;
        total += std::uint64_t(got);
        // Tar headers and padding add a little to the content; allow for them.
        if (total > AMaxBytes + AMaxBytes / 8 + (16u << 20)) {
            AErr = "archive expands beyond the size limit";
            rc = kLimitExceeded;
            break;
        }
    }
    if (rc == kOk && !gzeof(gz)) {
        AErr = "damaged archive: unexpected end of data";
        rc = kArchiveUnreadable;
    }
    gzclose(gz);
    return rc;
}

class Unpacker {
public:
    Unpacker(std::uint64_t AMaxBytes, std::uint64_t AMaxEntries)
        : maxBytes(AMaxBytes), maxEntries(AMaxEntries) {}

    int run(const std::string& AArchive, const std::string& ADest, std::string& AErr);

private:
    int extract(const std::string& AArchive, std::string& AErr);
    int checkEntry(archive_entry* AEntry, bool& ASkip, std::string& AErr);
    int moveIntoPlace(std::string& AErr);

    std::uint64_t maxBytes, maxEntries;
    std::uint64_t totalBytes = 0, entries = 0;
    std::string dest, staging;
    std::map<std::string, mode_t> written; // entry name -> file type
    std::set<std::string> parents;         // folders that entries were written into
};

int Unpacker::checkEntry(archive_entry* AEntry, bool& ASkip, std::string& AErr) {
    ASkip = false;
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
    if (name.rfind(".updater-", 0) == 0) {
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
    std::string prefix;
    for (const std::string& p : SplitPath(name)) {
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
    if (type == AE_IFREG && archive_entry_size_is_set(AEntry) && archive_entry_size(AEntry) > 0 &&
        std::uint64_t(archive_entry_size(AEntry)) > maxBytes - totalBytes) {
        AErr = "archive expands beyond the size limit";
        return kLimitExceeded;
    }
    // Owner may always read and write; nobody else writes; no sticky bit.
    archive_entry_set_perm(AEntry, (perm & 0755) | (type == AE_IFDIR ? 0700 : 0600));
    archive_entry_set_pathname(AEntry, name.c_str());
    written[name] = hardlink ? mode_t(AE_IFREG) : type;
    prefix.clear();
    const std::vector<std::string> parts = SplitPath(name);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix += prefix.empty() ? parts[i] : "/" + parts[i];
        parents.insert(prefix);
    }
    return kOk;
}

int Unpacker::extract(const std::string& AArchive, std::string& AErr) {
    archive* in = archive_read_new();
    archive_read_support_filter_gzip(in);
    archive_read_support_format_zip(in);
    archive_read_support_format_tar(in);
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(
        out, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                 ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    int rc = VerifyGzip(AArchive, maxBytes, AErr);
    if (rc == kOk && archive_read_open_filename(in, AArchive.c_str(), 1 << 16) != ARCHIVE_OK) {
        AErr = std::string("cannot read the archive: ") + archive_error_string(in);
        rc = kArchiveUnreadable;
    }
    while (rc == kOk) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            AErr = std::string("damaged archive: ") + archive_error_string(in);
            rc = kArchiveUnreadable;
            break;
        }
        if (++entries > maxEntries) {
            AErr = "archive has more entries than allowed";
            rc = kLimitExceeded;
            break;
        }
        bool skip = false;
        rc = checkEntry(entry, skip, AErr);
        if (rc != kOk)
            break;
        if (skip)
            continue;
        if (archive_write_header(out, entry) != ARCHIVE_OK) {
            AErr = std::string("cannot write ") + archive_entry_pathname(entry) + ": " +
                   archive_error_string(out);
            rc = kWriteFailed;
            break;
        }
        for (;;) {
            const void* buf = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int d = archive_read_data_block(in, &buf, &size, &offset);
            if (d == ARCHIVE_EOF)
                break;
            if (d != ARCHIVE_OK) {
                // Warnings too: a bad CRC is only a warning to libarchive.
                AErr = std::string("damaged archive: ") + archive_error_string(in);
                rc = kArchiveUnreadable;
                break;
            }
            totalBytes += size;
            if (totalBytes > maxBytes || offset < 0 || std::uint64_t(offset) + size > maxBytes) {
                AErr = "archive expands beyond the size limit";
                rc = kLimitExceeded;
                break;
            }
            if (archive_write_data_block(out, buf, size, offset) != ARCHIVE_OK) {
                AErr = std::string("cannot write ") + archive_entry_pathname(entry) + ": " +
                       archive_error_string(out);
                rc = kWriteFailed;
                break;
            }
        }
        if (rc == kOk && archive_write_finish_entry(out) != ARCHIVE_OK) {
            AErr = std::string("cannot write ") + archive_entry_pathname(entry) + ": " +
                   archive_error_string(out);
            rc = kWriteFailed;
        }
    }
    if (archive_write_close(out) != ARCHIVE_OK && rc == kOk) {
        AErr = std::string("cannot finish writing: ") + archive_error_string(out);
        rc = kWriteFailed;
    }
    archive_write_free(out);
    archive_read_close(in);
    archive_read_free(in);
    return rc;
}

int Unpacker::moveIntoPlace(std::string& AErr) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(staging.c_str());
    if (!dir) {
        AErr = "cannot list the staging folder: " + std::string(std::strerror(errno));
        return kWriteFailed;
    }
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
            names.push_back(e->d_name);
    ::closedir(dir);

    struct Moved {
        std::string target, aside; // aside empty: nothing stood there before
    };
    std::vector<Moved> moved;
    auto rollBack = [&] {
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            RemoveTree(it->target);
            if (!it->aside.empty())
                ::rename(it->aside.c_str(), it->target.c_str());
        }
    };
    for (const std::string& n : names) {
        const std::string from = staging + "/" + n, target = dest + "/" + n;
        struct stat oldSt {
        }, newSt{};
        ::lstat(from.c_str(), &newSt);
        Moved m{target, {}};
        if (::lstat(target.c_str(), &oldSt) == 0 &&
            (S_ISDIR(oldSt.st_mode) || S_ISDIR(newSt.st_mode))) {
            // A folder can't be renamed over; set the old one aside until the new one stands.
            m.aside = dest + "/" + kAsidePrefix + std::to_string(::getpid()) + "-" + n;
            RemoveTree(m.aside);
            if (::rename(target.c_str(), m.aside.c_str()) != 0) {
                AErr = "cannot replace " + target + ": " + std::strerror(errno);
                rollBack();
                return kWriteFailed;
            }
        }
        if (::rename(from.c_str(), target.c_str()) != 0) {
            AErr = "cannot move " + target + " into place: " + std::strerror(errno);
            if (!m.aside.empty())
                ::rename(m.aside.c_str(), target.c_str());
            rollBack();
            return kWriteFailed;
        }
        moved.push_back(m);
    }
    for (const Moved& m : moved)
        if (!m.aside.empty())
            RemoveTree(m.aside);
    const int fd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return kOk;
}

int Unpacker::run(const std::string& AArchive, const std::string& ADest, std::string& AErr) {
    char* real = ::realpath(ADest.c_str(), nullptr);
    struct stat st {};
    if (!real || ::stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
        AErr = "destination is not a folder: " + ADest;
        std::free(real);
        return kWriteFailed;
    }
    dest = real;
    std::free(real);
    RemoveStaleStaging(dest);

    std::string tmpl = dest + "/" + kStagingPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        AErr = "cannot create a staging folder in " + dest + ": " + std::strerror(errno);
        return kWriteFailed;
    }
    staging = tmpl;
    // The disk writer works relative to the current folder.
    const int cwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int rc = kWriteFailed;
    if (::chdir(staging.c_str()) == 0) {
        rc = extract(AArchive, AErr);
        if (cwd >= 0 && ::fchdir(cwd) != 0 && rc == kOk) {
            AErr = "cannot return to the working folder";
            rc = kWriteFailed;
        }
    } else {
        AErr = "cannot enter the staging folder: " + std::string(std::strerror(errno));
    }
    if (cwd >= 0)
        ::close(cwd);
    if (rc == kOk)
        rc = moveIntoPlace(AErr);
    RemoveTree(staging);
    return rc;
}

} // namespace

void RemoveStaleStaging(const std::string& ADir) {
    DIR* dir = ::opendir(ADir.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        for (const std::string prefix : {kStagingPrefix, kAsidePrefix}) {
            if (n.rfind(prefix, 0) != 0)
                continue;
            const std::string rest = n.substr(prefix.size());
            if (ProcessGone(rest.substr(0, rest.find('-'))))
                stale.push_back(ADir + "/" + n);
        }
    }
    ::closedir(dir);
    for (const std::string& s : stale)
        RemoveTree(s);
}

int Unpack(const std::string& AArchive, const std::string& ADest, std::uint64_t AMaxBytes,
           std::uint64_t AMaxEntries, std::string& AErr) {
    Unpacker u(AMaxBytes, AMaxEntries);
    return u.run(AArchive, ADest, AErr);
}

} // namespace helper
