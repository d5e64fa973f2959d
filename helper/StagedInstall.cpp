#include "StagedInstall.h"

#include "ArchiveRules.h"
#include "FileStep.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace helper {

namespace {

void SyncFolder(const std::string& APath) {
    const int fd = ::open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        FileStep();
        ::fsync(fd);
        ::close(fd);
    }
}

enum class How { Renamed, Swapped, SetAside };
struct Placed {
    std::string from, target, aside;
    How how = How::Renamed;
};

// Puts AFrom in the place of ADir/AName in one step: the new entry is swapped with the old one
// (RENAME_EXCHANGE), so the old one waits where the new one was. Where the file system can't
// swap, the old entry is first set aside under a name that a later run clears or puts back.
bool PutInPlace(const std::string& ADir, const std::string& AName, const std::string& AFrom,
                Placed& AOut, std::string& AErr) {
    AOut = Placed{AFrom, ADir + "/" + AName, {}, How::Renamed};
    const char* target = AOut.target.c_str();
    struct stat st {};
    if (::lstat(target, &st) == 0) {
        FileStep();
        errno = EINVAL;
        if (!ExchangeRefused() &&
            ::renameat2(AT_FDCWD, AFrom.c_str(), AT_FDCWD, target, RENAME_EXCHANGE) == 0) {
            AOut.how = How::Swapped;
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            AErr = "cannot replace " + AOut.target + ": " + std::strerror(errno);
            return false;
        }
        AOut.how = How::SetAside;
        AOut.aside = ADir + "/" + kAsidePrefix + std::to_string(::getpid()) + "-" + AName;
        RemoveTree(AOut.aside);
        FileStep();
        if (::rename(target, AOut.aside.c_str()) != 0) {
            AErr = "cannot replace " + AOut.target + ": " + std::strerror(errno);
            return false;
        }
    }
    FileStep();
    if (::rename(AFrom.c_str(), target) != 0) {
        AErr = "cannot move " + AOut.target + " into place: " + std::strerror(errno);
        if (AOut.how == How::SetAside)
            ::rename(AOut.aside.c_str(), target);
        return false;
    }
    return true;
}

// Undoes PutInPlace after a later entry failed.
void PutBack(const Placed& AMoved) {
    if (AMoved.how == How::Swapped) {
        ::renameat2(AT_FDCWD, AMoved.from.c_str(), AT_FDCWD, AMoved.target.c_str(),
                    RENAME_EXCHANGE);
        return;
    }
    RemoveTree(AMoved.target);
    if (AMoved.how == How::SetAside)
        ::rename(AMoved.aside.c_str(), AMoved.target.c_str());
}

void RemoveSetAside(const std::vector<Placed>& AMoved) {
    for (const Placed& m : AMoved)
        if (m.how == How::SetAside) {
            FileStep();
            RemoveTree(m.aside);
        }
}

// The journal: one record "DEVICE INODE NAME" per entry, each ended by a NUL. After a crash
// the inode tells whether an entry already stands in the destination or still waits in the
// staging folder. Written in full under another name first, so it is either whole or absent.
bool WriteJournal(const std::string& AStaging, const std::vector<std::string>& ANames,
                  std::string& AErr) {
    std::string text;
    for (const std::string& n : ANames) {
        struct stat st {};
        if (::lstat((AStaging + "/" + n).c_str(), &st) != 0) {
            AErr = "cannot read the staging folder: " + std::string(std::strerror(errno));
            return false;
        }
        text += std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + n + '\0';
    }
    const std::string journal = AStaging + "/" + kJournalName, part = journal + ".part";
    FileStep();
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? size_t(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0 && ::close(fd) != 0)
        ok = false;
    if (ok) {
        FileStep();
        ok = ::rename(part.c_str(), journal.c_str()) == 0;
    }
    if (!ok) {
        AErr = "cannot write the install journal: " + std::string(std::strerror(errno));
        return false;
    }
    SyncFolder(AStaging);
    return true;
}

struct JournalEntry {
    unsigned long long dev = 0, ino = 0;
    std::string name;
};

// False when there is no journal, or one this helper did not write whole.
bool ReadJournal(const std::string& APath, std::vector<JournalEntry>& AOut) {
    FILE* f = std::fopen(APath.c_str(), "rb");
    if (!f)
        return false;
    std::string text;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (16u << 20))
        text.append(buf, n);
    std::fclose(f);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos)
            return false;
        const std::string record = text.substr(at, end - at);
        at = end + 1;
        JournalEntry e;
        int used = 0;
        if (std::sscanf(record.c_str(), "%llu %llu %n", &e.dev, &e.ino, &used) != 2 || used <= 0)
            return false;
        e.name = record.substr(size_t(used));
        // One plain name inside the folder, never a path or one of the helper's own.
        if (e.name.empty() || e.name == "." || e.name == ".." ||
            e.name.find('/') != std::string::npos || e.name.rfind(kReservedPrefix, 0) == 0)
            return false;
        AOut.push_back(e);
    }
    return true;
}

