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

namespace {

// The argument vector the child is started with, and the storage it points into.
struct ArgVector {
    std::vector<QByteArray> store;
    std::vector<char*> argv;
};

void FillArgv(const Command& ACmd, ArgVector& AOut) {
    AOut.store.push_back(QFile::encodeName(ACmd.program()));
    for (const QString& a : ACmd.arguments())
        AOut.store.push_back(a.toUtf8());
    for (QByteArray& a : AOut.store)
        AOut.argv.push_back(a.data());
    AOut.argv.push_back(nullptr);
}

// Starts AProgram with its stderr in a pipe (AReadFd, -1 when not read) or the capture file;
// -1 when it could not be started.
pid_t StartChild(const Command& ACmd, const RunOptions& AOptions, const QString& AProgram,
                 int& AReadFd) {
    ArgVector args;
    FillArgv(ACmd, args);
    int pipeFds[2] = {-1, -1};
    const QByteArray capture = QFile::encodeName(AOptions.captureFile);
    const bool piped = AOptions.captureFile.isEmpty() &&
                       (AOptions.onStderrLine || AOptions.onProgress || AOptions.stallMs > 0);
    if (piped && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    const QByteArray workDir = QFile::encodeName(AOptions.workDir);
    const QByteArray programPath = QFile::encodeName(AProgram);
    SpawnRequest request;
    request.path = programPath.constData();
    request.argv = args.argv.data();
    request.envp = environ;
    request.captureFile = AOptions.captureFile.isEmpty() ? nullptr : capture.constData();
    request.stderrFd = pipeFds[1];
    request.workDir = AOptions.workDir.isEmpty() ? nullptr : workDir.constData();
    request.deathSignal = AOptions.deathSignal;
    request.deathGraceMs = AOptions.deathGraceMs;
    const pid_t pid = SpawnChild(request, nullptr);
    if (pipeFds[1] >= 0)
        ::close(pipeFds[1]);
    if (pid < 0 && pipeFds[0] >= 0)
        ::close(pipeFds[0]);
    AReadFd = pid < 0 ? -1 : pipeFds[0];
    return pid;
}

// A started child: waited for (with its pidfd where there is one) while its stderr is read line
// by line, until it ends or a time limit, onWait, Stop or a stall ends the wait.
class ChildWatch {
public:
    ChildWatch(pid_t APid, int AReadFd, const RunOptions& AOptions)
        : FPid(APid), FReadFd(AReadFd), FOptions(AOptions), FPipeOpen(AReadFd >= 0),
          FPidFd(OpenPidFd(APid)) {
        if (FReadFd >= 0)
            ::fcntl(FReadFd, F_SETFL, ::fcntl(FReadFd, F_GETFL) | O_NONBLOCK);
    }
    ChildWatch(const ChildWatch&) = delete;
    ChildWatch& operator=(const ChildWatch&) = delete;

    // The run's result; the child may still be running when it is not its exit code.
    int watch();
    // Asks a stopped child to finish, kills what is left, and reads what it wrote last.
    void end();

private:
    void onLine(const QString& ALine);
    // Waits up to AMs for the child to end (reaping it) while reading its stderr.
    bool waitFor(long long AMs);
    long long nextSliceMs(bool APolled) const;
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - FStart).count();
    }
    bool stalled();
    void askToFinish();

    const pid_t FPid;
    const int FReadFd;
    const RunOptions& FOptions;
    FFmpegProgress FProgress;
    Clock::time_point FLastActivity = Clock::now();
    const std::function<void(const QString&)> FSink = [this](const QString& L) { onLine(L); };
    LineSplitter FLines{FSink};
    bool FPipeOpen;
    qint64 FWatchedSize = -1;
    const int FPidFd;
    const Clock::time_point FStart = Clock::now();
    int FStatus = 0;
    bool FReaped = false;
    bool FStopped = false; // to be killed
    bool FAsked = false;   // stopped by the user: ask first, kill only after the grace
};

void ChildWatch::onLine(const QString& ALine) {
    if (FOptions.onStderrLine)
        FOptions.onStderrLine(ALine);
    if (FProgress.feed(ALine)) {
        FLastActivity = Clock::now();
        if (FOptions.onProgress)
            FOptions.onProgress(FProgress);
    }
}

