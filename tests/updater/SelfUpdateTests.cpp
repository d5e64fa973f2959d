// The update check, the new program's download and the hand-off to the helper.
#include "HelperLaunch.h"
#include "TestSupport.h"
#include "UpdaterFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace halvora;
using namespace halvora::test;

namespace {

QString Script(const QString& APath, const QByteArray& ABody) {
    WriteAll(APath, "#!/bin/sh\n" + ABody + "\n");
    QFile::setPermissions(APath, QFile::permissions(APath) | QFileDevice::ExeOwner);
    return APath;
}

// A service offering a new program file, and an updater whose application folder is fresh.
struct UpdateService {
    UpdateService() : app(NewTempDir("app") + "/"), files(NewTempDir("files")) {
        srv.serveFolder("/files/", files);
        srv.exportServiceEnv();
        program = Script(files + "/halvora_new", "echo new");
    }
    void manifest(const QByteArray& AJson) {
        srv.route("/update/version.json", TestHttpServer::Json(AJson));
    }
    // A manifest for release 1.0.32.0 whose url, size and digest fit the served file.
    QByteArray offer(const QString& AUrl = {}, qint64 ASize = -1, const QString& ASha = {}) {
        const QString url = AUrl.isEmpty() ? srv.url("/files/halvora_new") : AUrl;
        const qint64 size = ASize < 0 ? QFileInfo(program).size() : ASize;
        const QString sha = ASha.isEmpty() ? Sha256Of(program) : ASha;
        return QString(
                   R"({"version":"1.0.32.0","url":"%1","size":%2,"sha256":"%3","notes":"Fixes"})")
            .arg(url)
            .arg(size)
            .arg(sha)
            .toUtf8();
    }
    std::unique_ptr<TUpdater> updater() {
        auto u = std::make_unique<TUpdater>(app);
        u->SetHost(&host);
        u->SetHelperPath(app + "updater");
        u->SetCurrentVersion("1.0.31.6");
        return u;
    }
    QString newFile() const { return QDir::tempPath() + "/Halvora_update/Halvora_new"; }
    int fileRequests() const {
        int n = 0;
        for (const auto& r : srv.requests())
            n += r.path.startsWith("/files/");
        return n;
    }

    TestHttpServer srv;
    RecordingHost host;
    QString app;
    QString files;
    QString program;
};

} // namespace

TEST(ReleaseNumber, ThirdFieldOnly) {
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.31.6"), 31);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.32.0"), 32);
    EXPECT_EQ(TUpdater::ReleaseNumber("2.0.5.0"), 5);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.2"), -1);
    EXPECT_EQ(TUpdater::ReleaseNumber(""), -1);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.32beta.0"), 32);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.x.0"), 0);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0."), 0);
    EXPECT_EQ(TUpdater::ReleaseNumber("1..7"), 7);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0. \t33 .0"), 33);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.-4.0"), -4);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.+4.0"), 4);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.$1F.0"), 31);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.0x20.0"), 32);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.0xg.0"), 0);
    EXPECT_EQ(TUpdater::ReleaseNumber("1.0.99999999999.0"), 999999999); // the digits that fit
}

TEST(SelfUpdate, OfferedOnlyForAHigherReleaseWithAUrl) {
    UpdateService s;
    struct Case {
        QByteArray manifest;
        bool offered;
    };
    const QByteArray url = R"("url":"https://127.0.0.1:9/x")";
    const Case cases[] = {
        {R"({"version":"1.0.32.0",)" + url + "}", true},
        {R"({"version":"2.0.5.0",)" + url + "}", false},
        {R"({"version":"1.0.31.9",)" + url + "}", false},
        {R"({"version":"1.2",)" + url + "}", false},
        {R"({"version":"1.0.32beta.0",)" + url + "}", true},
        {R"({"version":"1.0.x.0",)" + url + "}", false},
        {R"({"version":"1.0.40.0"})", false},              // no url
        {R"({"version":"1.0.40.0","url":""})", false},     // empty url
        {R"({)" + url + "}", false},                       // no version
        {R"(["1.0.40.0"])", false},                        // not an object
        {R"({"version":"1.0.40.0",)" + url + ",}", false}, // not JSON
    };
    for (const Case& c : cases) {
        s.manifest(c.manifest);
        s.host = RecordingHost();
        auto u = s.updater();
        u->CheckForUpdate();
        EXPECT_EQ(s.host.handovers, c.offered ? 1 : 0) << c.manifest.constData();
        EXPECT_EQ(s.host.texts.size(), c.offered ? 1 : 0) << c.manifest.constData();
    }
    // The service failing is silent.
    s.srv.route("/update/version.json", TestHttpServer::Status(404));
    s.host = RecordingHost();
    s.updater()->CheckForUpdate();
    EXPECT_EQ(s.host.handovers, 0);
}