bool Is(const std::string& APath, const JournalEntry& AEntry) {
    struct stat st {};
    return ::lstat(APath.c_str(), &st) == 0 && st.st_dev == dev_t(AEntry.dev) &&
           st.st_ino == ino_t(AEntry.ino);
}

// Completes the moves of a run that died after writing its journal in AStaging: the archive
// was whole by then, so the new component is put in place rather than the old one kept.
bool RollForward(const std::string& ADir, const std::string& AStaging, std::string& AErr) {
    std::vector<JournalEntry> entries;
    if (!ReadJournal(AStaging + "/" + kJournalName, entries))
        return true; // died while unpacking: the old component never moved
    std::vector<Placed> moved;
    for (const JournalEntry& e : entries) {
        const std::string from = AStaging + "/" + e.name;
        // Already in place, or gone: what stands is left as it is.
        if (Is(ADir + "/" + e.name, e) || !Is(from, e))
            continue;
        Placed p;
        if (!PutInPlace(ADir, e.name, from, p, AErr))
            return false;
        moved.push_back(p);
    }
    RemoveSetAside(moved);
    SyncFolder(ADir);
    return true;
}

} // namespace

void RemoveTree(const std::string& APath) {
    std::error_code ec;
    fs::remove_all(APath, ec); // never follows links
}

bool RealFolder(const std::string& APath, std::string& AOut) {
    char* real = ::realpath(APath.c_str(), nullptr);
    struct stat st {};
    const bool ok = real && ::stat(real, &st) == 0 && S_ISDIR(st.st_mode);
    if (ok)
        AOut = real;
    std::free(real);
    return ok;
}

// Each top-level entry of the staging folder takes the place of its namesake in the
// destination. The journal written first lets a later run finish the moves if this one dies
// between two of them, so the destination never keeps a mix of old and new entries.
int MoveIntoPlace(const std::string& AStaging, const std::string& ADest, std::string& AErr) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(AStaging.c_str());
    if (!dir) {
        AErr = "cannot list the staging folder: " + std::string(std::strerror(errno));
        return kWriteFailed;
    }
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..") &&
            std::strncmp(e->d_name, kReservedPrefix, std::strlen(kReservedPrefix)))
            names.push_back(e->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    if (!WriteJournal(AStaging, names, AErr))
        return kWriteFailed;

    std::vector<Placed> moved;
    for (const std::string& n : names) {
        Placed p;
        if (!PutInPlace(ADest, n, AStaging + "/" + n, p, AErr)) {
            for (auto it = moved.rbegin(); it != moved.rend(); ++it)
                PutBack(*it);
            // Every old entry stands again: nothing is left for a later run to finish.
            ::unlink((AStaging + "/" + kJournalName).c_str());
            return kWriteFailed;
        }
        moved.push_back(p);
    }
    RemoveSetAside(moved);
    SyncFolder(ADest);
    return kOk;
}

int FinishInterrupted(const std::string& ADir, std::string& AErr) {
    DIR* dir = ::opendir(ADir.c_str());
    if (!dir)
        return kOk;
    std::vector<std::string> stagings, asides;
    while (dirent* e = ::readdir(dir))
        for (const char* prefix : {kStagingPrefix, kAsidePrefix}) {
            const size_t len = std::strlen(prefix);
            if (std::strncmp(e->d_name, prefix, len) == 0 &&
                ProcessGone(
                    std::string(e->d_name + len).substr(0, std::strcspn(e->d_name + len, "-"))))
                (prefix == kStagingPrefix ? stagings : asides).push_back(e->d_name);
        }
    ::closedir(dir);
    std::sort(stagings.begin(), stagings.end());
    int rc = kOk;
    for (const std::string& s : stagings) {
        const std::string path = ADir + "/" + s;
        if (!RollForward(ADir, path, AErr)) {
            rc = kWriteFailed; // the journal stays for the next run
            continue;
        }
        FileStep();
        RemoveTree(path);
    }
    for (const std::string& s : asides) {
        const std::string path = ADir + "/" + s;
        // Set aside by a run that died before anything took its place: the old entry goes back.
        const size_t dash = s.find('-', std::strlen(kAsidePrefix));
        if (dash != std::string::npos) {
            const std::string original = ADir + "/" + s.substr(dash + 1);
            struct stat st {};
            if (::lstat(original.c_str(), &st) != 0) {
                FileStep();
                if (::rename(path.c_str(), original.c_str()) == 0)
                    continue;
            }
        }
        FileStep();
        RemoveTree(path);
    }
    return rc;
}

int FinishInterruptedInstall(const std::string& ADest, std::string& AErr) {
    std::string dir;
    if (!RealFolder(ADest, dir)) {
        AErr = "destination is not a folder: " + ADest;
        return kWriteFailed;
    }
    return FinishInterrupted(dir, AErr);
}

bool ProcessGone(const std::string& APidText) {
    if (APidText.empty() || APidText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long pid = std::strtol(APidText.c_str(), nullptr, 10);
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace helper
