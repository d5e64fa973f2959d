// The program killed with SIGKILL in the middle of its work: its children end with it, a
// recording's TS stays readable (a live link's fetched copy goes), and the next start removes
// what the dead run left, but nothing of a run that still goes on.
#include "FetchFixtures.h"
#include "LivePlaylist.h"
#include "RunOwner.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMap>
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

namespace {

// Processes whose command line names APath (an ffmpeg writing there).
QStringList ProcessesNaming(const QString& APath) {
    QStringList found;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        QByteArray cmd = ReadAll(it.filePath() + QStringLiteral("/cmdline"));
        if (cmd.replace('\0', ' ').contains(APath.toUtf8()))
            found << QString::fromUtf8(cmd);
    }
    return found;
}

// A link's working folders below AOut: each complete segment file as "rendition/seg-N.ts".
QStringList CompleteSegments(const QString& AOut) {
    QStringList names;
    for (const QString& work : QDir(AOut).entryList({"*.parts"}, QDir::Dirs)) {
        const QString base = AOut + "/" + work + "/";
        QDirIterator it(base, {"seg-*.ts"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << it.next().mid(base.size());
    }
    names.sort();
    return names;
}

// Requests of each path ending in ".ts".
QMap<QByteArray, int> SegmentRequests(const TestHttpServer& ASrv) {
    QMap<QByteArray, int> n;
    for (const auto& r : ASrv.requests())
        if (r.path.endsWith(".ts"))
            ++n[r.path];
    return n;
}

struct ResumeCase {
    const char* name;
    const char* link;  // below /hls/
    const char* video; // the video's media playlist below /hls/ (its segments beside it)
    const char* audio; // the separate audio's, or empty when the audio is muxed in
};

const ResumeCase kResumeCases[] = {
    {"MuxedSegments", "index.m3u8", "index.m3u8", ""},
    {"SeparateAudio", "master.m3u8", "v320x240/index.m3u8", "audio/index.m3u8"},
};

class Resume : public ::testing::TestWithParam<ResumeCase> {
protected:
    // The server path of a local segment file ("audio1/seg-3.ts" -> "/hls/audio/index3.ts").
    QByteArray served(const QString& ALocal) const {
        const ResumeCase& c = GetParam();
        const QString list = ALocal.startsWith("video/") ? c.video : c.audio;
        const QString number = ALocal.section('-', 1).section('.', 0, 0);
        return ("/hls/" + list.left(list.size() - 5) + number + ".ts").toUtf8();
    }
    // The segments of every media playlist together.
    int segments() const {
        int n = 0;
        for (const QString& list : {QString(GetParam().video), QString(GetParam().audio)})
            if (!list.isEmpty())
                n += int(ReadAll(media + "/" + list).count(".ts\n"));
        return n;
    }
    // The most bytes of one segment.
    qint64 largestSegment() const {
        qint64 most = 0;
        QDirIterator it(media, {"*.ts"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            most = qMax(most, QFileInfo(it.next()).size());
        return most;
    }

    // Started on the link, killed once half the segments are complete; those segments' files.
    void killHalfWay(const QStringList& AArgs, int ATotal, QStringList* AAtKill) {
        Probe probe(AArgs);
        QList<RunId> children;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                children = ChildrenOf(probe.pid());
                return CompleteSegments(out).size() >= ATotal / 2;
            },
            120000))
            << probe.lines().join('\n').toStdString();
        probe.kill();
        ASSERT_TRUE(QTest::qWaitFor([&] { return AllEnded(children); }, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ProcessesNaming(out).isEmpty(); }, 5000))
            << ProcessesNaming(out).join('\n').toStdString();
        *AAtKill = CompleteSegments(out);
    }
    // The source's picture and sound, frame by frame, and no other audio track.
    void expectEveryFrame(const QString& AMp4) const {
        const QString video = media + "/" + GetParam().video;
        const QString audio =
            QString(GetParam().audio).isEmpty() ? video : media + "/" + GetParam().audio;
        const QStringList frames = DecodedFrames(video, "v");
        ASSERT_EQ(frames.size(), 25 * kSeconds);
        EXPECT_EQ(DecodedFrames(AMp4, "v"), frames);
        EXPECT_EQ(DecodedFrames(AMp4, "a"), DecodedFrames(audio, "a"));
        int tracks = 0;
        for (const TrackInfo& t : ProbeTracks(AMp4))
            tracks += t.type == "audio" ? 1 : 0;
        EXPECT_EQ(tracks, 1);
    }

    QString dir = NewTempDir("resume");
    QString media = dir + "/media";
    QString out = dir + "/out";
    static constexpr int kSeconds = 12; // in 1 s segments
};

} // namespace

// Killed half-way through the fetch and started again on the same link into the same folder:
// no segment that was complete is asked for again, and the MP4 has every frame and the sound.
TEST_P(Resume, KilledHalfWayThenConvertedAgainFetchesOnlyWhatWasMissing) {
    const ResumeCase& c = GetParam();
    ASSERT_TRUE(QDir().mkpath(out) && QDir().mkpath(media));
    if (QString(c.audio).isEmpty())
        ASSERT_TRUE(MakeHls(media + "/index.m3u8", kSeconds, 1));
    else
        ASSERT_TRUE(MakeHlsMaster(media, {QSize(320, 240)}, kSeconds));
    const int total = segments();
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/hls/", media);
    srv.setBytesPerSecond(largestSegment() * 2 / 3); // a segment takes 1.5 s or less
    const QStringList args{"link", srv.url(QString("/hls/") + c.link), out};

    QStringList atKill;
    ASSERT_NO_FATAL_FAILURE(killHalfWay(args, total, &atKill));
    ASSERT_LT(atKill.size(), total) << "killed after the fetch";
    const QMap<QByteArray, int> first = SegmentRequests(srv);
    srv.clearRequests();

    Probe again(args);
    ASSERT_TRUE(again.finish(120000));
    const QString done = again.matching(QRegularExpression("^Conversion complete: "));
    ASSERT_FALSE(done.isEmpty()) << again.lines().join('\n').toStdString();
    const QMap<QByteArray, int> second = SegmentRequests(srv);
    for (const QString& local : atKill) {
        EXPECT_EQ(first.value(served(local)), 1) << local.toStdString();
        EXPECT_EQ(second.value(served(local)), 0) << local.toStdString();
    }
    int asked = 0;
    for (const QByteArray& path : first.keys() + second.keys()) {
        EXPECT_LE(first.value(path), 1) << path.constData();
        EXPECT_LE(second.value(path), 1) << path.constData();
        asked += second.contains(path) && !first.contains(path) ? 1 : 0;
    }
    EXPECT_EQ(first.size() + asked, total);

    expectEveryFrame(done.mid(QString("Conversion complete: ").size()));
    EXPECT_TRUE(QDir(out).entryList({"*.parts"}, QDir::Dirs).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Streams, Resume, ::testing::ValuesIn(kResumeCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.name); });