TEST(SelfUpdate, PromptTextAndNo) {
    UpdateService s;
    s.manifest(R"({"version":"1.0.32.0","version":"9.9.99.9","url":"https://127.0.0.1:9/x",)"
               R"("size":123,"notes":"Faster downloads"})");
    auto u = s.updater();
    u->CheckForUpdate();
    ASSERT_EQ(s.host.texts.size(), 1);
    EXPECT_EQ(s.host.kinds[0], BoxKind::Information);
    EXPECT_EQ(s.host.texts[0], "A new version is available:\nCurrent: 1.0.31.6\nNew: 1.0.32.0\n"
                               "Faster downloads\n\nUpdate now?");
    EXPECT_EQ(u->NewRelease(), 32);
    EXPECT_EQ(u->NewSize(), 123);
    EXPECT_TRUE(u->NewExePath().isEmpty());
    EXPECT_EQ(s.srv.requestCount(), 1); // nothing downloaded on No

    // Without a version of its own any release of 0 or more is newer; "Current:" stays empty.
    s.host = RecordingHost();
    s.manifest(R"({"version":"0.0.0.0","url":"https://127.0.0.1:9/x"})");
    u = s.updater();
    u->SetCurrentVersion("");
    u->CheckForUpdate();
    ASSERT_EQ(s.host.texts.size(), 1);
    EXPECT_EQ(s.host.texts[0],
              "A new version is available:\nCurrent: \nNew: 0.0.0.0\n\n\nUpdate now?");
}

TEST(SelfUpdate, BadDownloadsLeaveNothingAndLaunchNothing) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    TestHttpServer::Reply endless;
    endless.fault = TestHttpServer::Fault::EndlessBody;
    s.srv.route("/files/endless", endless);
    TestHttpServer plain(TestHttpServer::Mode::Http);
    plain.serveFolder("/files/", s.files);
    struct Case {
        const char* what;
        QByteArray manifest;
        int fileRequests;
    };
    const Case cases[] = {
        {"size differs", s.offer({}, 5), 1},
        {"digest differs", s.offer({}, -1, QString(64, 'a')), 1},
        {"digest with a blank", s.offer({}, -1, Sha256Of(s.program) + " "), 1},
        {"not found", s.offer(s.srv.url("/files/nothing")), 1},
        {"endless body", s.offer(s.srv.url("/files/endless"), 4096), 1},
        {"plain http", s.offer(plain.url("/files/halvora_new")), 0},
        {"other scheme", s.offer("file://" + s.program), 0},
    };
    for (const Case& c : cases) {
        WriteAll(s.newFile(), "an older download");
        s.manifest(c.manifest);
        s.srv.clearRequests();
        s.host.texts.clear();
        auto u = s.updater();
        u->CheckForUpdate();
        EXPECT_EQ(s.host.texts.size(), 1) << c.what; // the prompt, nothing after it
        EXPECT_EQ(s.fileRequests(), c.fileRequests) << c.what;
        EXPECT_TRUE(u->NewExePath().isEmpty()) << c.what;
        EXPECT_FALSE(QFileInfo::exists(s.newFile())) << c.what;
        EXPECT_EQ(s.host.quits, 0) << c.what;
    }
    EXPECT_EQ(plain.requestCount(), 0);
}

