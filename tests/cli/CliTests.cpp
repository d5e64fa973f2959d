// halvora-cli as scripts run it: the real program, real ffmpeg on media ffmpeg made, links
// served over HTTP on 127.0.0.1. Every run's HOME, TMPDIR and XDG folders are the sandbox's.
#include "LivePlaylist.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

// One halvora-cli run; events go on being processed while it runs (servers, live playlists).
class Cli {
public:
    explicit Cli(const QStringList& AArgs, const QString& AProgram = QStringLiteral(HALVORA_CLI)) {
        QObject::connect(&FProcess, &QProcess::readyReadStandardError,
                         [this] { FErr += QString::fromUtf8(FProcess.readAllStandardError()); });
        FProcess.start(AProgram, AArgs);
        FProcess.waitForStarted();
    }
    ~Cli() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    qint64 pid() const { return FProcess.processId(); }
    const QString& err() const { return FErr; }
    // Waits for the end; false when it did not come within AMs.
    bool finish(int AMs = 180000) {
        if (!QTest::qWaitFor([&] { return FProcess.state() == QProcess::NotRunning; }, AMs))
            return false;
        FErr += QString::fromUtf8(FProcess.readAllStandardError());
        FOut = QString::fromUtf8(FProcess.readAllStandardOutput());
        return true;
    }
    int code() const {
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }
    QStringList outLines() const { return FOut.split('\n', Qt::SkipEmptyParts); }
    const QString& out() const { return FOut; }

private:
    QProcess FProcess;
    QString FErr;
    QString FOut;
};

std::string Said(const Cli& ACli) {
    return ("stdout: " + ACli.out() + "\nstderr: " + ACli.err()).toStdString();
}

// The progress objects among the JSON lines of stderr (the others carry messages).
QList<QJsonObject> ProgressLines(const QString& AErr) {
    QList<QJsonObject> objects;
    for (const QString& line : AErr.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.contains("position"))
            objects << o;
        else
            EXPECT_TRUE(o.contains("message")) << line.toStdString();
    }
    return objects;
}

struct BadArguments {
    QStringList args;
    const char* says;
};

} // namespace

TEST(CliUsage, BadArgumentsEndWithTwoAndSayWhy) {
    const QList<BadArguments> cases{
        {{}, "no command given"},
        {{"frobnicate", "x"}, "unknown command \"frobnicate\""},
        {{"convert"}, "convert needs an INPUT"},
        {{"batch"}, "batch needs a ROOT folder"},
        {{"convert", "a.ts", "b.ts"}, "one too many"},
        {{"convert", "a.ts", "--quality", "huge"}, "--quality takes best, smallest or WxH"},
        {{"convert", "a.ts", "--header", "Bad Name: x"}, "--header takes 'Name: value'"},
        {{"convert", "a.ts", "--frobnicate"}, "unknown option --frobnicate"},
        {{"convert", "a.ts", "-o"}, "-o needs a value"},
        {{"probe", "a.mp4", "--reencode"}, "--reencode is not an option of probe"},
        {{"cut", "a.mp4"}, "cut needs --delete START-END or --cuts FILE"},
        {{"cut", "a.mp4", "--delete", "5-3"}, "--delete takes START-END"},
        {{"cut", "a.mp4", "-d", "1:75-2:00"}, "--delete takes START-END"},
        {{"cut", "a.mp4", "-d", "1-2", "--crop", "1:2"}, "--crop takes W:H:X:Y"},
        {{"convert", "a.ts", "--progress", "xml"}, "--progress takes json"},
        {{"convert", "a.ts", "--header", "X-Token: abc\r\nHost: evil"}, "--header takes"},
        {{"convert", "a.ts", "--cookies", "/nonexistent/c.txt"}, "cannot be read"},
    };
    for (const BadArguments& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        Cli cli(c.args);
        ASSERT_TRUE(cli.finish(30000));
        EXPECT_EQ(cli.code(), 2);
        EXPECT_TRUE(cli.err().contains(c.says)) << cli.err().toStdString();
        EXPECT_TRUE(cli.out().isEmpty());
    }
    Cli help({"--help"});
    ASSERT_TRUE(help.finish(30000));
    EXPECT_EQ(help.code(), 0);
    EXPECT_TRUE(help.out().contains("Exit codes:"));
    Cli version({"--version"});
    ASSERT_TRUE(version.finish(30000));
    EXPECT_EQ(version.code(), 0);
    EXPECT_TRUE(version.out().startsWith("halvora-cli 1.")) << version.out().toStdString();
}

