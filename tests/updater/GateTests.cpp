// The hand-overs to the window thread, and the start-up jobs without a real window.
#include "Bootstrap.h"
#include "TestSupport.h"
#include "UpdaterFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace halvora;
using namespace halvora::test;

TEST(WindowGate, QueuedWorkRunsInOrderOnTheWindowThread) {
    GateContext ctx;
    QStringList seen;
    std::atomic<bool> allOnMain{true};
    QThread* main = QThread::currentThread();
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(ctx.Gate()->Queue([&, i] {
                allOnMain = allOnMain && QThread::currentThread() == main;
                seen << QString::number(i);
            }));
    });
    worker.join();
    EXPECT_TRUE(seen.isEmpty()); // nothing runs before the loop does
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen == QStringList({"0", "1", "2"}); }, 5000));
    EXPECT_TRUE(allOnMain);
}

namespace {

// Whether the thread ATid of this process is asleep in a futex wait (a mutex or a condition).
bool SleepsInFutex(pid_t ATid) {
    if (ATid <= 0)
        return false;
    std::ifstream in("/proc/self/task/" + std::to_string(ATid) + "/syscall");
    long number = -1;
    return in >> number && number == SYS_futex;
}

} // namespace

TEST(WindowGate, RunAndWaitRunsOnTheWindowThreadAndWaits) {
    GateContext ctx;
    std::atomic<bool> done{false};
    std::atomic<bool> ran{false};
    std::atomic<bool> result{false};
    QThread* main = QThread::currentThread();
    std::thread worker([&] {
        result = ctx.Gate()->RunAndWait([&] { ran = QThread::currentThread() == main; });
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(result);

    // From the window thread itself it runs at once instead of waiting for its own loop.
    bool direct = false;
    EXPECT_TRUE(ctx.Gate()->RunAndWait([&] { direct = true; }));
    EXPECT_TRUE(direct);
}

TEST(WindowGate, WorkForAGoneWindowIsDroppedAndNeverBlocks) {
    auto ctx = std::make_unique<GateContext>();
    const auto gate = ctx->Gate();
    bool ran = false;
    ASSERT_TRUE(gate->Queue([&] { ran = true; }));

    // A worker blocked in RunAndWait while the window goes is released with false.
    std::atomic<pid_t> workerTid{0};
    std::atomic<int> result{-1};
    std::thread worker([&] {
        workerTid = pid_t(::syscall(SYS_gettid));
        result = gate->RunAndWait([&] { ran = true; }) ? 1 : 0;
    });
    // Not qWaitFor: the window's loop must not run (and run the work) before the window goes.
    // The worker is blocked once its thread sleeps in a futex wait with no result yet.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!SleepsInFutex(workerTid.load()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(SleepsInFutex(workerTid.load())) << "the worker never blocked";
    EXPECT_EQ(result.load(), -1);
    ctx.reset();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(gate->IsOpen());
    EXPECT_FALSE(gate->Queue([&] { ran = true; }));
    EXPECT_FALSE(gate->RunAndWait([&] { ran = true; }));
}

namespace {

// The window side of the start-up jobs, recorded.
struct FakeWindow {
    explicit FakeWindow(
        const QString& AApp, std::function<void(TUpdater&)> AConfigure = [](TUpdater& u) {
            u.SetHelperPath(HelperPath());
        }) {
        BootstrapWindow w;
        w.status = [this](const QString& s) { log << "status:" + s; };
        w.message = [this](BoxKind, const QString& t, BoxButtons) {
            log << "box:" + t.section('\n', 0, 0);
            return answer;
        };
        w.componentsReady = [this] { log << "ready"; };
        w.quit = [this] { log << "quit"; };
        jobs = std::make_unique<BootstrapJobs>(w);
        jobs->SetSetup(AApp, std::move(AConfigure));
    }
    bool running() const { return jobs && jobs->running(); }
    // The window goes, waiting for its jobs; how long that took.
    qint64 close() {
        QElapsedTimer t;
        t.start();
        jobs.reset();
        return t.elapsed();
    }
    std::unique_ptr<BootstrapJobs> jobs;
    QStringList log;
    BoxAnswer answer = BoxAnswer::No;
};

} // namespace

TEST(Bootstrap, WorkerSequenceAndResults) {
    ComponentService s;
    s.srv.route("/update/version.json",
                TestHttpServer::Json(R"({"version":"1.0.99.0","url":"https://127.0.0.1:9/x"})"));
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    QDir().mkpath(s.app + "vlc");
    FakeWindow fw(s.app);
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fw.running(); }, 30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(fw.log, QStringList({"status:Downloading components needed by the program...",
                                   "ready", "box:A new version is available:"}));
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "ffmpeg");

    // Present now: no status, success, the update check still follows.
    fw.log.clear();
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fw.log.size() == 2; }, 30000));
    EXPECT_EQ(fw.log, QStringList({"ready", "box:A new version is available:"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fw.running(); }, 5000));

    // Failure: the text and the offline flag reach the window as its status and the long box.
    QFile::remove(s.app + "ffmpeg");
    s.srv.route("/update/components.json", TestHttpServer::Status(404));
    fw.log.clear();
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fw.log.size() == 4; }, 30000));
    EXPECT_EQ(fw.log[1], "status:Components unavailable: the download server could not be "
                         "reached within 10 seconds (HTTP 404)");
    EXPECT_EQ(fw.log[2],
              "box:Additional components needed by the program could not be downloaded:");
    EXPECT_EQ(fw.log[3], "box:A new version is available:");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fw.running(); }, 5000));
}

