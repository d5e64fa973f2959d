#include "OldProgram.h"

#include "ArchiveRules.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace helper {

namespace {

std::string ExeOf(pid_t APid) {
    char buf[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(APid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, size_t(n));
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

} // namespace

std::string RealPath(const std::string& APath) {
    char* r = ::realpath(APath.c_str(), nullptr);
    std::string out = r ? r : "";
    std::free(r);
    return out;
}

uid_t InvokingUid() {
    // Started through pkexec the helper runs as root on behalf of this user.
    const char* pk = std::getenv("PKEXEC_UID");
    if (::getuid() == 0 && pk && *pk)
        return uid_t(std::strtoul(pk, nullptr, 10));
    return ::getuid();
}

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

int WaitForExit(const OldProgram& AOld, int AWaitMs, std::string& AErr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
    for (pid_t pid : AOld.pids) {
        while (Alive(pid)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                AErr = "the running program (process " + std::to_string(pid) + ") did not exit";
                return kStillRunning;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return kOk;
}

} // namespace helper
