// The program killed with SIGKILL in the middle of its work: its children end with it, a
// recording's TS stays readable (a live link's fetched copy goes), and the next start removes
// what the dead run left, but nothing of a run that still goes on.
#include "LivePlaylist.h"
#include "RunOwner.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// A CrashRun process; its status lines are collected as they come.
class Probe {
public:
    explicit Probe(const QStringList& AArgs) {
        FProcess.setProgram(QStringLiteral(CRASH_RUN));
        FProcess.setArguments(AArgs);
        QObject::connect(&FProcess, &QProcess::readyReadStandardOutput, [this] {
            while (FProcess.canReadLine())
                FLines << QString::fromUtf8(FProcess.readLine()).trimmed();
        });
        FProcess.start();
    }
    ~Probe() {
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(10000))
            FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    qint64 pid() const { return FProcess.processId(); }
    const QStringList& lines() const { return FLines; }
    bool waitForLine(const QRegularExpression& APattern, int AMs = 60000) {
        return QTest::qWaitFor([&] { return !matching(APattern).isEmpty(); }, AMs);
    }
    QString matching(const QRegularExpression& APattern) const {
        for (const QString& l : FLines)
            if (APattern.match(l).hasMatch())
                return l;
        return {};
    }
    void kill() {
        FProcess.kill(); // SIGKILL
        FProcess.waitForFinished(5000);
    }
    bool finish(int AMs = 60000) {
        const bool ended = FProcess.waitForFinished(AMs);
        for (const QByteArray& l : FProcess.readAllStandardOutput().split('\n'))
            if (!l.isEmpty())
                FLines << QString::fromUtf8(l).trimmed();
        return ended;
    }

private:
    QProcess FProcess;
    QStringList FLines;
};

// The running children of APid.
QList<RunId> ChildrenOf(qint64 APid) {
    QList<RunId> children;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QByteArray stat = ReadAll(it.filePath() + QStringLiteral("/stat"));
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> f = stat.mid(close + 2).split(' ');
        if (close < 0 || f.size() < 20 || f[1].toLongLong() != APid || f[0] == "Z")
            continue;
        children << RunId{it.fileName().toLongLong(), f[19].toULongLong(), ThisRun().bootId};
    }
    return children;
}

bool AllEnded(const QList<RunId>& ARuns) {
    for (const RunId& r : ARuns)
        if (RunAlive(r))
            return false;
    return true;
}

enum class Flow { Record, Convert, Batch, Export };

struct KillPoint {
    const char* name;
    Flow flow;
    const char* status; // killed once a status line matches and a child runs
};

const KillPoint kKillPoints[] = {
    {"RecordingAtItsStart", Flow::Record, "^Recording: "},
    {"RecordingSecondsIn", Flow::Record, "^Recording: 00:00:0[3-9]"},
    {"ConversionReadingItsInput", Flow::Convert, "^Converting\\.\\.\\.$"},
    {"ConversionMidEncode", Flow::Convert, "\\((1\\d|[2-9]\\d)%\\)"},
    {"BatchFirstFolder", Flow::Batch, "^Converting 1/3: .*%\\)"},
    {"BatchSecondFolder", Flow::Batch, "^Converting 2/3: .*%\\)"},
    {"ExportReadingKeyframes", Flow::Export, "^Exporting\\.\\.\\.$"},
    {"ExportCutting", Flow::Export, "^Cutting: "},
};