class CliMedia : public ::testing::Test {
protected:
    QString dir = NewTempDir("cli");
    QString out = dir + "/out";
};

TEST_F(CliMedia, ConvertsATsAndALinkWithEveryFrameAndItsSound) {
    ASSERT_TRUE(MakeVideo(dir + "/in.ts", 4));
    ASSERT_TRUE(QDir().mkpath(dir + "/hls"));
    ASSERT_TRUE(MakeHls(dir + "/hls/vod.m3u8", 4, 1));
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/hls/", dir + "/hls");
    // The link is served only with its Referer and cookie.
    srv.requireHeaders("/hls/", {{"Referer", "https://example.test/watch"}, {"Cookie", "id=42"}});
    QFile cookies(dir + "/cookies.txt");
    ASSERT_TRUE(cookies.open(QIODevice::WriteOnly));
    cookies.write("# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tid\t42\n");
    cookies.close();
    struct Case {
        QString input;
        QString output; // -o
        QString written;
        QStringList more;
    };
    const QList<Case> cases{
        {dir + "/in.ts", out, out + "/in.mp4", {}},
        {srv.url("/hls/vod.m3u8"),
         out + "/clip.mp4",
         out + "/clip.mp4",
         {"--header", "Referer: https://example.test/watch", "--cookies", cookies.fileName()}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        Cli cli(QStringList{"convert", c.input, "-o", c.output, "--progress", "json"} + c.more);
        ASSERT_TRUE(cli.finish());
        ASSERT_EQ(cli.code(), 0) << Said(cli);
        EXPECT_EQ(cli.outLines(), QStringList{c.written});
        EXPECT_EQ(CountVideoFrames(c.written), 100);
        EXPECT_NEAR(AudioSeconds(c.written), 4.0, 0.1);
        const QList<QJsonObject> progress = ProgressLines(cli.err());
        ASSERT_FALSE(progress.isEmpty()) << cli.err().toStdString();
        for (const char* key : {"percent", "position", "speed", "eta"})
            EXPECT_TRUE(progress.last().contains(key)) << key;
        EXPECT_EQ(progress.last()["percent"].toDouble(), 100.0);
    }
    // The link's TS (clip.ts beside clip.mp4) went with its success.
    EXPECT_EQ(QDir(out).entryList(QDir::Files), (QStringList{"clip.mp4", "in.mp4"}));
    for (const auto& request : srv.requests())
        EXPECT_EQ(request.header("Cookie"), "id=42") << request.path.constData();
}

TEST_F(CliMedia, BatchConvertsEverySavedStreamIntoItsFolderName) {
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(QDir().mkpath(dir + "/root/" + name));
    ASSERT_TRUE(MakeVideo(dir + "/root/a/local.ts", 3));
    ASSERT_TRUE(MakeHls(dir + "/root/b/local.m3u8", 2, 1));
    Cli cli({"batch", dir + "/root", "-o", out});
    ASSERT_TRUE(cli.finish());
    ASSERT_EQ(cli.code(), 0) << Said(cli);
    QStringList written = cli.outLines();
    written.sort();
    EXPECT_EQ(written, (QStringList{out + "/a.mp4", out + "/b.mp4"}));
    EXPECT_EQ(CountVideoFrames(out + "/a.mp4"), 75);
    EXPECT_EQ(CountVideoFrames(out + "/b.mp4"), 50);
    EXPECT_NEAR(AudioSeconds(out + "/a.mp4"), 3.0, 0.1);
    EXPECT_NEAR(AudioSeconds(out + "/b.mp4"), 2.0, 0.1);
    EXPECT_TRUE(cli.err().contains("Batch done: 2/2 succeeded")) << cli.err().toStdString();
}

TEST_F(CliMedia, CutDeletesTwoStretchesExactlyFromEverySoundTrack) {
    const QString in = dir + "/in.mp4";
    ASSERT_TRUE(MakeToneVideo(in, 10, {{440, "eng", "", false}, {1000, "deu", "", false}}));
    Cli cli({"cut", in, "--delete", "2-3", "-d", "00:00:05.000-7", "-o", out + "/cut.mp4"});
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_TRUE(cli.finish());
    ASSERT_EQ(cli.code(), 0) << Said(cli);
    EXPECT_EQ(cli.outLines(), QStringList{out + "/cut.mp4"});
    // Kept: 0-2, 3-5 and 7-10, seven seconds at 25 frames a second.
    EXPECT_EQ(CountVideoFrames(out + "/cut.mp4"), 175);
    for (const auto& [track, tone] : {std::pair{0, 440.0}, std::pair{1, 1000.0}}) {
        double seconds = 0;
        EXPECT_NEAR(ToneFrequency(out + "/cut.mp4", track, &seconds), tone, 10) << track;
        EXPECT_NEAR(seconds, 7.0, 0.1) << track;
    }
}

// A cut list saved by the clip editor, marks between whole seconds, one file per kept stretch;
// a list saved for a video of another length is refused.
TEST_F(CliMedia, CutsFromASavedListEachKeptStretchAsItsOwnFile) {
    const QString in = dir + "/in.mp4";
    ASSERT_TRUE(MakeToneVideo(in, 10, {{440, "eng", "", false}}));
    ASSERT_TRUE(QDir().mkpath(out));
    const auto list = [&](const char* ADuration) {
        QFile f(dir + "/in.halvora-cuts.json");
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(
            QByteArray(R"({"format":"halvora-cuts","version":1,"video":{"size":1,"duration":)") +
            ADuration +
            R"(},"segments":[{"start":2.040,"end":3.000},{"start":5.000,"end":7.520}]})");
        return f.fileName();
    };
    Cli wrong({"cut", in, "--cuts", list("12.000"), "-o", out + "/cut.mp4"});
    ASSERT_TRUE(wrong.finish());
    EXPECT_EQ(wrong.code(), 1);
    EXPECT_TRUE(wrong.err().contains("was saved for a video of")) << Said(wrong);
    EXPECT_FALSE(QFileInfo::exists(out + "/cut-01.mp4"));

    Cli cli({"cut", in, "--cuts", list("10.000"), "--separate", "-o", out + "/cut.mp4"});
    ASSERT_TRUE(cli.finish());
    ASSERT_EQ(cli.code(), 0) << Said(cli);
    const QStringList parts{out + "/cut-01.mp4", out + "/cut-02.mp4", out + "/cut-03.mp4"};
    EXPECT_EQ(cli.outLines(), parts);
    // Kept at 25 frames a second: 0-2.04, 3-5 and 7.52-10.
    const QList<std::pair<int, double>> kept{{51, 2.04}, {50, 2.0}, {62, 2.48}};
    for (int i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(parts[i].toStdString());
        EXPECT_EQ(CountVideoFrames(parts[i]), kept[i].first);
        double seconds = 0;
        EXPECT_NEAR(ToneFrequency(parts[i], 0, &seconds), 440, 10);
        EXPECT_NEAR(seconds, kept[i].second, 0.1);
    }
}

TEST_F(CliMedia, ProbeGivesDurationSizeStreamsAndKeyframesAsJson) {
    const QString in = dir + "/in.mp4";
    ASSERT_TRUE(MakeVideo(in, 10, 320, 240, true, 25));
    Cli cli({"probe", in, "--json"});
    ASSERT_TRUE(cli.finish());
    ASSERT_EQ(cli.code(), 0) << Said(cli);
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(cli.out().toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << cli.out().toStdString();
    EXPECT_NEAR(o["duration"].toDouble(), 10.0, 0.05);
    EXPECT_EQ(o["size"].toString(), "320x240");
    EXPECT_EQ(o["bytes"].toInteger(), QFileInfo(in).size());
    const QJsonArray streams = o["streams"].toArray();
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0]["type"].toString(), "video");
    EXPECT_EQ(streams[0]["codec"].toString(), "h264");
    EXPECT_EQ(streams[1]["type"].toString(), "audio");
    const QJsonArray keyframes = o["keyframes"].toArray();
    ASSERT_EQ(keyframes.size(), 10); // one a second
    for (int i = 0; i < keyframes.size(); ++i)
        EXPECT_NEAR(keyframes[i].toDouble(), i, 0.001);
}