TEST(SelfUpdate, DownloadRunsOnTheWorkerWithProgress) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    // A program of 3 MB: the status follows it megabyte by megabyte.
    WriteAll(s.program, "#!/bin/sh\n" + QByteArray(3'000'000, '#') + "\necho new\n");
    s.manifest(s.offer());
    auto u = s.updater();
    u->SetHelperPath(s.app + "no-such-helper");
    u->CheckForUpdate();
    ASSERT_FALSE(s.host.statuses.isEmpty());
    EXPECT_FALSE(s.host.statusInHandover); // not on the window thread
    EXPECT_EQ(s.host.statuses.last(), "Downloading update: 3 MB of 3 MB (100%)");
    EXPECT_EQ(u->NewExePath(), s.newFile());
    EXPECT_EQ(Sha256Of(s.newFile()), Sha256Of(s.program));
    // The question, then the hand-over to the (missing) helper, each on the window thread.
    EXPECT_EQ(s.host.handovers, 2);
    ASSERT_EQ(s.host.texts.size(), 2);
    EXPECT_TRUE(s.host.texts[1].startsWith("Updater not found: "));
}

TEST(SelfUpdate, LaunchFailuresShowTheirBox) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    // An upper-case digest matches, and a size of 0 is not checked.
    s.manifest(s.offer({}, 0, Sha256Of(s.program).toUpper()));
    auto u = s.updater();
    u->CheckForUpdate();
    EXPECT_EQ(u->NewExePath(), s.newFile());
    EXPECT_EQ(ReadAll(s.newFile()), ReadAll(s.program));
    ASSERT_EQ(s.host.texts.size(), 2);
    EXPECT_EQ(s.host.kinds[1], BoxKind::Error);
    EXPECT_EQ(s.host.texts[1], "Updater not found: " + s.app + "updater");
    EXPECT_EQ(s.host.quits, 0);

    // A refused elevation is a failed start.
    Script(s.app + "updater", "exit 0");
    s.host.texts.clear();
    u = s.updater();
    u->SetElevation(Script(s.files + "/front", "exit 126"), [](const QString&) { return true; });
    u->CheckForUpdate();
    ASSERT_EQ(s.host.texts.size(), 2);
    EXPECT_EQ(s.host.texts[1], "Failed to launch updater (error 126)");
    EXPECT_EQ(s.host.quits, 0);

    // An accepted one starts the helper and ends the application.
    const QString seen = s.files + "/helper-args";
    Script(s.app + "updater", "printf '%s|' \"$@\" > '" + seen.toUtf8() + "'");
    s.host.texts.clear();
    u = s.updater();
    u->SetRunningProgram("/run/ning");
    u->SetElevation(Script(s.files + "/front-ok", "exec \"$@\""),
                    [](const QString&) { return true; });
    u->CheckForUpdate();
    EXPECT_EQ(s.host.texts.size(), 1);
    EXPECT_EQ(s.host.quits, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(seen); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return ReadAll(seen) == (s.app + "halvora|" + s.newFile() + "|/run/ning|").toUtf8();
        },
        10000));
}

TEST(SelfUpdate, HelperReplacesTheProgramAndStartsTheNewOne) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    ASSERT_TRUE(QFileInfo::exists(HelperPath()))
        << "the helper is built into " << qPrintable(HelperPath());
    ASSERT_TRUE(QFile::copy(HelperPath(), s.app + "updater"));
    const QString marker = s.app + "started";
    Script(s.app + "halvora", "echo old > \"$(dirname \"$0\")/started\"");
    Script(s.program, "echo new > \"$(dirname \"$0\")/started\"");
    s.manifest(s.offer());
    auto u = s.updater();
    u->SetRunningProgram(s.app + "halvora"); // not running: the helper need not wait
    u->CheckForUpdate();
    ASSERT_EQ(s.host.texts.size(), 1) << qPrintable(s.host.texts.join("|"));
    EXPECT_EQ(s.host.quits, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReadAll(marker) == "new\n"; }, 20000));
    EXPECT_EQ(ReadAll(s.app + "halvora"), ReadAll(s.program));
    EXPECT_TRUE(QFileInfo(s.app + "halvora").isExecutable());
}

