#include "Replace.h"

#include "FileStep.h"
#include "HelperArgs.h"
#include "Unpack.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace helper {

namespace {

std::string ErrText() {
    return std::strerror(errno);
}

std::string RealPath(const std::string& APath) {
    char* r = ::realpath(APath.c_str(), nullptr);
    std::string out = r ? r : "";
    std::free(r);
    return out;
}

std::string ExeOf(pid_t APid) {
    char buf[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(APid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, size_t(n));
}

uid_t InvokingUid() {
    // Started through pkexec the helper runs as root on behalf of this user.
    const char* pk = std::getenv("PKEXEC_UID");
    if (::getuid() == 0 && pk && *pk)
        return uid_t(std::strtoul(pk, nullptr, 10));
    return ::getuid();
}

uid_t OwnerOf(pid_t APid) {
    struct stat st {};
    const std::string dir = "/proc/" + std::to_string(APid);
    return ::stat(dir.c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
}

std::vector<pid_t> ProcessesRunning(const std::string& AExe) {
    std::vector<pid_t> out;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return out;
    const uid_t uid = InvokingUid();
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (!*n || std::strspn(n, "0123456789") != std::strlen(n))
            continue;
        const pid_t pid = pid_t(std::strtol(n, nullptr, 10));
        if (pid == ::getpid() || OwnerOf(pid) != uid)
            continue;
        if (ExeOf(pid) == AExe)
            out.push_back(pid);
    }
    ::closedir(dir);
    return out;
}

// A process that has ended but not yet been reaped by its parent counts as gone.
bool Alive(pid_t APid) {
    if (::kill(APid, 0) != 0 && errno != EPERM)
        return false;
    std::ifstream in("/proc/" + std::to_string(APid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return true;
    const size_t close = stat.rfind(')');
    const char state =
        close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
    return state != 'Z' && state != 'X';
}

// The environment of a process, as it was when it started.
std::vector<std::string> EnvironmentOf(pid_t APid) {
    std::vector<std::string> out;
    std::ifstream in("/proc/" + std::to_string(APid) + "/environ", std::ios::binary);
    std::string item;
    while (std::getline(in, item, '\0'))
        if (!item.empty())
            out.push_back(item);
    return out;
}

struct OldProgram {
    std::vector<pid_t> pids;
    std::vector<std::string> env;
    std::string cwd;
};

OldProgram FindOldProgram(const std::string& ARunning) {
    OldProgram old;
    if (!ARunning.empty() && std::strspn(ARunning.c_str(), "0123456789") == ARunning.size()) {
        old.pids.push_back(pid_t(std::strtol(ARunning.c_str(), nullptr, 10)));
    } else {
        const std::string exe = RealPath(ARunning);
        const pid_t parent = ::getppid();
        if (!exe.empty() && parent > 1 && ExeOf(parent) == exe)
            old.pids.push_back(parent);
        else if (!exe.empty())
            old.pids = ProcessesRunning(exe);
    }
    if (!old.pids.empty()) {
        old.env = EnvironmentOf(old.pids.front());
        old.cwd = RealPath("/proc/" + std::to_string(old.pids.front()) + "/cwd");
    }
    return old;
}

bool CopyAndFlush(const std::string& AFrom, int AToFd, std::string& AErr) {
    const int in = ::open(AFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        AErr = "cannot read " + AFrom + ": " + ErrText();
        return false;
    }
    std::vector<char> buf(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            AErr = "cannot read " + AFrom + ": " + ErrText();
            ok = false;
            break;
        }
        if (n == 0)
            break;
        FileStep();
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(AToFd, buf.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                AErr = "cannot write the new program: " + ErrText();
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    ::close(in);
    if (ok)
        FileStep();
    if (ok && ::fchmod(AToFd, 0755) != 0) {
        AErr = "cannot make the new program executable: " + ErrText();
        ok = false;
    }
    if (ok)
        FileStep();
    if (ok && ::fsync(AToFd) != 0) {
        AErr = "cannot flush the new program: " + ErrText();
        ok = false;
    }
    return ok;
}

// Starts AProgram detached; true once it has been executed (a pipe closed on exec tells).
bool StartProgram(const std::string& AProgram, const OldProgram& AOld, std::string& AErr) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        AErr = "cannot start " + AProgram + ": " + ErrText();
        return false;
    }
    std::vector<std::string> envStore = AOld.env;
    if (envStore.empty())
        for (char** e = environ; *e; ++e)
            envStore.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string prog = AProgram;
    char* argv[] = {prog.data(), nullptr};
    const uid_t uid = InvokingUid();

    const pid_t child = ::fork();
    if (child < 0) {
        AErr = "cannot start " + AProgram + ": " + ErrText();
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        // A grandchild, so the new program is nobody's zombie and outlives the helper.
        const pid_t grand = ::fork();
        if (grand != 0)
            ::_exit(grand < 0 ? 127 : 0);
        ::setsid();
        const int nul = ::open("/dev/null", O_RDWR);
        if (nul >= 0) {
            ::dup2(nul, STDIN_FILENO);
            if (nul > STDERR_FILENO)
                ::close(nul);
        }
        // Never start the application with the rights the helper was given for the copy.
        if (::getuid() == 0 && uid != 0) {
            const passwd* pw = ::getpwuid(uid);
            const gid_t gid = pw ? pw->pw_gid : gid_t(uid);
            const bool dropped =
                (pw ? ::initgroups(pw->pw_name, gid) == 0 : ::setgroups(0, nullptr) == 0) &&
                ::setgid(gid) == 0 && ::setuid(uid) == 0;
            if (!dropped) {
                const int err = errno;
                (void)!::write(pipeFds[1], &err, sizeof err);
                ::_exit(127);
            }
        }
        if (!AOld.cwd.empty())
            (void)!::chdir(AOld.cwd.c_str());
        ::execve(prog.c_str(), argv, envp.data());
        const int err = errno;
        (void)!::write(pipeFds[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    int childErr = 0;
    const ssize_t n = ::read(pipeFds[0], &childErr, sizeof childErr);
    ::close(pipeFds[0]);
    if (n > 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        AErr = "cannot start " + AProgram + ": " +
               std::string(n > 0 ? std::strerror(childErr) : "fork failed");
        return false;
    }
    return true;
}

// Copies left beside the program by helpers that were stopped half-way.
void RemoveStaleCopies(const std::string& AFolder, const std::string& APrefix) {
    DIR* dir = ::opendir(AFolder.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, APrefix.c_str(), APrefix.size()) != 0)
            continue;
        const char* rest = e->d_name + APrefix.size();
        if (ProcessGone(std::string(rest, std::strcspn(rest, "-"))))
            stale.push_back(AFolder + "/" + e->d_name);
    }
    ::closedir(dir);
    for (const std::string& s : stale)
        ::unlink(s.c_str());
}

} // namespace

int ReplaceProgram(const std::string& ATarget, const std::string& ANew, const std::string& ARunning,
                   int AWaitMs, std::string& AErr) {
    struct stat st {};
    if (::stat(ANew.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        AErr = "the new program is missing or empty: " + ANew;
        return kReplaceFailed;
    }
    const OldProgram old = FindOldProgram(ARunning);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
    for (pid_t pid : old.pids) {
        while (Alive(pid)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                AErr = "the running program (process " + std::to_string(pid) + ") did not exit";
                return kStillRunning;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Follow a link at the target's name: the program file itself is what gets replaced.
    std::string target = ATarget;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const std::string real = RealPath(target);
        if (!real.empty())
            target = real;
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // The copy's name carries this helper's process id, so a later run knows it for a leftover
    // once this one is gone.
    const std::string tmpPrefix = "." + base + ".new-";
    RemoveStaleCopies(folder, tmpPrefix);
    std::string tmp = folder + "/" + tmpPrefix + std::to_string(::getpid()) + "-XXXXXX";
    FileStep();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        AErr = "cannot write beside " + target + ": " + ErrText();
        return kReplaceFailed;
    }
    const bool copied = CopyAndFlush(ANew, fd, AErr);
    const bool closed = ::close(fd) == 0;
    if (!copied || !closed) {
        if (copied)
            AErr = "cannot write the new program: " + ErrText();
        ::unlink(tmp.c_str());
        return kReplaceFailed;
    }
    FileStep();
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        AErr = "cannot replace " + target + ": " + ErrText();
        ::unlink(tmp.c_str());
        return kReplaceFailed;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    // The download is spent once it stands in place.
    if (RealPath(ANew) != target) {
        FileStep();
        ::unlink(ANew.c_str());
    }
    return StartProgram(ATarget, old, AErr) ? kOk : kStartFailed;
}

} // namespace helper
