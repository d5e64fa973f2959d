// Component provisioning against a loopback HTTPS service, unpacked by the real helper.
#include "TestSupport.h"
#include "UpdaterFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace halvora;
using namespace halvora::test;

namespace {

struct EnsureRun {
    QString err;
    bool offline = true;
    QStringList statuses;
};

EnsureRun Ensure(TUpdater& AUpdater) {
    EnsureRun r;
    AUpdater.EnsureComponents([&](const QString& s) { r.statuses << s; }, r.err, r.offline);
    return r;
}

QStringList Paths(const TestHttpServer& ASrv) {
    QStringList out;
    for (const auto& r : ASrv.requests())
        out << QString::fromLatin1(r.path);
    return out;
}

void MakeFfmpeg(const QString& AApp) {
    ASSERT_TRUE(WriteAll(AApp + "ffmpeg", "#!/bin/sh\n"));
}
void MakeVlc(const QString& AApp) {
    ASSERT_TRUE(QDir().mkpath(AApp + "vlc"));
}

QString Script(const QString& ADir, const QString& AName, const QByteArray& ABody) {
    const QString path = ADir + "/" + AName;
    WriteAll(path, "#!/bin/sh\n" + ABody + "\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

} // namespace

TEST(ComponentList, ReadsValuesAsTextFirstKeyWins) {
    QList<ComponentEntry> e;
    ASSERT_EQ(ParseComponentList(R"({"components":[
        {"id":"ffmpeg","file":"a.zip","file":"b.zip","size":1048575,"name":"F","sha256":"AB"},
        {"file":"c.zip","size":"52428800"},
        {"file":"d.zip","size":1.5e3},
        {"file":"e.zip","size":"12 "},
        {"file":"","id":"vlc"},
        {"id":"nofile"},
        42, "x", null],
        "components":"second"})",
                                 e),
              ComponentListStatus::Ok);
    ASSERT_EQ(e.size(), 4);
    EXPECT_EQ(e[0].file, "a.zip");
    EXPECT_EQ(e[0].id, "ffmpeg");
    EXPECT_EQ(e[0].name, "F");
    EXPECT_EQ(e[0].sha256, "AB");
    EXPECT_EQ(e[0].size, 1048575);
    EXPECT_EQ(e[1].size, 52428800);
    EXPECT_EQ(e[2].size, 0); // not a whole number
    EXPECT_EQ(e[3].size, 0);
    EXPECT_TRUE(e[1].id.isEmpty());

    EXPECT_EQ(ParseComponentList("[]", e), ComponentListStatus::Unreadable);
    EXPECT_EQ(ParseComponentList("{", e), ComponentListStatus::Unreadable);
    EXPECT_EQ(ParseComponentList(R"({"components":[]} x)", e), ComponentListStatus::Unreadable);
    EXPECT_EQ(ParseComponentList("{}", e), ComponentListStatus::Empty);
    EXPECT_EQ(ParseComponentList(R"({"components":{}})", e), ComponentListStatus::Empty);
    EXPECT_EQ(ParseComponentList(R"({"Components":[]})", e), ComponentListStatus::Empty);
    EXPECT_EQ(ParseComponentList(R"({"components":[]})", e), ComponentListStatus::Ok);
    EXPECT_TRUE(e.isEmpty());

    EXPECT_EQ(WholeNumberOr0("-7"), -7);
    EXPECT_EQ(WholeNumberOr0("+7"), 7);
    EXPECT_EQ(WholeNumberOr0("9223372036854775807"), Q_INT64_C(9223372036854775807));
    EXPECT_EQ(WholeNumberOr0("9223372036854775808"), 0);
    EXPECT_EQ(WholeNumberOr0("0x10"), 0);
    EXPECT_EQ(WholeNumberOr0(""), 0);
}

TEST(Provisioning, PresenceFollowsLinksAndIdsIgnoreCase) {
    const QString app = NewTempDir("app") + "/";
    TUpdater u(app.chopped(1)); // the trailing '/' is added
    EXPECT_EQ(u.ExeDir(), app);
    EXPECT_TRUE(u.ComponentsNeeded());
    EXPECT_EQ(u.DownloadDir(), QDir::tempPath() + "/Halvora_update");
    EXPECT_TRUE(QFileInfo(u.DownloadDir()).isDir());

    ASSERT_TRUE(QDir().mkpath(app + "ffmpeg.d"));
    ASSERT_TRUE(QFile::link(app + "ffmpeg.d", app + "ffmpeg")); // a folder is not the program
    EXPECT_FALSE(u.IsComponentPresent("ffmpeg"));
    QFile::remove(app + "ffmpeg");
    ASSERT_TRUE(QFile::link("/usr/bin/ffmpeg", app + "ffmpeg"));
    EXPECT_TRUE(u.IsComponentPresent("FFmpeg"));
    EXPECT_TRUE(u.ComponentsNeeded());
    ASSERT_TRUE(WriteAll(app + "vlc", "not a folder"));
    EXPECT_FALSE(u.IsComponentPresent("vlc"));
    QFile::remove(app + "vlc");
    ASSERT_TRUE(QFile::link(app + "ffmpeg.d", app + "vlc"));
    EXPECT_TRUE(u.IsComponentPresent("VLC"));
    EXPECT_FALSE(u.ComponentsNeeded());
    EXPECT_FALSE(u.IsComponentPresent(""));
    EXPECT_FALSE(u.IsComponentPresent("other"));
}