// Files below the folder and hidden ones too, by name relative to it.
QStringList Names(const QString& ADir) {
    QStringList names;
    QDirIterator it(ADir, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next().mid(ADir.size() + 1);
    names.sort();
    return names;
}

// A top-level MP4 box of that type with a few bytes of content.
QByteArray Box(const char* AType) {
    return QByteArray("\0\0\0\x0c", 4) + AType + QByteArray("\1\2\3\4", 4);
}

class Crash : public ::testing::TestWithParam<KillPoint> {
protected:
    // The media of the flow and the arguments that start it.
    void prepare(Flow AFlow) {
        ASSERT_TRUE(QDir().mkpath(out));
        switch (AFlow) {
        case Flow::Record:
            ASSERT_TRUE(QDir().mkpath(dir + "/media"));
            // Segments longer than a second: SIGINT alone would leave ffmpeg waiting for more.
            ASSERT_TRUE(MakeHls(dir + "/media/vod.m3u8", 40, 3));
            srv = std::make_unique<TestHttpServer>(TestHttpServer::Mode::Http);
            live = std::make_unique<LivePlaylist>(*srv, dir + "/media", "/live/", 3);
            args = QStringList{"record", srv->url("/live/live.m3u8"), out};
            return;
        case Flow::Convert:
            ASSERT_TRUE(MakeVideo(dir + "/in.mp4", 60, 640, 360));
            args = QStringList{"convert", dir + "/in.mp4", out};
            return;
        case Flow::Batch:
            for (const char* name : {"a", "b", "c"}) {
                ASSERT_TRUE(QDir().mkpath(dir + "/root/" + name));
                ASSERT_TRUE(MakeVideo(dir + "/root/" + name + "/local.ts", 20, 640, 360));
            }
            args = QStringList{"batch", dir + "/root", out};
            return;
        case Flow::Export:
            ASSERT_TRUE(MakeVideo(dir + "/in.mp4", 60, 1280, 720));
            ASSERT_TRUE(QFile::copy(dir + "/in.mp4", typed));
            typedDigest = FileDigest(typed);
            args = QStringList{"export", dir + "/in.mp4", typed};
            return;
        }
    }
    // Kills the probe once APattern's status is shown while a child runs; that status. Its
    // children must end within a second.
    void killAt(Probe& AProbe, const QRegularExpression& APattern, QString* AShown) {
        QList<RunId> children;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (AProbe.matching(APattern).isEmpty())
                    return false;
                children = ChildrenOf(AProbe.pid());
                return !children.isEmpty();
            },
            120000))
            << AProbe.lines().join('\n').toStdString();
        *AShown = AProbe.matching(APattern);
        AProbe.kill();
        QElapsedTimer sinceKill;
        sinceKill.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return AllEnded(children); }, 5000));
        EXPECT_LT(sinceKill.elapsed(), 1000);
    }
    // The next start's status line; a start after it says nothing.
    QString nextStart() {
        Probe start({"start"});
        EXPECT_TRUE(start.finish());
        Probe again({"start"});
        EXPECT_TRUE(again.finish());
        EXPECT_EQ(again.matching(QRegularExpression("^status:")), "status:") << "said once";
        return start.matching(QRegularExpression("^status:")).mid(7).trimmed();
    }

    QString dir = NewTempDir("crash");
    QString out = dir + "/out";
    QString typed = out + "/typed.mp4";
    QString typedDigest;
    QStringList args;
    std::unique_ptr<TestHttpServer> srv;
    std::unique_ptr<LivePlaylist> live;
};

} // namespace

TEST_P(Crash, ChildrenEndAndTheNextStartRemovesOnlyTheDeadRunsLeftovers) {
    const KillPoint& point = GetParam();
    ASSERT_NO_FATAL_FAILURE(prepare(point.flow));
    const QString clipBase =
        QDir::fromNativeSeparators(qEnvironmentVariable("TEMP")) + "/Halvora_clip/";
    const QStringList clipBefore = QDir(clipBase).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QString shown;
    {
        Probe probe(args);
        ASSERT_NO_FATAL_FAILURE(killAt(probe, QRegularExpression(point.status), &shown));
    }

    // A live link is recorded from Halvora's own copy, which the dead run left behind.
    const QStringList copies = QDir(out).entryList({"*.parts"}, QDir::Dirs);
    EXPECT_EQ(copies.size(), point.flow == Flow::Record ? 1 : 0);

    // A second instance goes on while the next start runs.
    const QString otherOut = dir + "/other";
    ASSERT_TRUE(QDir().mkpath(otherOut));
    Probe other({"hold", otherOut});
    ASSERT_TRUE(other.waitForLine(QRegularExpression("^ready ")));
    const QString otherDownload = other.matching(QRegularExpression("^ready ")).mid(6);
    const QStringList otherFiles = Names(otherOut);
    ASSERT_EQ(otherFiles.size(), 2); // held.mp4 and the hidden temporary beside typed.mp4
    const QStringList clipRuns = QDir(clipBase).entryList(QDir::Dirs | QDir::NoDotAndDotDot);

    const QString said = nextStart();

    // The other instance's files are all there.
    EXPECT_EQ(Names(otherOut), otherFiles);
    EXPECT_TRUE(QFileInfo(otherDownload).isDir());
    const QStringList clipAfter = QDir(clipBase).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    int removed = 0;
    for (const QString& run : clipRuns) {
        if (clipBefore.contains(run))
            continue;
        const bool others = run.startsWith("run-" + QString::number(other.pid()) + "-");
        EXPECT_EQ(clipAfter.contains(run), others) << run.toStdString();
        removed += others ? 0 : 1;
    }
    EXPECT_EQ(removed, point.flow == Flow::Export ? 1 : 0); // the dead export's working folder

    // The dead run's: no empty reservation, no temporary, no working folder.
    for (const QString& name : Names(out)) {
        EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
        // What is left is either whole or a recording (readable up to where it was).
        EXPECT_GT(CountVideoFrames(out + "/" + name), 0) << name.toStdString();
    }
    EXPECT_EQ(QDir(QDir::tempPath()).entryList({"crash_run-*"}),
              QStringList{QFileInfo(otherDownload).fileName()});
    if (point.flow == Flow::Export) {
        EXPECT_EQ(FileDigest(typed), typedDigest);
    }
    if (point.flow == Flow::Record) {
        // The copy goes: all of it that ffmpeg read is in the kept recording.
        EXPECT_TRUE(QDir(out).entryList({"*.parts"}, QDir::Dirs).isEmpty());
        const QString ts = out + "/output.ts";
        EXPECT_EQ(said, "A recording cut short was kept: " + ts);
        // Readable up to where it was: at least the seconds shown before the kill.
        const int seconds = QStringView(shown).mid(17, 2).toInt();
        EXPECT_GE(CountVideoFrames(ts), 25 * seconds) << shown.toStdString();
    } else {
        EXPECT_EQ(said, "");
    }
}