// Yes to the update: its download is a job of its own, whose progress and outcome reach the
// window; the hand-over to the helper then ends the application or says why it could not.
TEST(Bootstrap, UpdateDownloadJobAndTheHandOver) {
    ComponentService s;
    QDir().mkpath(s.app + "vlc");
    WriteAll(s.app + "ffmpeg", "#!/bin/sh\n");
    const QString program = s.store + "/halvora_new";
    WriteAll(program, "#!/bin/sh\n" + QByteArray(2'500'000, '#') + "\necho new\n");
    s.srv.route("/update/version.json",
                TestHttpServer::Json(QString(R"({"version":"1.0.99.0","url":"%1","size":%2,)"
                                             R"("sha256":"%3"})")
                                         .arg(s.srv.url("/update/components/halvora_new"))
                                         .arg(QFileInfo(program).size())
                                         .arg(Sha256Of(program))
                                         .toUtf8()));
    const QString helper = s.app + "updater";
    const QString seen = s.store + "/helper-args";
    struct Case {
        bool helperThere;
        QString last;
    };
    for (const Case& c : {Case{false, "box:Updater not found: " + helper}, Case{true, "quit"}}) {
        QFile::remove(helper);
        if (c.helperThere) {
            WriteAll(helper, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + seen.toUtf8() + "'\n");
            QFile::setPermissions(helper, QFile::permissions(helper) | QFileDevice::ExeOwner);
        }
        FakeWindow fw(s.app, [&](TUpdater& u) {
            u.SetHelperPath(helper);
            u.SetCurrentVersion("1.0.31.6");
            u.SetElevation("pkexec", [](const QString&) { return false; });
        });
        fw.answer = BoxAnswer::Yes;
        fw.jobs->Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fw.running(); }, 30000));
        QCoreApplication::processEvents();
        ASSERT_GE(fw.log.size(), 4) << qPrintable(fw.log.join('|'));
        EXPECT_EQ(fw.log.mid(0, 2), QStringList({"ready", "box:A new version is available:"}));
        const QString progress = fw.log[fw.log.size() - 2];
        EXPECT_TRUE(progress.startsWith("status:Downloading update: ") &&
                    progress.endsWith(" (100%)"))
            << qPrintable(progress);
        EXPECT_EQ(fw.log.last(), c.last);
        EXPECT_EQ(Sha256Of(QDir::tempPath() + "/Halvora_update/Halvora_new"), Sha256Of(program));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(seen); }, 10000));
}

