#include "Process.h"

#include "AppPaths.h"
#include "Spawn.h"
#include "Warden.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <set>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace halvora {

namespace {

using Clock = std::chrono::steady_clock;

bool IsRunnableFile(const QString& APath) {
    struct stat st {};
    const QByteArray p = QFile::encodeName(APath);
    return ::stat(p.constData(), &st) == 0 && !S_ISDIR(st.st_mode) &&
           ::access(p.constData(), X_OK) == 0;
}

int ExitCodeOf(int AStatus) {
    if (WIFEXITED(AStatus))
        return WEXITSTATUS(AStatus);
    if (WIFSIGNALED(AStatus))
        return 128 + WTERMSIG(AStatus);
    return kRunNotStarted;
}

int OpenPidFd(pid_t APid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, APid, 0));
#else
    (void)APid;
    return -1;
#endif
}

// Splits the child's stderr into lines; ffmpeg ends progress lines with '\r'.
class LineSplitter {
public:
    explicit LineSplitter(const std::function<void(const QString&)>& ASink) : FSink(ASink) {}
    void feed(const char* AData, ssize_t ALen) {
        for (ssize_t i = 0; i < ALen; ++i) {
            const char c = AData[i];
            if (c == '\n' || c == '\r') {
                flush();
            } else {
                FBuf.append(c);
            }
        }
    }
    void flush() {
        if (!FBuf.isEmpty())
            FSink(QString::fromUtf8(FBuf));
        FBuf.clear();
    }

private:
    const std::function<void(const QString&)>& FSink;
    QByteArray FBuf;
};