// Under pkexec the helper runs as root, and the user may not read a root process's exe link:
// its start must still be recognised, or the window would wait until the helper gives up on
// the program that is waiting for it.
TEST(SelfUpdate, RootHelperRecognisedFromAnUnprivilegedProcess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process that another user cannot inspect";
    const QString dir = NewTempDir("root-helper");
    const QString program = dir + "/updater";
    ASSERT_TRUE(QFile::copy("/bin/sleep", program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    const QString want = QFileInfo(program).canonicalFilePath();
    QProcess helper;
    helper.start(program, {"30"});
    ASSERT_TRUE(helper.waitForStarted());
    const pid_t pid = pid_t(helper.processId());
    EXPECT_TRUE(ProcessRuns(pid, want));
    EXPECT_FALSE(ProcessRuns(pid, "/usr/bin/pkexec"));

    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        if (!dropped)
            ::_exit(2);
        int rc = 0;
        if (!ProcessRuns(pid, want))
            rc |= 4;
        if (ProcessRuns(pid, "/usr/bin/pkexec"))
            rc |= 8;
        ::_exit(rc);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    helper.kill();
    helper.waitForFinished();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not drop rights, 4: not recognised, 8: "
                                         "another program taken for it";
}

TEST(SelfUpdate, DownloadFolderNotPrivateIsNotUsed) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    Script(s.app + "updater", "exit 0");
    s.manifest(s.offer());
    const QString dir = QDir::tempPath() + "/Halvora_update";
    const QString elsewhere = NewTempDir("planted");
    ASSERT_TRUE(QDir(dir).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, dir));
    auto u = s.updater();
    u->CheckForUpdate();
    EXPECT_EQ(s.host.texts.size(), 1); // the prompt, then nothing
    EXPECT_TRUE(u->NewExePath().isEmpty());
    EXPECT_EQ(s.fileRequests(), 0);
    EXPECT_EQ(s.host.quits, 0);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    ASSERT_TRUE(QFile::remove(dir));
    ASSERT_TRUE(QDir().mkpath(dir));
}

// A packaged build: the package manager owns the program's files. Nothing is asked of the
// service and no helper is started, whatever the service offers.
TEST(SelfUpdate, PackagedBuildLeavesEverythingToThePackageManager) {
    UpdateService s;
    s.host.answer = BoxAnswer::Yes;
    s.manifest(s.offer());
    s.srv.route("/update/components.json",
                TestHttpServer::Json(R"({"components":[{"id":"ffmpeg","file":"f.tar.gz"}]})"));
    const QString started = s.files + "/helper-started";
    Script(s.app + "updater", "touch '" + started.toUtf8() + "'");
    auto u = s.updater();
    u->SetSelfUpdate(false);

    // Nothing of the application folder is there, yet nothing is needed from the service.
    EXPECT_FALSE(u->ComponentsNeeded());
    QString err = "x";
    bool offline = true;
    u->EnsureComponents(nullptr, err, offline);
    EXPECT_EQ(err, "");
    EXPECT_FALSE(offline);
    u->CheckForUpdate();
    u->DownloadUpdate();
    EXPECT_TRUE(u->NewExePath().isEmpty());
    EXPECT_TRUE(s.srv.requests().isEmpty());
    EXPECT_FALSE(u->UnpackComponent(s.files + "/f.tar.gz", s.app, err));
    EXPECT_EQ(err, "managed by your package manager");

    // Even a direct hand-off only says so.
    u->LaunchUpdater();
    ASSERT_EQ(s.host.texts.size(), 1);
    EXPECT_EQ(s.host.kinds[0], BoxKind::Information);
    EXPECT_EQ(s.host.texts[0], "Updates of Halvora are managed by your package manager.");
    EXPECT_EQ(s.host.quits, 0);
    EXPECT_FALSE(QFileInfo::exists(started));
    EXPECT_TRUE(QDir(s.app).entryList(QDir::NoDotAndDotDot | QDir::AllEntries) ==
                QStringList{"updater"});
}