// The signal sent to the program; kCtrlC: SIGINT to its whole process group, as a terminal sends
// it (the program then runs as a session of its own).
constexpr int kCtrlC = -SIGINT;

class CliSignal : public CliMedia, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignal, EndsALiveRecordingWithWhatWasReceived) {
    ASSERT_TRUE(QDir().mkpath(dir + "/media"));
    ASSERT_TRUE(MakeHls(dir + "/media/vod.m3u8", 40, 2));
    TestHttpServer srv(TestHttpServer::Mode::Http);
    LivePlaylist live(srv, dir + "/media");
    const QStringList args{"convert", srv.url("/live/live.m3u8"), "-o", out};
    const bool group = GetParam() == kCtrlC;
    Cli cli(group ? QStringList{HALVORA_CLI} + args : args,
            group ? QStringLiteral("/usr/bin/setsid") : QStringLiteral(HALVORA_CLI));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return SegmentsServed(srv).size() >= 3 && cli.err().contains("Recording: "); },
        60000))
        << cli.err().toStdString();
    const auto pid = static_cast<pid_t>(cli.pid());
    ASSERT_EQ(group ? ::kill(-pid, SIGINT) : ::kill(pid, GetParam()), 0);
    ASSERT_TRUE(cli.finish());
    EXPECT_EQ(cli.code(), 4) << Said(cli);
    const QString mp4 = out + "/output.mp4";
    EXPECT_EQ(cli.outLines(), QStringList{mp4});
    const int frames = CountVideoFrames(mp4);
    EXPECT_GE(frames, 100) << Said(cli);
    EXPECT_EQ(frames, CountVideoFrames(out + "/output.ts")) << Said(cli); // all that was received
    EXPECT_GE(AudioSeconds(mp4), 3.9);
}