TEST(Provisioning, BothPresentMakesNoRequest) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    MakeFfmpeg(s.app);
    MakeVlc(s.app);
    auto u = s.updater();
    const EnsureRun r = Ensure(*u);
    EXPECT_TRUE(r.err.isEmpty());
    EXPECT_FALSE(r.offline);
    EXPECT_TRUE(r.statuses.isEmpty());
    EXPECT_EQ(s.srv.requestCount(), 0);
}

// A helper that died between two entries of a component left a new ffmpeg beside no ffprobe.
// Both components count as present, so nothing would fetch that one again: the start-up run
// has the helper finish the install first, without asking the service.
TEST(Provisioning, InstallCutShortBetweenEntriesIsFinishedFirst) {
    ComponentService s;
    const QString archive = MakeTarGz(s.store, "ffmpeg.tar.gz", {"ffmpeg", "ffprobe"});
    MakeVlc(s.app);
    auto u = s.updater();
    EXPECT_FALSE(u->InterruptedInstallLeft());
    bool cut = false;
    for (int step = 1; step < 100 && !cut; ++step) {
        for (const QString& n :
             QDir(s.app).entryList({".updater-*", "ffprobe"}, QDir::AllEntries | QDir::Hidden))
            ASSERT_TRUE(QFileInfo(s.app + n).isDir() ? QDir(s.app + n).removeRecursively()
                                                     : QFile::remove(s.app + n));
        MakeFfmpeg(s.app);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HALVORA_HELPER_KILL_AT", QString::number(step));
        p.setProcessEnvironment(env);
        p.start(HelperPath(), {"--unpack", archive, s.app});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitStatus(), QProcess::CrashExit) << "the helper was never cut short";
        cut = ReadAll(s.app + "ffmpeg") == "ffmpeg" && !QFileInfo::exists(s.app + "ffprobe");
    }
    ASSERT_TRUE(cut);
    EXPECT_TRUE(u->InterruptedInstallLeft());
    // A helper that ran as root leaves its journal where the program can still see it.
    for (const QFileInfo& f :
         QDir(s.app).entryInfoList({".updater-staging-*"}, QDir::Dirs | QDir::Hidden))
        EXPECT_TRUE(f.permissions() & QFileDevice::ExeOther) << f.fileName().toStdString();
    EXPECT_FALSE(u->ComponentsNeeded());

    const EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.statuses.isEmpty());
    EXPECT_EQ(s.srv.requestCount(), 0);
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "ffmpeg");
    EXPECT_EQ(ReadAll(s.app + "ffprobe"), "ffprobe");
    EXPECT_EQ(QDir(s.app).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"ffmpeg", "ffprobe", "vlc"}));
    EXPECT_FALSE(u->InterruptedInstallLeft());
}

TEST(Provisioning, OnlyMissingComponentsAreFetchedAndUnpacked) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.addArchive("vlc.tar.gz", {"vlc/libvlc.so.5", "vlc/plugins/x.so"});
    s.setList("{\"components\":[" + s.entry("FFMPEG", "FFmpeg", "ffmpeg.tar.gz") + "," +
              s.entry("vlc", "VLC runtime", "vlc.tar.gz") + "]}");
    MakeFfmpeg(s.app);
    auto u = s.updater();
    EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.offline);
    EXPECT_EQ(r.statuses,
              QStringList({"Checking the Internet connection...", "Preparing VLC runtime (0 MB)...",
                           "Installing VLC runtime..."}));
    EXPECT_EQ(Paths(s.srv),
              QStringList({"/update/components.json", "/update/components/vlc.tar.gz"}));
    EXPECT_EQ(ReadAll(s.app + "vlc/libvlc.so.5"), "vlc/libvlc.so.5");
    EXPECT_TRUE(QFileInfo(s.app + "vlc/plugins").isDir());
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "#!/bin/sh\n"); // untouched
    EXPECT_FALSE(QFileInfo::exists(u->DownloadDir() + "/vlc.tar.gz"));
    EXPECT_FALSE(u->ComponentsNeeded());

    // An id in capitals is still ffmpeg: with ffmpeg gone it is installed from that entry.
    QFile::remove(s.app + "ffmpeg");
    s.srv.clearRequests();
    r = Ensure(*u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Paths(s.srv),
              QStringList({"/update/components.json", "/update/components/ffmpeg.tar.gz"}));
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "ffmpeg");
    EXPECT_FALSE(u->ComponentsNeeded());
}

