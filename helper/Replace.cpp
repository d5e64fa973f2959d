#include "Replace.h"

#include "FileStep.h"
#include "HelperArgs.h"
#include "OldProgram.h"
#include "StagedInstall.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace helper {

namespace {

std::string ErrText() {
    return std::strerror(errno);
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

// The old program's environment, or the helper's own when it could not be read.
std::vector<std::string> EnvironmentFor(const OldProgram& AOld) {
    std::vector<std::string> env = AOld.env;
    if (env.empty())
        for (char** e = environ; *e; ++e)
            env.push_back(*e);
    return env;
}

// Never start the application with the rights the helper was given for the copy.
bool DropRights(uid_t AUid) {
    if (::getuid() != 0 || AUid == 0)
        return true;
    const passwd* pw = ::getpwuid(AUid);
    const gid_t gid = pw ? pw->pw_gid : gid_t(AUid);
    return (pw ? ::initgroups(pw->pw_name, gid) == 0 : ::setgroups(0, nullptr) == 0) &&
           ::setgid(gid) == 0 && ::setuid(AUid) == 0;
}

// Runs in the forked child: everything it needs was prepared before the fork. An error number
// written to AErrFd tells the parent the program did not start.
[[noreturn]] void ExecDetached(char* const* AArgv, char* const* AEnvp, const std::string& ACwd,
                               uid_t AUid, int AErrFd) {
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
    if (DropRights(AUid)) {
        if (!ACwd.empty())
            (void)!::chdir(ACwd.c_str());
        ::execve(AArgv[0], AArgv, AEnvp);
    }
    const int err = errno;
    (void)!::write(AErrFd, &err, sizeof err);
    ::_exit(127);
}

// Starts AProgram detached; true once it has been executed (a pipe closed on exec tells).
bool StartProgram(const std::string& AProgram, const OldProgram& AOld, std::string& AErr) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        AErr = "cannot start " + AProgram + ": " + ErrText();
        return false;
    }
    std::vector<std::string> envStore = EnvironmentFor(AOld);
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
        ExecDetached(argv, envp.data(), AOld.cwd, uid, pipeFds[1]);
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

// Follow a link at the target's name: the program file itself is what gets replaced.
std::string ProgramFile(const std::string& ATarget) {
    struct stat st {};
    if (::lstat(ATarget.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        const std::string real = RealPath(ATarget);
        if (!real.empty())
            return real;
    }
    return ATarget;
}

// Copies ANew beside ATarget and renames it over ATarget, so the old program stands until the
// whole new one is there.
int PutNewProgram(const std::string& ANew, const std::string& ATarget, std::string& AErr) {
    const size_t slash = ATarget.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : ATarget.substr(0, slash);
    const std::string base = slash == std::string::npos ? ATarget : ATarget.substr(slash + 1);
    // The copy's name carries this helper's process id, so a later run knows it for a leftover
    // once this one is gone.
    const std::string tmpPrefix = "." + base + ".new-";
    RemoveStaleCopies(folder, tmpPrefix);
    std::string tmp = folder + "/" + tmpPrefix + std::to_string(::getpid()) + "-XXXXXX";
    FileStep();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        AErr = "cannot write beside " + ATarget + ": " + ErrText();
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
    if (::rename(tmp.c_str(), ATarget.c_str()) != 0) {
        AErr = "cannot replace " + ATarget + ": " + ErrText();
        ::unlink(tmp.c_str());
        return kReplaceFailed;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return kOk;
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
    int rc = WaitForExit(old, AWaitMs, AErr);
    if (rc != kOk)
        return rc;
    const std::string target = ProgramFile(ATarget);
    rc = PutNewProgram(ANew, target, AErr);
    if (rc != kOk)
        return rc;
    // The download is spent once it stands in place.
    if (RealPath(ANew) != target) {
        FileStep();
        ::unlink(ANew.c_str());
    }
    return StartProgram(ATarget, old, AErr) ? kOk : kStartFailed;
}

} // namespace helper