INSTANTIATE_TEST_SUITE_P(SigintAndSigterm, CliSignal, ::testing::Values(SIGINT, SIGTERM, kCtrlC));

TEST_F(CliMedia, FailedDownloadKeepsThePartialAndGivesThree) {
    ASSERT_TRUE(QDir().mkpath(dir + "/hls"));
    ASSERT_TRUE(MakeHls(dir + "/hls/vod.m3u8", 4, 1));
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/hls/", dir + "/hls");
    srv.notFound("/hls/vod2.ts");
    Cli cli({"convert", srv.url("/hls/vod.m3u8"), "-o", out});
    ASSERT_TRUE(cli.finish());
    EXPECT_EQ(cli.code(), 3) << Said(cli);
    const QString ts = out + "/output.ts";
    EXPECT_EQ(cli.outLines(), QStringList{ts});
    EXPECT_TRUE(cli.err().contains("Download incomplete: 1 segment(s) missing"))
        << cli.err().toStdString();
    EXPECT_EQ(CountVideoFrames(ts), 75); // three of the four seconds arrived
    EXPECT_FALSE(QFile::exists(out + "/output.mp4"));
}

TEST_F(CliMedia, FourStartedAtOnceEachGetTheirOwnNameAndNoneIsOverwritten) {
    ASSERT_TRUE(MakeVideo(dir + "/in.ts", 3));
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_TRUE(WriteAll(out + "/in.mp4", "someone else's file"));
    const QString theirs = FileDigest(out + "/in.mp4");
    Cli cli({"-c",
             "printf '%s\\n' \"$1\" \"$1\" \"$1\" \"$1\" | xargs -P 4 -I{} \"$0\" convert {} -o "
             "\"$2\" -q",
             QStringLiteral(HALVORA_CLI), dir + "/in.ts", out},
            QStringLiteral("/bin/bash"));
    ASSERT_TRUE(cli.finish());
    ASSERT_EQ(cli.code(), 0) << Said(cli);
    const QStringList written = cli.outLines();
    const QStringList expected{out + "/in (2).mp4", out + "/in (3).mp4", out + "/in (4).mp4",
                               out + "/in (5).mp4"};
    EXPECT_EQ(QSet<QString>(written.begin(), written.end()),
              QSet<QString>(expected.begin(), expected.end()));
    for (const QString& mp4 : expected)
        EXPECT_EQ(CountVideoFrames(mp4), 75) << mp4.toStdString();
    EXPECT_EQ(FileDigest(out + "/in.mp4"), theirs);
    EXPECT_TRUE(cli.err().isEmpty()) << cli.err().toStdString(); // -q
}