TEST(Provisioning, UnknownIdIsFetchedOnEveryRunWhileSomethingIsMissing) {
    ComponentService s;
    s.addArchive("extra.tar.gz", {"extra.txt"});
    s.setList("{\"components\":[" + s.entry("extra", "Extra", "extra.tar.gz") + "]}");
    auto u = s.updater();
    for (int run = 0; run < 2; ++run) {
        const EnsureRun r = Ensure(*u);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadAll(s.app + "extra.txt"), "extra.txt");
        QFile::remove(s.app + "extra.txt");
    }
    EXPECT_EQ(Paths(s.srv).count("/update/components/extra.tar.gz"), 2);
    EXPECT_TRUE(u->ComponentsNeeded()); // a list without ffmpeg/vlc ends "successfully"
}

TEST(Provisioning, ListShapes) {
    ComponentService s;
    auto u = s.updater();
    struct Case {
        QByteArray body;
        QString err;
    };
    const Case cases[] = {
        {R"({"components":[]})", ""},
        {"[]", "component list unreadable"},
        {"not json", "component list unreadable"},
        {"{}", "component list empty"},
        {R"({"components":"x"})", "component list empty"},
    };
    for (const Case& c : cases) {
        s.setList(c.body);
        const EnsureRun r = Ensure(*u);
        EXPECT_EQ(r.err, c.err) << c.body.constData();
        EXPECT_FALSE(r.offline) << c.body.constData();
        EXPECT_EQ(r.statuses, QStringList{"Checking the Internet connection..."});
    }
}

TEST(Provisioning, SizesInStatusTexts) {
    ComponentService s;
    const qint64 size = s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    auto u = s.updater();
    s.setList(
        R"({"components":[{"id":"ffmpeg","name":"FFmpeg","file":"ffmpeg.tar.gz","size":1048575}]})");
    EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.statuses.value(1), "Preparing FFmpeg (0 MB)...");
    EXPECT_EQ(r.err, QString("FFmpeg: incomplete download (%1 of 1048575 bytes)").arg(size));
    EXPECT_FALSE(r.offline);
    EXPECT_FALSE(QFileInfo::exists(u->DownloadDir() + "/ffmpeg.tar.gz"));

    s.setList(
        R"({"components":[{"id":"ffmpeg","name":"FF%2mpeg","file":"ffmpeg.tar.gz","size":"52428800"}]})");
    r = Ensure(*u);
    EXPECT_EQ(r.statuses.value(1), "Preparing FF%2mpeg (50 MB)...");
    EXPECT_EQ(r.statuses.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(s.app + "ffmpeg"));
}

TEST(Provisioning, SecondComponentFailingKeepsTheFirst) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.addArchive("vlc.tar.gz", {"vlc/libvlc.so.5"});
    QByteArray vlc = s.entry("vlc", "VLC runtime", "vlc.tar.gz");
    vlc.replace("\"sha256\":\"", "\"sha256\":\"0"); // one digit too many: never matches
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "," + vlc +
              "]}");
    auto u = s.updater();
    const EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, "VLC runtime: integrity check failed");
    EXPECT_FALSE(r.offline);
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "ffmpeg");
    EXPECT_FALSE(QFileInfo::exists(s.app + "vlc"));
    EXPECT_FALSE(QFileInfo::exists(u->DownloadDir() + "/ffmpeg.tar.gz"));
    EXPECT_FALSE(QFileInfo::exists(u->DownloadDir() + "/vlc.tar.gz"));
    EXPECT_EQ(r.statuses.last(), "Preparing VLC runtime (0 MB)...");
}

TEST(Provisioning, ListNotFetchedCountsAsOffline) {
    ComponentService s;
    s.srv.route("/update/components.json", TestHttpServer::Status(500, "boom"));
    auto u = s.updater();
    EnsureRun r = Ensure(*u);
    EXPECT_TRUE(r.offline);
    EXPECT_EQ(r.err, "the download server could not be reached within 10 seconds (HTTP 500)");

    // 200 with an empty body: no detail at all.
    s.srv.route("/update/components.json", TestHttpServer::Status(200, ""));
    r = Ensure(*u);
    EXPECT_TRUE(r.offline);
    EXPECT_EQ(r.err, "the download server could not be reached within 10 seconds ()");

    qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9"); // nothing listens
    r = Ensure(*u);
    EXPECT_TRUE(r.offline);
    EXPECT_TRUE(r.err.startsWith("the download server could not be reached within 10 seconds ("));
    EXPECT_GT(r.err.size(),
              QString("the download server could not be reached within 10 seconds ()").size());
}

