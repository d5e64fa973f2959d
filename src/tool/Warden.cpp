#include "Warden.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halvora {

namespace {

struct Record {
    pid_t pid;
    int graceMs; // 0: forget the pid
};

constexpr int kMaxWatched = 256;

void SleepMs(int AMs) {
    timespec t{AMs / 1000, (AMs % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// The warden's whole life; only async-signal-safe calls, since it is a fork of a program
// with other threads. Every signal stays blocked, as on the thread it was forked from.
[[noreturn]] void WardenMain(int AFd) {
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    // Holds no pipe or file of the program: whoever waits for their end is not kept waiting.
    for (int fd = 3; fd < 4096; ++fd)
        if (fd != AFd)
            ::close(fd);
    Record watched[kMaxWatched];
    int count = 0;
    Record r{};
    while (::read(AFd, &r, sizeof r) == static_cast<ssize_t>(sizeof r)) {
        for (int i = 0; i < count; ++i)
            if (watched[i].pid == r.pid)
                watched[i] = watched[--count];
        if (r.graceMs > 0 && count < kMaxWatched)
            watched[count++] = r;
    }
    // The program is gone: its children got their death signal; the slow ones are ended.
    for (int waited = 0; count > 0; waited += 50) {
        for (int i = 0; i < count;) {
            if (::kill(watched[i].pid, 0) != 0) {
                watched[i] = watched[--count];
            } else if (waited >= watched[i].graceMs) {
                ::kill(watched[i].pid, SIGKILL);
                watched[i] = watched[--count];
            } else {
                ++i;
            }
        }
        SleepMs(50);
    }
    ::_exit(0);
}

std::atomic<int> GPipe{-1};

int StartWarden() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    // Forked twice, so it is no child of the program: nobody waits for it or counts it.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[1]);
        if (::fork() == 0) {
            ::prctl(PR_SET_NAME, "halvora-warden");
            WardenMain(fds[0]);
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || !WIFEXITED(status)) {
        ::close(fds[1]);
        return -1;
    }
    return fds[1];
}

bool Send(const Record& ARecord) {
    const int fd = GPipe.load();
    return fd >= 0 && ::write(fd, &ARecord, sizeof ARecord) == static_cast<ssize_t>(sizeof ARecord);
}

} // namespace

bool WardenWatch(pid_t APid, int AGraceMs) {
    if (GPipe.load() < 0)
        GPipe.store(StartWarden());
    return Send({APid, AGraceMs});
}

void WardenForget(pid_t APid) {
    Send({APid, 0});
}

} // namespace halvora