INSTANTIATE_TEST_SUITE_P(KillPoints, Crash, ::testing::ValuesIn(kKillPoints),
                         [](const auto& AInfo) { return std::string(AInfo.param.name); });

// What a dead run owned, by kind and by what became of the file since.
TEST(DeadRun, TheNextStartSettlesEachKindOfFileItOwned) {
    const QString dir = NewTempDir("dead");
    ASSERT_TRUE(QDir().mkpath(dir + "/work"));
    ASSERT_TRUE(WriteAll(dir + "/work/piece.ts", "piece"));
    // A link's fetched segments: the next Convert goes on from them, so only the transfer
    // that was cut off goes.
    ASSERT_TRUE(QDir().mkpath(dir + "/index.1a2b3c4d.parts/video"));
    ASSERT_TRUE(WriteAll(dir + "/index.1a2b3c4d.parts/video/seg-0.ts", "whole"));
    ASSERT_TRUE(WriteAll(dir + "/index.1a2b3c4d.parts/video/seg-1.ts.part", "half"));
    struct Row {
        const char* kind;
        const char* name;
        QByteArray content; // what the run wrote
        bool replaced;      // another file of that name came since (the name was freed)
        bool kept;
    };
    const Row rows[] = {
        {"reservation", "empty.mp4", "", false, false},
        {"reservation", "finished.mp4", Box("ftyp") + Box("moov") + Box("mdat"), false, true},
        {"reservation", "unfinished.mp4", Box("ftyp") + Box("mdat"), false, false},
        {"reservation", "written.ts", "data", false, true},
        {"reservation", "replaced.mp4", "", true, true},
        {"recording", "output.ts", "data", false, true},
        {"recording", "nothing.ts", "", false, false},
        {"temp", ".typed.tmp-abcdef.mp4", "data", false, false},
    };
    QStringList items{"folder=" + dir + "/work", "resumable=" + dir + "/index.1a2b3c4d.parts"};
    for (const Row& r : rows) {
        ASSERT_TRUE(WriteAll(dir + "/" + r.name, r.content));
        items << QString(r.kind) + "=" + dir + "/" + r.name;
    }
    Probe leave(QStringList{"leave"} + items);
    ASSERT_TRUE(leave.finish());
    for (const Row& r : rows)
        if (r.replaced) {
            // Made before the old one goes, so it cannot get the old one's inode.
            ASSERT_TRUE(WriteAll(dir + "/new", r.content));
            ASSERT_EQ(std::rename(QFile::encodeName(dir + "/new").constData(),
                                  QFile::encodeName(dir + "/" + r.name).constData()),
                      0);
        }

    Probe start({"start"});
    ASSERT_TRUE(start.finish());
    EXPECT_EQ(start.matching(QRegularExpression("^status:")),
              "status: A recording cut short was kept: " + dir + "/output.ts");
    for (const Row& r : rows)
        EXPECT_EQ(QFile::exists(dir + "/" + r.name), r.kept) << r.name;
    EXPECT_FALSE(QFileInfo::exists(dir + "/work"));
    EXPECT_EQ(Names(dir + "/index.1a2b3c4d.parts"), QStringList({"video", "video/seg-0.ts"}));
}
