#include "Unpack.h"

#include "ArchiveRules.h"
#include "FileStep.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace helper {

namespace {

const std::string kStagingPrefix = std::string(kReservedPrefix) + "staging-";
const std::string kAsidePrefix = std::string(kReservedPrefix) + "old-";

void RemoveTree(const std::string& APath) {
    std::error_code ec;
    fs::remove_all(APath, ec); // never follows links
}

// libarchive leaves the error text unset for some failures, and names a failed write without
// the system's reason (a full disk, a quota).
std::string ErrorText(archive* AArchive) {
    const char* e = archive_error_string(AArchive);
    std::string text = e ? e : "unknown error";
    const int code = archive_errno(AArchive);
    if (code > 0 && text.find(std::strerror(code)) == std::string::npos)
        text += std::string(": ") + std::strerror(code);
    return text;
}

// libarchive's gzip reader doesn't check the trailer's CRC, so a damaged tar.gz would unpack
// "successfully". zlib checks it: one pass over the compressed file before unpacking, which
// also stops a gzip bomb before anything is written.
int VerifyGzip(const std::string& AArchive, const ArchiveLimits& ALimits, std::string& AErr) {
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
    // Tar headers and padding add a little to the content; allow for them.
    ArchiveLimits streamLimits = ALimits;
    streamLimits.maxBytes = ALimits.maxBytes + ALimits.maxBytes / 8 + (16u << 20);
    ExpansionGuard guard(streamLimits);
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
        rc = guard.add(std::uint64_t(got), AErr);
        if (rc != kOk)
            break;
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
    explicit Unpacker(const ArchiveLimits& ALimits) : limits(ALimits), rules(ALimits) {}

    int run(const std::string& AArchive, const std::string& ADest, std::string& AErr);

private:
    int extract(const std::string& AArchive, std::string& AErr);
    int moveIntoPlace(std::string& AErr);
    int makeProgramsRunnable(std::string& AErr);

    ArchiveLimits limits;
    EntryRules rules;
    std::string dest, staging;
};

int Unpacker::extract(const std::string& AArchive, std::string& AErr) {
    archive* in = archive_read_new();
    archive_read_support_filter_gzip(in);
    archive_read_support_format_zip(in);
    archive_read_support_format_tar(in);
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(
        out, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                 ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    int rc = VerifyGzip(AArchive, limits, AErr);
    if (rc == kOk && archive_read_open_filename(in, AArchive.c_str(), 1 << 16) != ARCHIVE_OK) {
        AErr = std::string("cannot read the archive: ") + ErrorText(in);
        rc = kArchiveUnreadable;
    }
    auto writeError = [&](archive_entry* AEntry) {
        AErr =
            std::string("cannot write ") + archive_entry_pathname(AEntry) + ": " + ErrorText(out);
        return kWriteFailed;
    };
    while (rc == kOk) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            AErr = std::string("damaged archive: ") + ErrorText(in);
            rc = kArchiveUnreadable;
            break;
        }
        bool skip = false;
        rc = rules.check(entry, skip, AErr);
        if (rc != kOk)
            break;
        if (skip)
            continue;
        FileStep();
        if (archive_write_header(out, entry) != ARCHIVE_OK) {
            rc = writeError(entry);
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
                AErr = std::string("damaged archive: ") + ErrorText(in);
                rc = kArchiveUnreadable;
                break;
            }
            rc = rules.addData(size, offset, AErr);
            if (rc != kOk)
                break;
            FileStep();
            if (archive_write_data_block(out, buf, size, offset) != ARCHIVE_OK) {
                rc = writeError(entry);
                break;
            }
        }
        if (rc == kOk) {
            FileStep();
            if (archive_write_finish_entry(out) != ARCHIVE_OK)
                rc = writeError(entry);
        }
    }
    if (archive_write_close(out) != ARCHIVE_OK && rc == kOk) {
        AErr = std::string("cannot finish writing: ") + ErrorText(out);
        rc = kWriteFailed;
    }
    archive_write_free(out);
    archive_read_close(in);
    archive_read_free(in);
    return rc;
}

// Archives made on other systems often carry ffmpeg without its executable bit; the program
// only works once its owner may run it. Nothing else changes mode.
int Unpacker::makeProgramsRunnable(std::string& AErr) {
    const std::string program = staging + "/ffmpeg";
    struct stat st {};
    if (::lstat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR))
        return kOk;
    FileStep();
    if (::chmod(program.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0) {
        AErr = "cannot make ffmpeg executable: " + std::string(std::strerror(errno));
        return kWriteFailed;
    }
    return kOk;
}