TEST(Bootstrap, GoneWindowGetsNothing) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    TestHttpServer::Reply slow = TestHttpServer::Json(
        "{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    slow.delayMs = 300;
    s.srv.route("/update/components.json", slow);
    s.srv.route("/update/version.json",
                TestHttpServer::Json(R"({"version":"1.0.99.0","url":"https://127.0.0.1:9/x"})"));
    FakeWindow fw(s.app);
    fw.jobs->Start();
    fw.close(); // the window closes while the job fetches the list
    QCoreApplication::processEvents();
    EXPECT_TRUE(fw.log.isEmpty());
    // No window: no more downloads, no update check.
    QStringList paths;
    for (const auto& r : s.srv.requests())
        paths << QString::fromLatin1(r.path);
    // The list request itself may be abandoned before it is complete.
    EXPECT_TRUE(paths.isEmpty() || paths == QStringList{"/update/components.json"})
        << qPrintable(paths.join(' '));
    EXPECT_FALSE(QFileInfo::exists(s.app + "ffmpeg"));
}

TEST(Bootstrap, GoneWindowEndsTheDownloadUnderWay) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    // The archive's reply stalls after its headers: only the 15-minute response timeout
    // would end the download by itself.
    s.srv.route(
        "/update/components/ffmpeg.tar.gz",
        TestHttpServer::File(s.store + "/ffmpeg.tar.gz", TestHttpServer::Fault::StallAfterHeaders));
    FakeWindow fw(s.app);
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const auto& r : s.srv.requests())
                if (r.path == "/update/components/ffmpeg.tar.gz")
                    return true;
            return false;
        },
        30000));
    // The window closes (or the application quits) mid-download.
    EXPECT_LT(fw.close(), 5000);
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + "/Halvora_update/ffmpeg.tar.gz"));
    EXPECT_FALSE(QFileInfo::exists(s.app + "ffmpeg"));
}

TEST(Bootstrap, GoneWindowEndsTheListRequest) {
    ComponentService s;
    TestHttpServer::Reply silent = TestHttpServer::Status(200);
    silent.fault = TestHttpServer::Fault::NoReply; // only the 10-second timeout would end it
    s.srv.route("/update/components.json", silent);
    FakeWindow fw(s.app);
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.srv.requestCount() == 1; }, 30000));
    EXPECT_LT(fw.close(), 5000);
}

// The helper's unpack is ended with the window (the next start finishes what it left), so a
// closing window does not wait minutes for it.
TEST(Bootstrap, GoneWindowEndsTheHelperRun) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    const QString helper = s.store + "/slow-helper";
    const QString started = s.store + "/helper-started";
    WriteAll(helper, "#!/bin/sh\ntouch '" + started.toUtf8() + "'\nexec sleep 60\n");
    QFile::setPermissions(helper, QFile::permissions(helper) | QFileDevice::ExeOwner);
    FakeWindow fw(s.app, [helper](TUpdater& u) {
        u.SetHelperPath(helper);
        u.SetElevation("pkexec", [](const QString&) { return false; });
    });
    fw.jobs->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(started); }, 30000));
    EXPECT_LT(fw.close(), 5000);
    EXPECT_TRUE(fw.log.isEmpty() || fw.log == QStringList{"status:Downloading components needed "
                                                          "by the program..."});
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + "/Halvora_update/ffmpeg.tar.gz"));
    EXPECT_FALSE(QFileInfo::exists(s.app + "ffmpeg"));
}

// A program that ends while its job is inside a transfer lets the job abandon it first: the TLS
// library's clean-up at exit must not pull its state from under the worker.
TEST(Bootstrap, ExitWaitsForTheWorkerToLetGoOfItsTransfer) {
    ComponentService s;
    s.setList(R"({"components":[{"id":"ffmpeg","name":"FFmpeg","file":"endless.tar.gz"}]})");
    TestHttpServer::Reply endless = TestHttpServer::Status(200);
    endless.fault = TestHttpServer::Fault::EndlessBody;
    s.srv.route("/update/components/endless.tar.gz", endless);
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(BOOTSTRAP_EXIT_PROBE, {s.app, "endless.tar.gz"});
    ASSERT_TRUE(probe.waitForFinished(30000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    // The worker ended its download, which removes the partial file, before the process did.
    EXPECT_EQ(QDir(QDir::tempPath() + "/Halvora_update")
                  .entryList({"*endless.tar.gz*"}, QDir::Files | QDir::Hidden),
              QStringList());
}
