#include "HelperLaunch.h"

#include "Process.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace halvora {

bool CanWriteFolder(const QString& ADir) {
    return ::access(QFile::encodeName(ADir).constData(), W_OK | X_OK) == 0;
}

namespace {

// The program file a process runs; empty when the link can't be read (another user's
// process). Not QFileInfo: it gives the link's own path back when it can't follow it.
QString ExeOf(pid_t APid) {
    char buf[PATH_MAX];
    const QByteArray link = "/proc/" + QByteArray::number(APid) + "/exe";
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf)
        return {};
    return QFile::decodeName(QByteArray(buf, qsizetype(n)));
}

} // namespace

bool ProcessRuns(qint64 APid, const QString& AProgram) {
    if (AProgram.isEmpty())
        return false;
    const QString exe = ExeOf(pid_t(APid));
    if (!exe.isEmpty())
        return exe == AProgram;
    // A process that the elevation front end has turned into a root process hides its exe
    // link from the user; its name (the first 15 bytes of the file name) stays readable.
    QFile comm(QStringLiteral("/proc/%1/comm").arg(APid));
    if (!comm.open(QIODevice::ReadOnly))
        return false;
    const QByteArray name = comm.readAll().trimmed();
    return !name.isEmpty() && name == QFile::encodeName(QFileInfo(AProgram).fileName()).left(15);
}

bool StartDetached(const QString& AProgram, const QStringList& AArgs, const QString& AWaitForExec,
                   int& AErrCode) {
    AErrCode = 0;
    const QString program = ResolveProgram(AProgram);
    if (program.isEmpty()) {
        AErrCode = ENOENT;
        return false;
    }
    std::vector<QByteArray> store;
    store.push_back(QFile::encodeName(program));
    for (const QString& a : AArgs)
        store.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own session: the helper must outlive this program and its terminal.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, store[0].constData(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        AErrCode = rc;
        return false;
    }
    if (AWaitForExec.isEmpty())
        return true;

    const QString want = QFileInfo(AWaitForExec).canonicalFilePath();
    for (;;) {
        int status = 0;
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            if (WIFEXITED(status)) {
                AErrCode = WEXITSTATUS(status);
                // Ended with 0: the helper ran (and finished) under the front end.
                return AErrCode == 0;
            }
            AErrCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
            return false;
        }
        if (w < 0 && errno != EINTR) {
            AErrCode = errno;
            return false;
        }
        if (ProcessRuns(pid, want))
            return true;
        // The front end may be waiting for the user's password; there is no event to wait on.
        ::usleep(20000);
    }
}

} // namespace halvora