// Each top-level entry of the staging folder takes the place of its namesake in the
// destination in one step: a folder is swapped with the old one (RENAME_EXCHANGE), a file is
// renamed over the old one. Where the file system can't swap, the old folder is set aside
// under a name that a later run puts back if this one dies before the new folder stands.
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
    std::sort(names.begin(), names.end());

    enum class How { Renamed, Swapped, SetAside };
    struct Moved {
        std::string from, target, aside;
        How how;
    };
    std::vector<Moved> moved;
    auto rollBack = [&] {
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            if (it->how == How::Swapped) {
                ::renameat2(AT_FDCWD, it->from.c_str(), AT_FDCWD, it->target.c_str(),
                            RENAME_EXCHANGE);
                continue;
            }
            RemoveTree(it->target);
            if (it->how == How::SetAside)
                ::rename(it->aside.c_str(), it->target.c_str());
        }
    };
    for (const std::string& n : names) {
        const std::string from = staging + "/" + n, target = dest + "/" + n;
        struct stat oldSt {
        }, newSt{};
        ::lstat(from.c_str(), &newSt);
        Moved m{from, target, {}, How::Renamed};
        if (::lstat(target.c_str(), &oldSt) == 0 &&
            (S_ISDIR(oldSt.st_mode) || S_ISDIR(newSt.st_mode))) {
            // A folder can't be renamed over.
            FileStep();
            if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) ==
                0) {
                m.how = How::Swapped; // the old one now waits in the staging folder
                moved.push_back(m);
                continue;
            }
            if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                AErr = "cannot replace " + target + ": " + std::strerror(errno);
                rollBack();
                return kWriteFailed;
            }
            m.how = How::SetAside;
            m.aside = dest + "/" + kAsidePrefix + std::to_string(::getpid()) + "-" + n;
            RemoveTree(m.aside);
            FileStep();
            if (::rename(target.c_str(), m.aside.c_str()) != 0) {
                AErr = "cannot replace " + target + ": " + std::strerror(errno);
                rollBack();
                return kWriteFailed;
            }
        }
        FileStep();
        if (::rename(from.c_str(), target.c_str()) != 0) {
            AErr = "cannot move " + target + " into place: " + std::strerror(errno);
            if (m.how == How::SetAside)
                ::rename(m.aside.c_str(), target.c_str());
            rollBack();
            return kWriteFailed;
        }
        moved.push_back(m);
    }
    for (const Moved& m : moved)
        if (m.how == How::SetAside)
            RemoveTree(m.aside);
    const int fd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        FileStep();
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
    if (::stat(AArchive.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        limits.archiveBytes = std::uint64_t(st.st_size);
    rules = EntryRules(limits);

    std::string tmpl = dest + "/" + kStagingPrefix + std::to_string(::getpid()) + "-XXXXXX";
    FileStep();
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
        rc = makeProgramsRunnable(AErr);
    if (rc == kOk)
        rc = moveIntoPlace(AErr);
    FileStep();
    RemoveTree(staging);
    return rc;
}

} // namespace

void RemoveStaleStaging(const std::string& ADir) {
    DIR* dir = ::opendir(ADir.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir))
        for (const std::string& prefix : {kStagingPrefix, kAsidePrefix})
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
                ProcessGone(std::string(e->d_name + prefix.size())
                                .substr(0, std::strcspn(e->d_name + prefix.size(), "-"))))
                stale.push_back(e->d_name);
    ::closedir(dir);
    for (const std::string& s : stale) {
        const std::string path = ADir + "/" + s;
        if (s.rfind(kAsidePrefix, 0) == 0) {
            // Set aside by a run that died before the new folder stood: the old one goes back.
            const size_t dash = s.find('-', kAsidePrefix.size());
            const std::string original = ADir + "/" + s.substr(dash + 1);
            struct stat st {};
            if (dash != std::string::npos && ::lstat(original.c_str(), &st) != 0 &&
                ::rename(path.c_str(), original.c_str()) == 0)
                continue;
        }
        RemoveTree(path);
    }
}

bool ProcessGone(const std::string& APidText) {
    if (APidText.empty() || APidText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long pid = std::strtol(APidText.c_str(), nullptr, 10);
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

int Unpack(const std::string& AArchive, const std::string& ADest, std::uint64_t AMaxBytes,
           std::uint64_t AMaxEntries, std::string& AErr) {
    ArchiveLimits limits;
    limits.maxBytes = AMaxBytes;
    limits.maxEntries = AMaxEntries;
    Unpacker u(limits);
    return u.run(AArchive, ADest, AErr);
}

} // namespace helper