// Reads what is available without blocking; false at end of file. Reads at most a bounded
// amount per call, so a child that writes faster than its lines are handled can't keep the
// caller from its time limit and its onWait calls.
bool DrainPipe(int AFd, LineSplitter& ALines, int AMaxReads = 64) {
    char buf[4096];
    for (int reads = 0; reads < AMaxReads; ++reads) {
        const ssize_t n = ::read(AFd, buf, sizeof buf);
        if (n > 0) {
            ALines.feed(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

// Children a run waits for, so that none outlives the program.
std::mutex GChildLock;
std::set<pid_t>& Children() {
    static std::set<pid_t> children;
    return children;
}

struct ChildEntry {
    explicit ChildEntry(pid_t APid) : pid(APid) {
        std::lock_guard<std::mutex> g(GChildLock);
        Children().insert(pid);
    }
    ~ChildEntry() {
        std::lock_guard<std::mutex> g(GChildLock);
        Children().erase(pid);
    }
    ChildEntry(const ChildEntry&) = delete;
    ChildEntry& operator=(const ChildEntry&) = delete;
    pid_t pid;
};

struct KillAtExit {
    ~KillAtExit() { KillAllChildren(); }
};

} // namespace

void KillAllChildren() {
    std::lock_guard<std::mutex> g(GChildLock);
    for (const pid_t pid : Children())
        ::kill(pid, SIGKILL);
}

QString ResolveProgram(const QString& AProgram) {
    if (AProgram.isEmpty())
        return {};
    if (AProgram.contains(QLatin1Char('/')))
        return QFileInfo(AProgram).absoluteFilePath();
    // The folder the program was started from may hold anything: it is never searched for the
    // program that grants root's rights, nor for the prober the clip editor runs unasked.
    const bool skipCurrent =
        AProgram == QLatin1String("pkexec") || AProgram == QLatin1String("ffprobe");
    const QStringList dirs = [&] {
        if (AProgram == QLatin1String("pkexec"))
            return QStringList{QStringLiteral("/usr/bin/"), QStringLiteral("/bin/")};
        QStringList d{AppDir()};
        if (!skipCurrent)
            d << QDir::currentPath() + QLatin1Char('/');
        const QByteArray path = qgetenv("PATH");
        for (const QByteArray& part : path.split(':'))
            if (!part.isEmpty() && (!skipCurrent || part.startsWith('/')))
                d << QFile::decodeName(part) + QLatin1Char('/');
        return d;
    }();
    for (const QString& dir : dirs) {
        const QString candidate = dir + AProgram;
        if (IsRunnableFile(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

int RunCommand(const Command& ACmd, const RunOptions& AOptions) {
    const QString program = ResolveProgram(ACmd.program());
    if (program.isEmpty())
        return kRunNotStarted;

    std::vector<QByteArray> argStore;
    argStore.push_back(QFile::encodeName(ACmd.program()));
    for (const QString& a : ACmd.arguments())
        argStore.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    const QByteArray capture = QFile::encodeName(AOptions.captureFile);
    const bool piped = AOptions.captureFile.isEmpty() &&
                       (AOptions.onStderrLine || AOptions.onProgress || AOptions.stallMs > 0);
    if (piped && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return kRunNotStarted;
    const QByteArray workDir = QFile::encodeName(AOptions.workDir);
    const QByteArray programPath = QFile::encodeName(program);
    SpawnRequest request;
    request.path = programPath.constData();
    request.argv = argv.data();
    request.envp = environ;
    request.captureFile = AOptions.captureFile.isEmpty() ? nullptr : capture.constData();
    request.stderrFd = pipeFds[1];
    request.workDir = AOptions.workDir.isEmpty() ? nullptr : workDir.constData();
    request.deathSignal = AOptions.deathSignal;
    request.deathGraceMs = AOptions.deathGraceMs;
    const pid_t pid = SpawnChild(request, nullptr);
    if (pipeFds[1] >= 0)
        ::close(pipeFds[1]);
    if (pid < 0) {
        if (pipeFds[0] >= 0)
            ::close(pipeFds[0]);
        return kRunNotStarted;
    }

    static KillAtExit killAtExit;
    // Registered until reaped (or given up on), so exit never kills a recycled pid for long.
    ChildEntry entry(pid);

    const int readFd = pipeFds[0];
    if (readFd >= 0)
        ::fcntl(readFd, F_SETFL, ::fcntl(readFd, F_GETFL) | O_NONBLOCK);
    FFmpegProgress progress;
    auto lastActivity = Clock::now();
    const std::function<void(const QString&)> sink = [&](const QString& ALine) {
        if (AOptions.onStderrLine)
            AOptions.onStderrLine(ALine);
        if (progress.feed(ALine)) {
            lastActivity = Clock::now();
            if (AOptions.onProgress)
                AOptions.onProgress(progress);
        }
    };
    LineSplitter lines(sink);
    bool pipeOpen = readFd >= 0;
    const QString watched = AOptions.watchFile;
    qint64 watchedSize = -1;

    const int pidFd = OpenPidFd(pid);
    const auto start = Clock::now();
    auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };

    int status = 0;
    bool reaped = false;
    // Waits up to AMs for the child to end (reaping it) while reading its stderr.
    auto waitFor = [&](long long AMs) {
        const auto until = Clock::now() + std::chrono::milliseconds(AMs);
        for (;;) {
            const pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w == pid || (w < 0 && errno != EINTR)) {
                reaped = w == pid;
                return true;
            }
            const long long left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd fds[2];
            nfds_t n = 0;
            if (pidFd >= 0)
                fds[n++] = {pidFd, POLLIN, 0};
            if (pipeOpen)
                fds[n++] = {readFd, POLLIN, 0};
            // Without a pidfd the exit is noticed by polling waitpid.
            const int slice =
                pidFd >= 0 ? static_cast<int>(left) : static_cast<int>(std::min(left, 10LL));
            ::poll(fds, n, slice);
            if (pipeOpen)
                pipeOpen = DrainPipe(readFd, lines);
        }
    };

    int result = 0;
    bool stopped = false;
    bool asked = false; // stopped by the user: ask first, kill only after the grace
    const bool polled = AOptions.onWait || AOptions.stop || AOptions.stallMs > 0;
    for (;;) {
        long long slice = -1;
        if (AOptions.timeoutMs) {
            slice = static_cast<long long>(*AOptions.timeoutMs) - elapsedMs();
            if (slice < 0)
                slice = 0;
        }
        if (polled)
            slice = slice < 0 ? AOptions.pollIntervalMs
                              : std::min<long long>(slice, AOptions.pollIntervalMs);
        if (slice < 0)
            slice = 24LL * 3600 * 1000;
        if (waitFor(slice)) {
            result = reaped ? ExitCodeOf(status) : kRunNotStarted;
            break;
        }
        if (AOptions.timeoutMs && elapsedMs() >= static_cast<long long>(*AOptions.timeoutMs)) {
            result = kRunTimedOut;
            stopped = true;
            break;
        }
        if (AOptions.onWait && !AOptions.onWait()) {
            result = kRunCancelled;
            stopped = true;
            break;
        }
        if (AOptions.stop && AOptions.stop->requested()) {
            result = kRunStopped;
            asked = true;
            break;
        }
        if (AOptions.stallMs > 0) {
            if (!watched.isEmpty()) {
                const qint64 size = QFileInfo(watched).size();
                if (size > watchedSize) {
                    if (watchedSize >= 0)
                        lastActivity = Clock::now();
                    watchedSize = size;
                }
            }
            if (Clock::now() - lastActivity >= std::chrono::milliseconds(AOptions.stallMs)) {
                result = kRunStalled;
                stopped = true;
                break;
            }
        }
    }
    if (asked) {
        // ffmpeg finishes its output on SIGINT (the MP4 gets its index, the TS its last
        // packets); one that does not is killed after the grace.
        ::kill(pid, SIGINT);
        const int grace = std::max(AOptions.stopGraceMs, 0);
        const int again = AOptions.stopAgainMs;
        if (again >= 0 && again < grace) {
            if (!waitFor(again)) {
                ::kill(pid, SIGINT);
                if (!waitFor(grace - again))
                    stopped = true;
            }
        } else if (!waitFor(grace)) {
            stopped = true;
        }
    }
    if (stopped) {
        ::kill(pid, SIGKILL);
        waitFor(5000);
    }
    if (readFd >= 0) {
        // What the child wrote before it ended (a pipe holds 64 KiB by default).
        if (pipeOpen)
            DrainPipe(readFd, lines, 1024);
        lines.flush();
        ::close(readFd);
    }
    if (pidFd >= 0)
        ::close(pidFd);
    if (AOptions.deathGraceMs > 0)
        WardenForget(pid);
    return result;
}

int RunProcess(const Command& ACmd, const QString& AWorkDir) {
    RunOptions o;
    o.workDir = AWorkDir;
    return RunCommand(ACmd, o);
}

int RunProcessTimed(const Command& ACmd, const QString& AWorkDir, std::uint32_t ATimeoutMs) {
    RunOptions o;
    o.workDir = AWorkDir;
    o.timeoutMs = ATimeoutMs;
    return RunCommand(ACmd, o);
}

int RunCaptured(const Command& ACmd, const QString& ACaptureFile, std::uint32_t ATimeoutMs,
                std::shared_ptr<const StopToken> AStop) {
    RunOptions o;
    o.timeoutMs = ATimeoutMs;
    o.captureFile = ACaptureFile;
    // What a stopped probe captured is not read.
    o.stop = std::move(AStop);
    o.stopGraceMs = kDiscardStopGraceMs;
    return RunCommand(ACmd, o);
}

} // namespace halvora