TEST(Provisioning, ArchiveNamesCannotLeaveTheDownloadFolder) {
    ComponentService s;
    s.setList(R"({"components":[{"id":"ffmpeg","name":"FFmpeg","file":"../escape.tar.gz"}]})");
    auto u = s.updater();
    const EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, "invalid archive file name \"../escape.tar.gz\"");
    EXPECT_EQ(Paths(s.srv), QStringList{"/update/components.json"});
}

TEST(Provisioning, UnpackHelperOutcomes) {
    const QString app = NewTempDir("app") + "/";
    const QString bin = NewTempDir("bin");
    TUpdater u(app);
    QString err = "stale";
    u.SetHelperPath(bin + "/missing");
    EXPECT_FALSE(u.UnpackComponent("/x.tar.gz", app, err));
    EXPECT_EQ(err, "updater not found");

    // The helper gets its arguments unchanged, the destination's trailing '/' included.
    const QString argsFile = bin + "/args";
    u.SetHelperPath(
        Script(bin, "helper", "printf '%s|' \"$@\" > '" + argsFile.toUtf8() + "'; exit 3"));
    EXPECT_FALSE(u.UnpackComponent("/a b/x.tar.gz", app, err));
    EXPECT_EQ(err, "unpack failed (exit 3)");
    EXPECT_EQ(ReadAll(argsFile), "--unpack|/a b/x.tar.gz|" + app.toUtf8() + "|");

    u.SetHelperPath(Script(bin, "helper-ok", "exit 0"));
    EXPECT_TRUE(u.UnpackComponent("/x.tar.gz", app, err));
    EXPECT_EQ(err, "");

    // A folder the user may not write to goes through the elevation front end.
    const QString frontArgs = bin + "/front-args";
    u.SetElevation(
        Script(bin, "front-ok", "printf '%s|' \"$@\" > '" + frontArgs.toUtf8() + "'; exec \"$@\""),
        [](const QString&) { return true; });
    EXPECT_TRUE(u.UnpackComponent("/x.tar.gz", app, err));
    EXPECT_EQ(ReadAll(frontArgs), (bin + "/helper-ok|--unpack|/x.tar.gz|" + app + "|").toUtf8());

    u.SetElevation(Script(bin, "front-refused", "exit 126"), [](const QString&) { return true; });
    EXPECT_FALSE(u.UnpackComponent("/x.tar.gz", app, err));
    EXPECT_EQ(err, "could not start the helper (error 126)");

    u.SetElevation(bin + "/no-such-front", [](const QString&) { return true; });
    EXPECT_FALSE(u.UnpackComponent("/x.tar.gz", app, err));
    EXPECT_EQ(err, "could not start the helper (error 2)");
}

TEST(Provisioning, MissingHelperNamesTheComponent) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    auto u = s.updater();
    u->SetHelperPath(s.app + "updater");
    const EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, "FFmpeg: updater not found");
    EXPECT_FALSE(QFileInfo::exists(u->DownloadDir() + "/ffmpeg.tar.gz"));
}

// The download folder lies in the shared temporary folder and the helper may read from it as
// root: a folder that is not this user's own real folder is never used, and one that is open
// to others is closed first.
TEST(Provisioning, DownloadFolderMustBePrivate) {
    ComponentService s;
    s.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    s.setList("{\"components\":[" + s.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "]}");
    MakeVlc(s.app);
    auto u = s.updater();
    const QString dir = u->DownloadDir();
    const QByteArray native = QFile::encodeName(dir);
    const QString refused = "the download folder " + dir + " is not a folder of this user";

    const QString elsewhere = NewTempDir("planted");
    ASSERT_TRUE(QDir(dir).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, dir));
    EnsureRun r = Ensure(*u);
    EXPECT_EQ(r.err, refused);
    EXPECT_FALSE(r.offline);
    EXPECT_FALSE(Paths(s.srv).contains("/update/components/ffmpeg.tar.gz"));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(s.app + "ffmpeg"));
    ASSERT_TRUE(QFile::remove(dir));
    ASSERT_TRUE(QDir().mkpath(dir));

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(native.constData(), 65534, 65534), 0);
        r = Ensure(*u);
        EXPECT_EQ(r.err, refused);
        ASSERT_EQ(::chown(native.constData(), 0, 0), 0);
    }

    ASSERT_EQ(::chmod(native.constData(), 0777), 0);
    r = Ensure(*u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadAll(s.app + "ffmpeg"), "ffmpeg");
    struct stat st {};
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 022, 0u);
}