bool ChildWatch::waitFor(long long AMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(AMs);
    for (;;) {
        const pid_t w = ::waitpid(FPid, &FStatus, WNOHANG);
        if (w == FPid || (w < 0 && errno != EINTR)) {
            FReaped = w == FPid;
            return true;
        }
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fds[2];
        nfds_t n = 0;
        if (FPidFd >= 0)
            fds[n++] = {FPidFd, POLLIN, 0};
        if (FPipeOpen)
            fds[n++] = {FReadFd, POLLIN, 0};
        // Without a pidfd the exit is noticed by polling waitpid.
        const int slice =
            FPidFd >= 0 ? static_cast<int>(left) : static_cast<int>(std::min(left, 10LL));
        ::poll(fds, n, slice);
        if (FPipeOpen)
            FPipeOpen = DrainPipe(FReadFd, FLines);
    }
}

long long ChildWatch::nextSliceMs(bool APolled) const {
    long long slice = -1;
    if (FOptions.timeoutMs) {
        slice = static_cast<long long>(*FOptions.timeoutMs) - elapsedMs();
        if (slice < 0)
            slice = 0;
    }
    if (APolled)
        slice = slice < 0 ? FOptions.pollIntervalMs
                          : std::min<long long>(slice, FOptions.pollIntervalMs);
    return slice < 0 ? 24LL * 3600 * 1000 : slice;
}

bool ChildWatch::stalled() {
    if (FOptions.stallMs <= 0)
        return false;
    if (!FOptions.watchFile.isEmpty()) {
        const qint64 size = QFileInfo(FOptions.watchFile).size();
        if (size > FWatchedSize) {
            if (FWatchedSize >= 0)
                FLastActivity = Clock::now();
            FWatchedSize = size;
        }
    }
    return Clock::now() - FLastActivity >= std::chrono::milliseconds(FOptions.stallMs);
}

int ChildWatch::watch() {
    const bool polled = FOptions.onWait || FOptions.stop || FOptions.stallMs > 0;
    for (;;) {
        if (waitFor(nextSliceMs(polled)))
            return FReaped ? ExitCodeOf(FStatus) : kRunNotStarted;
        if (FOptions.timeoutMs && elapsedMs() >= static_cast<long long>(*FOptions.timeoutMs)) {
            FStopped = true;
            return kRunTimedOut;
        }
        if (FOptions.onWait && !FOptions.onWait()) {
            FStopped = true;
            return kRunCancelled;
        }
        if (FOptions.stop && FOptions.stop->requested()) {
            FAsked = true;
            return kRunStopped;
        }
        if (stalled()) {
            FStopped = true;
            return kRunStalled;
        }
    }
}

// ffmpeg finishes its output on SIGINT (the MP4 gets its index, the TS its last packets); one
// that does not is killed after the grace.
void ChildWatch::askToFinish() {
    ::kill(FPid, SIGINT);
    const int grace = std::max(FOptions.stopGraceMs, 0);
    const int again = FOptions.stopAgainMs;
    if (again >= 0 && again < grace) {
        if (!waitFor(again)) {
            ::kill(FPid, SIGINT);
            if (!waitFor(grace - again))
                FStopped = true;
        }
    } else if (!waitFor(grace)) {
        FStopped = true;
    }
}

void ChildWatch::end() {
    if (FAsked)
        askToFinish();
    if (FStopped) {
        ::kill(FPid, SIGKILL);
        waitFor(5000);
    }
    if (FReadFd >= 0) {
        // What the child wrote before it ended (a pipe holds 64 KiB by default).
        if (FPipeOpen)
            DrainPipe(FReadFd, FLines, 1024);
        FLines.flush();
        ::close(FReadFd);
    }
    if (FPidFd >= 0)
        ::close(FPidFd);
    if (FOptions.deathGraceMs > 0)
        WardenForget(FPid);
}

} // namespace

int RunCommand(const Command& ACmd, const RunOptions& AOptions) {
    const QString program = ResolveProgram(ACmd.program());
    if (program.isEmpty())
        return kRunNotStarted;
    int readFd = -1;
    const pid_t pid = StartChild(ACmd, AOptions, program, readFd);
    if (pid < 0)
        return kRunNotStarted;
    static KillAtExit killAtExit;
    // Registered until reaped (or given up on), so exit never kills a recycled pid for long.
    ChildEntry entry(pid);
    ChildWatch child(pid, readFd, AOptions);
    const int result = child.watch();
    child.end();
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
