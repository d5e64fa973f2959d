#include "AppPaths.h"
#include "Command.h"
#include "FFmpegLocator.h"
#include "Process.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>
#include <signal.h>

using namespace halvora;
using halvora::test::CurrentDir;
using halvora::test::NewTempDir;
using halvora::test::ReadAll;
using halvora::test::WriteAll;

namespace {

Command Sh(const QString& AScript) {
    return Command(QStringLiteral("/bin/sh")).arg(QStringLiteral("-c")).arg(AScript);
}

void Touch(const QString& APath, bool AExecutable = false) {
    QFile f(APath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexit 0\n");
    f.close();
    if (AExecutable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

// A script that leaves APath + ".ran" behind when it runs.
void Planted(const QString& APath) {
    ASSERT_TRUE(WriteAll(APath, "#!/bin/sh\n: > \"$0.ran\"\n"));
    QFile::setPermissions(APath, QFile::permissions(APath) | QFileDevice::ExeOwner);
}

// PATH for one scope.
class PathSetting {
public:
    explicit PathSetting(const QByteArray& APath) : FOld(qgetenv("PATH")) {
        qputenv("PATH", APath);
    }
    ~PathSetting() { qputenv("PATH", FOld); }
    PathSetting(const PathSetting&) = delete;
    PathSetting& operator=(const PathSetting&) = delete;

private:
    QByteArray FOld;
};

} // namespace

TEST(Command, TextQuotesProgramAndPathsOnly) {
    Command c(QStringLiteral("/opt/ff mpeg"));
    c.arg("-y").arg("-i").path("/a b/in.ts").arg("-c").arg("copy").path("out.mp4");
    EXPECT_EQ(c.text(),
              QStringLiteral("\"/opt/ff mpeg\" -y -i \"/a b/in.ts\" -c copy \"out.mp4\""));
    EXPECT_EQ(c.arguments().size(), 6);
}

TEST(FindFFmpeg, CandidatesInOrderAndNoCaching) {
    const QString app = NewTempDir("app") + "/";
    const QString cwd = NewTempDir("cwd");
    CurrentDir here(cwd);
    const QString home = QFile::decodeName(qgetenv("HOME"));
    const QStringList c = FFmpegCandidates(app);
    ASSERT_EQ(c.size(), 5);
    EXPECT_EQ(c[0], app + "ffmpeg");
    EXPECT_EQ(c[1], "ffmpeg");
    EXPECT_EQ(c[2], home + "/.local/bin/ffmpeg");
    EXPECT_EQ(c[3], "/usr/local/bin/ffmpeg");
    EXPECT_EQ(c[4], "/usr/bin/ffmpeg");

    // Only the system's ffmpeg (or nothing) to begin with.
    const QString before = FindFFmpegIn(app);
    EXPECT_TRUE(before.isEmpty() || before.startsWith("/usr/"));

    // A file in $HOME/.local/bin comes before the system's.
    QDir().mkpath(home + "/.local/bin");
    Touch(home + "/.local/bin/ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), home + "/.local/bin/ffmpeg");

    // The bare name in the current directory comes next; a folder of that name is passed over.
    QDir().mkpath(cwd + "/ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), home + "/.local/bin/ffmpeg");
    QDir(cwd + "/ffmpeg").removeRecursively();
    Touch(cwd + "/ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), "ffmpeg");

    // A folder beside the program is passed over; a file dropped there is found at the next call.
    QDir().mkpath(app + "ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), "ffmpeg");
    QDir(app + "ffmpeg").removeRecursively();
    Touch(app + "ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), app + "ffmpeg");

    // A link is followed: a dangling one does not count.
    QFile::remove(app + "ffmpeg");
    QFile::link(app + "missing", app + "ffmpeg");
    EXPECT_EQ(FindFFmpegIn(app), "ffmpeg");
    QFile::remove(home + "/.local/bin/ffmpeg");
}

TEST(RunProcess, ExitCodesAsTheChildGaveThem) {
    EXPECT_EQ(RunProcess(Sh("exit 0"), {}), 0);
    EXPECT_EQ(RunProcess(Sh("exit 1"), {}), 1);
    EXPECT_EQ(RunProcess(Sh("exit 255"), {}), 255);
    EXPECT_EQ(RunProcess(Sh("kill -TERM $$"), {}), 128 + SIGTERM);
    EXPECT_EQ(RunProcess(Sh("kill -KILL $$"), {}), 128 + SIGKILL);
}

TEST(RunProcess, NotStartedGivesMinusOne) {
    EXPECT_EQ(RunProcess(Command("/nonexistent/prog"), {}), kRunNotStarted);
    EXPECT_EQ(RunProcess(Command("halvora-no-such-program-xyz"), {}), kRunNotStarted);
    // A missing working directory means the child cannot start.
    EXPECT_EQ(RunProcess(Sh("exit 0"), "/nonexistent/dir/"), kRunNotStarted);
}

TEST(RunProcess, WorkingDirectoryAndStdin) {
    const QString dir = NewTempDir("wd");
    EXPECT_EQ(RunProcess(Sh("pwd > out.txt; cat > in.txt"), dir + "/"), 0);
    EXPECT_EQ(ReadAll(dir + "/out.txt").trimmed(), QFile::encodeName(QDir(dir).canonicalPath()));
    EXPECT_TRUE(ReadAll(dir + "/in.txt").isEmpty()); // stdin is /dev/null, so cat ends at once
}

TEST(RunProcess, BareNameFoundInCurrentDirectory) {
    const QString dir = NewTempDir("bare");
    Touch(dir + "/halvora-bare-test", true);
    CurrentDir here(dir);
    EXPECT_EQ(RunProcess(Command("halvora-bare-test"), {}), 0);
}

// An executable planted in the folder Halvora was started from, under the name of the
// elevation front end or of the prober, is never run: not by its bare name, not through a
// relative PATH entry. Any other bare name is still found there.
TEST(RunProcess, CurrentFolderNeverSearchedForPkexecOrFFprobe) {
    const QString dir = NewTempDir("planted");
    for (const char* name : {"pkexec", "ffprobe", "halvora-planted"})
        Planted(dir + "/" + name);
    CurrentDir here(dir);
    const QString cwd = QDir::currentPath() + "/";
    const QByteArray empty = QFile::encodeName(NewTempDir("emptypath"));
    for (const QByteArray& path : {empty, ".:" + empty, ":" + empty, "./:" + empty}) {
        PathSetting setting(path);
        const QString pkexec = ResolveProgram("pkexec");
        // The system's own pkexec would ask for a password: it is only named, not run.
        EXPECT_TRUE(pkexec.isEmpty() || pkexec == "/usr/bin/pkexec" || pkexec == "/bin/pkexec")
            << pkexec.toStdString() << " PATH=" << path.constData();
        EXPECT_EQ(ResolveProgram("ffprobe").toStdString(), "") << path.constData();
        EXPECT_EQ(RunProcess(Command("ffprobe"), {}), kRunNotStarted);
        EXPECT_EQ(ResolveProgram("halvora-planted"), cwd + "halvora-planted");
    }
    EXPECT_FALSE(QFile::exists(dir + "/ffprobe.ran"));
    EXPECT_FALSE(QFile::exists(dir + "/pkexec.ran"));
    // Named by its path, the planted file runs: the check above could have seen it.
    EXPECT_EQ(RunProcess(Command(cwd + "ffprobe"), {}), 0);
    EXPECT_TRUE(QFile::exists(dir + "/ffprobe.ran"));
}

TEST(RunProcess, ArgumentsArriveIntact) {
    const QString dir = NewTempDir("args");
    const QStringList tricky{"a b", "\"quoted\" text", "-leading-dash",
                             "--",  "ünïcødé ✓",       "x\" -y \"z",
                             "",    "$HOME",           "back\\slash"};
    Command c = Sh("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$OUT\"");
    c.arg("sh");
    for (const QString& t : tricky)
        c.path(t);
    qputenv("OUT", QFile::encodeName(dir + "/out.txt"));
    EXPECT_EQ(RunProcess(c, {}), 0);
    qunsetenv("OUT");
    EXPECT_EQ(QString::fromUtf8(ReadAll(dir + "/out.txt")), tricky.join('\n') + '\n');
}

TEST(RunProcessTimed, KillsChildAtTheLimit) {
    const QString dir = NewTempDir("timed");
    QElapsedTimer t;
    t.start();
    const int r = RunProcessTimed(Sh("echo $$ > pid; exec sleep 30"), dir, 300);
    EXPECT_EQ(r, kRunTimedOut);
    EXPECT_LT(t.elapsed(), 5000);
    const pid_t pid = ReadAll(dir + "/pid").trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_NE(::kill(pid, 0), 0); // killed and reaped
    EXPECT_EQ(RunProcessTimed(Sh("exit 3"), {}, 5000), 3);
}

TEST(RunCaptured, KeepsBothStreamsOfAFailingCommand) {
    const QString dir = NewTempDir("cap");
    const QString cap = dir + "/capture file.txt";
    WriteAll(cap, QByteArray(10000, 'x')); // truncated first
    EXPECT_EQ(RunCaptured(Sh("echo to-out; echo to-err >&2; exit 1"), cap, 5000), 1);
    EXPECT_EQ(ReadAll(cap), "to-out\nto-err\n");
    EXPECT_EQ(RunCaptured(Sh("exit 0"), "/nonexistent/dir/cap.txt", 5000), kRunNotStarted);
    EXPECT_FALSE(QFile::exists("/nonexistent/dir/cap.txt"));
}

TEST(RunCommand, StderrLinesAndCancel) {
    QStringList lines;
    RunOptions o;
    o.onStderrLine = [&](const QString& l) { lines << l; };
    EXPECT_EQ(RunCommand(Sh("echo one >&2; printf 'two\\rthree' >&2; echo out"), o), 0);
    EXPECT_EQ(lines, (QStringList{"one", "two", "three"}));

    int calls = 0;
    RunOptions c;
    c.pollIntervalMs = 20;
    c.onWait = [&] { return ++calls < 3; };
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunCommand(Sh("exec sleep 30"), c), kRunCancelled);
    EXPECT_EQ(calls, 3);
    EXPECT_LT(t.elapsed(), 5000);
}

TEST(Trimmed, ControlCharactersAndBlanks) {
    EXPECT_EQ(Trimmed(QStringLiteral("\t\r\n  x y \x01\x1f ")), "x y");
    EXPECT_EQ(Trimmed(QStringLiteral(" \t ")), "");
    EXPECT_EQ(Trimmed(QString(QChar(0xA0)) + "x"), QString(QChar(0xA0)) + "x");
    EXPECT_EQ(FileVersionText(), "1.0.31.6");
}

TEST(RunCommand, TimeLimitHoldsWhileTheChildFloodsStderr) {
    // A child that writes to stderr faster than its lines are handled must still be stopped.
    long long lines = 0;
    RunOptions o;
    o.timeoutMs = 300;
    // Each line costs about as much as a pattern match would.
    o.onStderrLine = [&](const QString&) {
        ++lines;
        QElapsedTimer busy;
        busy.start();
        while (busy.nsecsElapsed() < 20000) {
        }
    };
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunCommand(Sh("exec yes flood line >&2"), o), kRunTimedOut);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_GT(lines, 0);

    int calls = 0;
    RunOptions c;
    c.pollIntervalMs = 20;
    c.onStderrLine = [](const QString&) {};
    c.onWait = [&] { return ++calls < 3; };
    t.restart();
    EXPECT_EQ(RunCommand(Sh("exec yes flood >&2"), c), kRunCancelled);
    EXPECT_LT(t.elapsed(), 5000);
}
