// Single and batch conversion with the real ffmpeg, on media made at test time, with HLS links
// served from 127.0.0.1.
#include "Conversion.h"
#include "FakeView.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace halvora;
using namespace halvora::test;

namespace {

class Real : public ::testing::Test {
protected:
    void SetUp() override {
        rec.passThrough();
        // A segment that keeps failing is given up after the usual 5 retries, not 31 s.
        FetchRules quick;
        quick.backoffMs = {20, 40, 60, 80, 100};
        quick.stallMs = 1500;
        flow.setFetchRules(quick);
    }

    FakeView view;
    RunRecorder rec;
    ConversionFlow flow{view, rec.runner()};
    QString dir = NewTempDir("real");

    // Serves AFolder on 127.0.0.1 and converts its playlist APlaylist, as a link, into dir.
    void ConvertServed(const QString& AFolder, const QString& APlaylist) {
        TestHttpServer srv(TestHttpServer::Mode::Http);
        srv.serveFolder("/live/", AFolder);
        view.input = srv.url("/live/" + APlaylist);
        view.output = dir;
        flow.ConvertInput();
    }
};

// A playlist of 4 s in 1 s segments, made once and copied where a test needs it.
QString HlsFixture() {
    static const QString dir = [] {
        const QString d = NewTempDir("hlsfix");
        return MakeHls(d + "/local.m3u8", 4, 1) ? d : QString();
    }();
    return dir;
}

void CopyFolder(const QString& AFrom, const QString& ATo) {
    QDir().mkpath(ATo);
    for (const QString& name : QDir(AFrom).entryList(QDir::Files))
        QFile::copy(AFrom + "/" + name, ATo + "/" + name);
}

} // namespace

TEST_F(Real, LocalTsAndPlaylistFromAnotherFolder) {
    ASSERT_TRUE(MakeVideo(dir + "/in put.ts", 3));
    view.input = dir + "/in put.ts";
    view.output = dir + "/out";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/out/in put.mp4");
    EXPECT_NEAR(ProbeSeconds(dir + "/out/in put.mp4"), 3.0, 0.3);
    EXPECT_EQ(rec.runs.size(), 1);

    // Segments listed relative to the playlist, converted while the current folder is elsewhere.
    ASSERT_FALSE(HlsFixture().isEmpty());
    CopyFolder(HlsFixture(), dir + "/rec/show1");
    ASSERT_FALSE(ReadAll(dir + "/rec/show1/local.m3u8").contains('/'));
    CurrentDir elsewhere(NewTempDir("cwd"));
    view = FakeView();
    rec.runs.clear();
    view.input = dir + "/rec/show1/local.m3u8";
    view.output = dir + "/out";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/out/local.mp4");
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_EQ(rec.runs[0].workDir, dir + "/rec/show1/");
    EXPECT_NEAR(ProbeSeconds(dir + "/out/local.mp4"), 4.0, 0.3);
    EXPECT_EQ(view.progress, 100);
}

TEST_F(Real, HlsLinkOverHttp) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    ASSERT_TRUE(srv.isListening());
    srv.serveFolder("/live/", HlsFixture());

    view.input = " " + srv.url("/live/local.m3u8") + " ";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));
    EXPECT_NEAR(ProbeSeconds(dir + "/output.mp4"), 4.0, 0.3);
    EXPECT_EQ(ProbeSize(dir + "/output.mp4"), "320x240");
    EXPECT_GE(srv.requestCount(), 5); // playlist and four segments
}

TEST_F(Real, HlsDownloadWithHolesIsAFailure) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/live/", HlsFixture());
    srv.notFound("/live/local2.ts");

    // ffmpeg skips the missing segment and ends with 0; the download still counts as failed.
    view.input = srv.url("/live/local.m3u8");
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1);
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(QFile::exists(dir + "/output.ts"));
    EXPECT_GT(QFileInfo(dir + "/output.ts").size(), 0);
    EXPECT_FALSE(QFile::exists(dir + "/output.mp4"));
    EXPECT_EQ(view.progress, 0);

    // A connection dropped in the middle of a segment.
    srv.notFound("/none");
    TestHttpServer cut(TestHttpServer::Mode::Http);
    cut.serveFolder("/live/", HlsFixture());
    cut.route("/live/local1.ts", TestHttpServer::File(HlsFixture() + "/local1.ts",
                                                      TestHttpServer::Fault::CloseMidBody));
    const QString dir2 = NewTempDir("cut");
    view = FakeView();
    rec.runs.clear();
    view.input = cut.url("/live/local.m3u8");
    view.output = dir2;
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1);
    // ffmpeg logs "Stream ends prematurely" and goes on with the next segment.
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept");
    EXPECT_TRUE(QFile::exists(dir2 + "/output.ts"));
    EXPECT_FALSE(QFile::exists(dir2 + "/output.mp4"));
}

TEST_F(Real, LinkThatDoesNotAnswer) {
    // A playlist address nothing serves: ffmpeg's own exit code is reported.
    TestHttpServer srv(TestHttpServer::Mode::Http);
    view.input = srv.url("/gone.m3u8");
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1);
    ASSERT_TRUE(view.status().startsWith("Download failed (exit="));
    EXPECT_NE(view.status(), "Download failed (exit=0). Nothing was saved");
    // Nothing arrived, so nothing is kept and nothing is claimed to be.
    EXPECT_TRUE(view.status().endsWith(". Nothing was saved"));
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_FALSE(view.boxes[0].text.contains("Partial TS kept"));
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));
    EXPECT_FALSE(QFile::exists(dir + "/output.mp4"));
}

TEST_F(Real, SilentServersStopTheDownload) {
    // A server that takes the request and never answers would hold the window forever.
    TestHttpServer mute(TestHttpServer::Mode::NeverAnswers);
    flow.setStallLimitMs(1500);
    view.input = mute.url("/live.m3u8");
    view.output = dir;
    QElapsedTimer t;
    t.start();
    flow.ConvertInput();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(view.status(), "Download stalled (no data for 2 s). Nothing was saved");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(view.boxes[0].text.startsWith("Download stalled: nothing arrived for 2 s"));
    EXPECT_FALSE(view.boxes[0].text.contains("Partial TS kept"));
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));

    // One that stops sending in the middle of a segment.
    ASSERT_FALSE(HlsFixture().isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/live/", HlsFixture());
    TestHttpServer::Reply stall = TestHttpServer::File(HlsFixture() + "/local2.ts");
    stall.fault = TestHttpServer::Fault::StallAfterHeaders;
    srv.route("/live/local2.ts", stall);
    const QString dir2 = NewTempDir("stall");
    view = FakeView();
    view.input = srv.url("/live/local.m3u8");
    view.output = dir2;
    flow.ConvertInput();
    // The fetcher gives the stalled segment up after its retries; the rest is kept.
    const QFileInfo ts(dir2 + "/output.ts");
    EXPECT_GT(ts.size(), 0);
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept");
    EXPECT_FALSE(QFile::exists(dir2 + "/output.mp4"));
}

TEST_F(Real, FastModeFallsBackOnceToReencoding) {
    // AAC in LATM framing: the MP4 muxer refuses to copy it.
    ASSERT_TRUE(MakeVideo(dir + "/latm.ts", 2, 320, 240, true, 25,
                          {"-f", "mpegts", "-mpegts_flags", "latm"}));
    QStringList statusAtRun;
    rec.next = [&](const Command& ACmd, const RunOptions& AOptions) {
        statusAtRun << view.status();
        return RunCommand(ACmd, AOptions);
    };
    view.input = dir + "/latm.ts";
    view.output = dir;
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(rec.runs[0].text.contains(" -c copy "));
    EXPECT_TRUE(rec.runs[1].text.contains(" -c:v libx264 -preset medium -c:a aac "));
    EXPECT_EQ(statusAtRun[1], "Fast mode failed, switching to re-encode...");
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/latm.mp4");
    EXPECT_NEAR(ProbeSeconds(dir + "/latm.mp4"), 2.0, 0.3);
}

TEST_F(Real, LocalPlaylistWithAMissingSegment) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    CopyFolder(HlsFixture(), dir + "/show");
    ASSERT_TRUE(QFile::remove(dir + "/show/local1.ts"));
    view.input = dir + "/show/local.m3u8";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1); // re-encoding cannot bring it back
    EXPECT_EQ(view.status(), "Conversion incomplete: 1 segment(s) missing");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "Conversion incomplete: 1 segment(s) of the playlist could not "
                                  "be read.\r\nThe MP4 lacks them: " +
                                      dir + "/local.mp4");
}

TEST_F(Real, MissingInputAndBrokenFFmpeg) {
    // A missing input ends in ffmpeg's own failure, after the re-encoding attempt.
    view.input = dir + "/nothing.ts";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(view.status().startsWith("Conversion failed (exit="));
    EXPECT_NE(view.status(), "Conversion failed (exit=0)");

    // ffmpeg killed while it runs: the exit code tells the signal, the input is untouched.
    ASSERT_TRUE(MakeVideo(dir + "/keep.ts", 1));
    const QByteArray before = ReadAll(dir + "/keep.ts");
    const QString killer = dir + "/ffmpeg";
    ASSERT_TRUE(WriteAll(killer, "#!/bin/sh\nkill -9 $$\n"));
    QFile::setPermissions(killer, QFile::permissions(killer) | QFileDevice::ExeOwner);
    FakeView v2;
    RunRecorder r2;
    r2.passThrough();
    ConversionFlow killed(v2, r2.runner(), [&] { return killer; });
    v2.input = dir + "/keep.ts";
    v2.output = dir + "/o";
    killed.ConvertInput();
    EXPECT_EQ(v2.status(), "Conversion failed (exit=137)");
    EXPECT_EQ(ReadAll(dir + "/keep.ts"), before);

    // ffmpeg gone between the check and the run.
    FakeView v3;
    RunRecorder r3;
    r3.passThrough();
    ConversionFlow gone(v3, r3.runner(), [&] { return dir + "/no/ffmpeg"; });
    v3.input = dir + "/keep.ts";
    v3.output = dir + "/o";
    gone.ConvertInput();
    EXPECT_EQ(v3.status(), "Conversion failed (exit=-1)");
}

TEST_F(Real, BatchOverSavedStreams) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    const QString root = dir + "/root";
    CopyFolder(HlsFixture(), root + "/alpha"); // local.m3u8 with its segments
    for (const char* sub : {"beta", "empty", ".hidden", "deep/inner", "broken"})
        QDir().mkpath(root + "/" + sub);
    ASSERT_TRUE(MakeVideo(root + "/beta/local.ts", 2));
    ASSERT_TRUE(MakeVideo(root + "/.hidden/local.ts", 1));
    ASSERT_TRUE(MakeVideo(root + "/deep/inner/local.ts", 1));
    ASSERT_TRUE(WriteAll(root + "/broken/local.ts", "this is not a transport stream"));
    ASSERT_TRUE(MakeVideo(root + "/local.ts", 1)); // in the root itself: not converted

    view.root = root + " ";
    view.output = " " + dir + "/out/batch";
    QStringList bar;
    view.onClosedCheck = [&] { bar << QStringLiteral("%1/%2").arg(view.progress).arg(view.max); };
    flow.ConvertBatch();

    QStringList items;
    for (const QString& s : view.statuses)
        if (s.startsWith("Converting ") && !s.contains(" / "))
            items << s;
    ASSERT_EQ(items.size(), 3);
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(items[i].startsWith(QStringLiteral("Converting %1/3: ").arg(i + 1)));
        names << items[i].section(": ", 1);
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{"alpha", "beta", "broken"}));
    const QString out = dir + "/out/batch";
    EXPECT_NEAR(ProbeSeconds(out + "/alpha.mp4"), 4.0, 0.3);
    EXPECT_NEAR(ProbeSeconds(out + "/beta.mp4"), 2.0, 0.3);
    EXPECT_FALSE(QFile::exists(out + "/.hidden.mp4"));
    EXPECT_FALSE(QFile::exists(out + "/deep.mp4"));
    EXPECT_FALSE(QFile::exists(out + "/empty.mp4"));
    EXPECT_EQ(view.status(), "Batch done: 2/3 succeeded, output: " + out);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Batch conversion complete! 2/3 succeeded\r\nOutput dir: " + out);
    EXPECT_EQ(view.progress, 300);
    EXPECT_TRUE(bar.startsWith("0/300"));
}

namespace {

// A playlist unlike HlsFixture(): 2 s at 160x120.
QString SmallHlsFixture() {
    static const QString dir = [] {
        const QString d = NewTempDir("hlssmall");
        return MakeHls(d + "/local.m3u8", 2, 1, 160, 120) ? d : QString();
    }();
    return dir;
}

} // namespace

TEST_F(Real, TwoLinksInARowKeepBothRecordings) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    ASSERT_FALSE(SmallHlsFixture().isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Https);
    ASSERT_TRUE(srv.isListening());
    srv.serveFolder("/one/", HlsFixture());
    srv.serveFolder("/two/", SmallHlsFixture());

    view.input = srv.url("/one/local.m3u8");
    view.output = dir;
    flow.ConvertInput();
    ASSERT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    const QString first = FileDigest(dir + "/output.mp4");

    view = FakeView();
    view.input = srv.url("/two/local.m3u8");
    view.output = dir;
    flow.ConvertInput();
    const QString second = dir + "/output (2).mp4";
    EXPECT_EQ(view.status(), "Conversion complete: " + second);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Conversion complete!\r\n" + second);
    // The TS went to the MP4's number and is gone after the conversion.
    EXPECT_TRUE(rec.runs.last().text.contains("\"" + dir + "/output (2).ts\""));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name),
              (QStringList{"output (2).mp4", "output.mp4"}));

    EXPECT_EQ(FileDigest(dir + "/output.mp4"), first);
    EXPECT_EQ(ProbeSize(dir + "/output.mp4"), "320x240");
    EXPECT_EQ(CountVideoFrames(dir + "/output.mp4"), 100);
    EXPECT_EQ(ProbeSize(second), "160x120");
    EXPECT_EQ(CountVideoFrames(second), 50);
}

TEST_F(Real, KeptPartialTsSurvivesTheNextDownload) {
    ASSERT_FALSE(HlsFixture().isEmpty());
    TestHttpServer holes(TestHttpServer::Mode::Https);
    holes.serveFolder("/live/", HlsFixture());
    holes.notFound("/live/local2.ts");
    view.input = holes.url("/live/local.m3u8");
    view.output = dir;
    flow.ConvertInput();
    ASSERT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept");
    const QString partial = FileDigest(dir + "/output.ts");
    ASSERT_FALSE(partial.isEmpty());
    ASSERT_GT(QFileInfo(dir + "/output.ts").size(), 0);
    EXPECT_FALSE(QFile::exists(dir + "/output.mp4")); // no placeholder left behind

    TestHttpServer srv(TestHttpServer::Mode::Https);
    srv.serveFolder("/live/", HlsFixture());
    view = FakeView();
    view.input = srv.url("/live/local.m3u8");
    view.output = dir;
    flow.ConvertInput();
    // output.mp4 is free, but the pair's number is not.
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output (2).mp4");
    EXPECT_EQ(FileDigest(dir + "/output.ts"), partial);
    EXPECT_EQ(CountVideoFrames(dir + "/output (2).mp4"), 100);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name),
              (QStringList{"output (2).mp4", "output.ts"}));
}

TEST_F(Real, SameNamesFromOtherFoldersAndBatchRoots) {
    // Two local files of one name.
    for (const char* sub : {"a", "b", "root1/show", "root2/show", "root2/news"})
        QDir().mkpath(dir + "/" + sub);
    ASSERT_TRUE(MakeVideo(dir + "/a/clip.ts", 3));
    ASSERT_TRUE(MakeVideo(dir + "/b/clip.ts", 2, 160, 120));
    const QString out = dir + "/out";
    view.input = dir + "/a/clip.ts";
    view.output = out;
    flow.ConvertInput();
    ASSERT_EQ(view.status(), "Conversion complete: " + out + "/clip.mp4");
    const QString first = FileDigest(out + "/clip.mp4");
    view = FakeView();
    view.input = dir + "/b/clip.ts";
    view.output = out;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + out + "/clip (2).mp4");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Conversion complete!\r\n" + out + "/clip (2).mp4");
    EXPECT_EQ(FileDigest(out + "/clip.mp4"), first);
    EXPECT_EQ(CountVideoFrames(out + "/clip.mp4"), 75);
    EXPECT_EQ(ProbeSize(out + "/clip (2).mp4"), "160x120");
    EXPECT_EQ(CountVideoFrames(out + "/clip (2).mp4"), 50);

    // Two batch roots with a folder of one name, into one output folder.
    ASSERT_TRUE(MakeVideo(dir + "/root1/show/local.ts", 2));
    ASSERT_TRUE(MakeVideo(dir + "/root2/show/local.ts", 1, 160, 120));
    ASSERT_TRUE(MakeVideo(dir + "/root2/news/local.ts", 1));
    view = FakeView();
    view.root = dir + "/root1";
    view.output = out;
    flow.ConvertBatch();
    ASSERT_EQ(view.status(), "Batch done: 1/1 succeeded, output: " + out);
    const QString show = FileDigest(out + "/show.mp4");
    view = FakeView();
    view.root = dir + "/root2";
    view.output = out;
    flow.ConvertBatch();
    EXPECT_EQ(view.status(),
              "Batch done: 2/2 succeeded, output: " + out + "; renamed: show (2).mp4");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Batch conversion complete! 2/2 succeeded\r\nOutput dir: " + out +
                                      "\r\n\r\nSaved under a new name (the name was taken):\r\n"
                                      "show.mp4 -> show (2).mp4");
    EXPECT_EQ(FileDigest(out + "/show.mp4"), show);
    EXPECT_EQ(CountVideoFrames(out + "/show.mp4"), 50);
    EXPECT_EQ(ProbeSize(out + "/show (2).mp4"), "160x120");
    EXPECT_EQ(CountVideoFrames(out + "/show (2).mp4"), 25);
    EXPECT_EQ(CountVideoFrames(out + "/news.mp4"), 25);
}

// Two Halvora processes converting into one folder at once, while others keep reserving the
// names a link would take.
TEST(Race, ProcessesStartedAtOncePickDifferentNames) {
    const QString dir = NewTempDir("race");
    QDir().mkpath(dir + "/in");
    ASSERT_TRUE(MakeVideo(dir + "/in/clip.ts", 2));
    const QString out = dir + "/out";
    ASSERT_TRUE(QDir().mkpath(out));
    const QString go = dir + "/go";
    std::vector<std::unique_ptr<QProcess>> converters;
    std::vector<std::unique_ptr<QProcess>> reservers;
    auto start = [&](std::vector<std::unique_ptr<QProcess>>& AList, const QStringList& AArgs) {
        auto p = std::make_unique<QProcess>();
        p->setProgram(QStringLiteral(NAME_RACER));
        p->setArguments(QStringList{go} + AArgs);
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start();
        ASSERT_TRUE(p->waitForStarted());
        AList.push_back(std::move(p));
    };
    for (int i = 0; i < 2; ++i)
        start(converters, {"convert", dir + "/in/clip.ts", out});
    const int kRounds = 50;
    const int kReservers = 4;
    for (int i = 0; i < kReservers; ++i)
        start(reservers,
              {"reserve", QString::number(kRounds), out + "/output.ts", out + "/output.mp4"});
    ASSERT_TRUE(WriteAll(go, ""));

    QStringList statuses;
    for (auto& p : converters) {
        ASSERT_TRUE(p->waitForFinished(300000));
        EXPECT_EQ(p->exitCode(), 0);
        statuses << QString::fromUtf8(p->readAllStandardOutput()).trimmed();
    }
    statuses.sort();
    EXPECT_EQ(statuses, (QStringList{"Conversion complete: " + out + "/clip (2).mp4",
                                     "Conversion complete: " + out + "/clip.mp4"}));
    EXPECT_EQ(CountVideoFrames(out + "/clip.mp4"), 50);
    EXPECT_EQ(CountVideoFrames(out + "/clip (2).mp4"), 50);

    QSet<QString> names;
    int lines = 0;
    static const QRegularExpression pair(QStringLiteral("^(.*/output(?: \\((\\d+)\\))?)\\.ts\\t"
                                                        "\\1\\.mp4$"));
    for (auto& p : reservers) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0);
        for (const QString& line :
             QString::fromUtf8(p->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
            ++lines;
            EXPECT_TRUE(pair.match(line).hasMatch()) << line.toStdString(); // one number
            names.insert(line);
        }
    }
    EXPECT_EQ(lines, kReservers * kRounds);
    EXPECT_EQ(names.size(), kReservers * kRounds); // no two reservations alike
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 2 + 2 * kReservers * kRounds);
}

namespace {

const QList<ToneTrack> kThreeTones{
    {300, "eng", "Main", false}, {500, "deu", "", false}, {800, "fra", "Description", true}};

QString Lang(const QString& ALanguage) {
    return ALanguage.isEmpty() ? QStringLiteral("und") : ALanguage;
}

// The MP4 holds one video and exactly the tones of ASource as audio tracks, in order, with the
// language and visually-impaired mark that ffmpeg reads from the source.
void ExpectTones(const QString& AFile, const QString& ASource, const QList<ToneTrack>& ATones,
                 int ASubtitles = 0) {
    SCOPED_TRACE(AFile.toStdString());
    const QList<TrackInfo> tracks = ProbeTracks(AFile);
    QList<TrackInfo> sourceAudio;
    for (const TrackInfo& t : ProbeTracks(ASource))
        if (t.type == "audio")
            sourceAudio << t;
    ASSERT_EQ(sourceAudio.size(), ATones.size());
    ASSERT_EQ(tracks.size(), ATones.size() + 1 + ASubtitles);
    EXPECT_EQ(tracks[0].type, "video");
    for (int i = 0; i < ATones.size(); ++i) {
        const TrackInfo& t = tracks[i + 1];
        EXPECT_EQ(t.type, "audio") << i;
        EXPECT_EQ(t.codec, "aac") << i;
        EXPECT_EQ(Lang(t.language), Lang(sourceAudio[i].language)) << i;
        EXPECT_EQ(t.visualImpaired, sourceAudio[i].visualImpaired) << i;
        EXPECT_EQ(t.isDefault, i == 0) << i;
        EXPECT_NEAR(ToneFrequency(AFile, i), ATones[i].frequency, 5) << i;
        EXPECT_NEAR(ToneFrequency(ASource, i), ATones[i].frequency, 5) << i;
    }
}

} // namespace

TEST_F(Real, OneVideoOneAudioGivesTheSameBytesAsBefore) {
    ASSERT_TRUE(MakeVideo(dir + "/one.ts", 2));
    // Today's templates, run by hand, against the flow's commands.
    ASSERT_TRUE(RunFixtureFFmpeg(
        {"-i", dir + "/one.ts", "-c", "copy", "-movflags", "+faststart", dir + "/old.mp4"}));
    ASSERT_TRUE(RunFixtureFFmpeg({"-i", dir + "/one.ts", "-c:v", "libx264", "-preset", "medium",
                                  "-c:a", "aac", "-movflags", "+faststart", dir + "/oldre.mp4"}));
    EXPECT_TRUE(flow.ConvertFile(dir + "/one.ts", dir + "/new.mp4").done());
    view.fast = false;
    EXPECT_TRUE(flow.ConvertFile(dir + "/one.ts", dir + "/newre.mp4").done());
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(rec.runs[0].text.contains(" -map 0:0 -map 0:1 -c copy "));
    EXPECT_EQ(ReadAll(dir + "/new.mp4"), ReadAll(dir + "/old.mp4"));
    EXPECT_EQ(ReadAll(dir + "/newre.mp4"), ReadAll(dir + "/oldre.mp4"));
    EXPECT_GT(ReadAll(dir + "/new.mp4").size(), 1000);

    // The download of a link, too.
    ASSERT_FALSE(HlsFixture().isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    srv.serveFolder("/live/", HlsFixture());
    ASSERT_TRUE(RunFixtureFFmpeg({"-allowed_extensions", "ALL", "-i", srv.url("/live/local.m3u8"),
                                  "-c", "copy", "-f", "mpegts", dir + "/old.ts"}));
    EXPECT_TRUE(flow.DownloadStream(srv.url("/live/local.m3u8"), dir + "/new.ts").done());
    EXPECT_EQ(ReadAll(dir + "/new.ts"), ReadAll(dir + "/old.ts"));
}

TEST_F(Real, EveryAudioTrackSurvivesConversionBatchAndFallback) {
    ASSERT_TRUE(MakeToneVideo(dir + "/three.ts", 2, kThreeTones, true));
    const QList<TrackInfo> source = ProbeTracks(dir + "/three.ts");
    ASSERT_EQ(source.size(), 5);
    ASSERT_EQ(source[4].codec, "dvb_subtitle");
    const QString note = "DVB subtitles were not kept: MP4 cannot hold them";

    view.input = dir + "/three.ts";
    view.output = dir + "/single";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/single/three.mp4. " + note);
    const QList<TrackInfo> tagged = ProbeTracks(dir + "/three.ts");
    EXPECT_EQ(tagged[3].language, "fra");
    EXPECT_TRUE(tagged[3].visualImpaired);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text,
              "Conversion complete!\r\n" + dir + "/single/three.mp4\r\n\r\n" + note);
    ExpectTones(dir + "/single/three.mp4", dir + "/three.ts", kThreeTones);

    // A batch item; the note comes once in the summary.
    const QString root = dir + "/root";
    QDir().mkpath(root + "/show");
    QDir().mkpath(root + "/plain");
    ASSERT_TRUE(QFile::copy(dir + "/three.ts", root + "/show/local.ts"));
    ASSERT_TRUE(MakeVideo(root + "/plain/local.ts", 1));
    view = FakeView();
    view.root = root;
    view.output = dir + "/batch";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "Batch done: 2/2 succeeded, output: " + dir + "/batch. " + note);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_TRUE(view.boxes[0].text.endsWith("/batch\r\n\r\n" + note));
    ExpectTones(dir + "/batch/show.mp4", dir + "/three.ts", kThreeTones);
    ExpectTones(dir + "/batch/plain.mp4", root + "/plain/local.ts", {{440, "", "", false}});

    // The re-encoding fallback: AAC in LATM framing cannot be copied into MP4.
    ASSERT_TRUE(MakeToneVideo(dir + "/latm.ts", 2, kThreeTones, true,
                              {"-f", "mpegts", "-mpegts_flags", "latm"}));
    view = FakeView();
    rec.runs.clear();
    view.input = dir + "/latm.ts";
    view.output = dir;
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(rec.runs[1].text.contains(" -c:v libx264 -preset medium -c:a aac "));
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/latm.mp4. " + note);
    ExpectTones(dir + "/latm.mp4", dir + "/latm.ts", kThreeTones);
}

TEST_F(Real, TitlesAndTextSubtitlesOfAMatroskaInput) {
    const QList<ToneTrack> tones{{300, "eng", "Main", false}, {600, "spa", "Commentary", false}};
    ASSERT_TRUE(WriteAll(dir + "/s.srt", "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n"));
    ASSERT_TRUE(MakeToneVideo(dir + "/v.mkv", 2, tones));
    ASSERT_TRUE(
        RunFixtureFFmpeg({"-i", dir + "/v.mkv", "-i", dir + "/s.srt", "-map", "0", "-map", "1",
                          "-c", "copy", "-metadata:s:s:0", "language=eng", dir + "/subbed.mkv"}));
    view.input = dir + "/subbed.mkv";
    view.output = dir + "/out";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/out/subbed.mp4");
    ASSERT_EQ(ProbeTracks(dir + "/subbed.mkv")[1].title, "Main");
    const QList<TrackInfo> tracks = ProbeTracks(dir + "/out/subbed.mp4");
    ASSERT_EQ(tracks.size(), 4);
    EXPECT_EQ(tracks[3].codec, "mov_text");
    EXPECT_EQ(tracks[3].language, "eng");
    ExpectTones(dir + "/out/subbed.mp4", dir + "/subbed.mkv", tones, 1);
    // MP4 keeps a track's title in its "name" box, which this ffmpeg's reader does not report.
    const QByteArray mp4 = ReadAll(dir + "/out/subbed.mp4");
    EXPECT_LT(mp4.indexOf("nameMain"), mp4.indexOf("nameCommentary"));
    EXPECT_GE(mp4.indexOf("nameMain"), 0);
}

TEST_F(Real, HlsLinkWithTwoAudioTracksInItsSegments) {
    const QString hls = NewTempDir("hls2");
    const QList<ToneTrack> tones{{300, "eng", "", false}, {700, "deu", "", false}};
    ASSERT_TRUE(MakeToneVideo(
        hls + "/local.m3u8", 3, tones, false,
        {"-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type", "vod"}));
    ConvertServed(hls, "local.m3u8");
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    // ffmpeg's HLS reader passes on no language tags of the segments; the flow puts them back.
    ExpectTones(dir + "/output.mp4", hls + "/local0.ts", tones);
    double seconds = 0;
    ToneFrequency(dir + "/output.mp4", 1, &seconds);
    EXPECT_NEAR(seconds, 3.0, 0.3);
}

TEST_F(Real, HlsLinkWithAudioRenditionsKeepsTheDefaultOne) {
    const QString hls = NewTempDir("rend");
    const QStringList segmenting{
        "-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type", "vod"};
    ASSERT_TRUE(MakeVideo(hls + "/video.m3u8", 3, 320, 240, false, 25, segmenting));
    for (const auto& [name, tone] : {std::pair{"eng", 300}, std::pair{"deu", 700}})
        ASSERT_TRUE(RunFixtureFFmpeg(
            QStringList{"-f", "lavfi", "-i",
                        QStringLiteral("sine=frequency=%1:duration=3").arg(tone), "-c:a", "aac"} +
            segmenting +
            QStringList{"-hls_segment_filename", hls + "/" + name + "%d.ts",
                        hls + "/" + name + ".m3u8"}));
    ASSERT_TRUE(WriteAll(hls + "/master.m3u8",
                         "#EXTM3U\n"
                         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"English\",LANGUAGE="
                         "\"eng\",DEFAULT=NO,AUTOSELECT=YES,URI=\"eng.m3u8\"\n"
                         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"Deutsch\",LANGUAGE="
                         "\"deu\",DEFAULT=YES,AUTOSELECT=YES,URI=\"deu.m3u8\"\n"
                         "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x240,AUDIO=\"aud\"\n"
                         "video.m3u8\n"));
    ConvertServed(hls, "master.m3u8");
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    const QList<TrackInfo> tracks = ProbeTracks(dir + "/output.mp4");
    ASSERT_EQ(tracks.size(), 2);
    EXPECT_EQ(tracks[0].type, "video");
    EXPECT_EQ(tracks[1].language, "deu");
    EXPECT_NEAR(ToneFrequency(dir + "/output.mp4", 0), 700, 5);
}

namespace {

// The first video stream's start time in seconds (a TS lists it under its program too).
double VideoStart(const QString& AFile) {
    return RunTool("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=start_time", "-of", "csv=p=0", AFile})
        .trimmed()
        .split('\n')
        .value(0)
        .toDouble();
}

struct Cue {
    double start = 0; // seconds after the first picture
    double end = 0;
    QString text;
};

// The cues of the MP4's subtitle track AIndex: texts as "-f srt" gives them, times from the
// track's samples (the empty samples that fill the gaps left out), counted from the first
// picture.
QList<Cue> CuesOf(const QString& AMp4, int AIndex) {
    const double video = VideoStart(AMp4);
    QList<Cue> cues;
    const QString samples = QString::fromUtf8(
        RunTool("/usr/bin/ffprobe",
                {"-v", "error", "-select_streams", QStringLiteral("s:%1").arg(AIndex),
                 "-show_entries", "packet=pts_time,duration_time,size", "-of", "csv=p=0", AMp4}));
    for (const QString& line : samples.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(',');
        if (f.size() == 3 && f[2].toInt() > 2)
            cues << Cue{f[0].toDouble() - video, f[0].toDouble() + f[1].toDouble() - video, {}};
    }
    const QString srt = QString::fromUtf8(
        RunTool(FixtureFFmpeg(), {"-v", "error", "-i", AMp4, "-map",
                                  QStringLiteral("0:s:%1").arg(AIndex), "-f", "srt", "-"}));
    qsizetype k = 0;
    // The srt writer ends the lines within a cue with CRLF.
    for (const QString& block : srt.split("\n\n", Qt::SkipEmptyParts)) {
        const QStringList lines = block.split('\n');
        if (lines.size() >= 3 && k < cues.size())
            cues[k++].text = lines.mid(2).join("\n").remove(QChar(u'\r')).trimmed();
    }
    return cues;
}

// Video, audio, then English (the default) and French subtitles as mov_text, 100 pictures.
void ExpectEnglishAndFrench(const QString& AMp4) {
    const QList<TrackInfo> tracks = ProbeTracks(AMp4);
    ASSERT_EQ(tracks.size(), 4);
    EXPECT_EQ(tracks[0].type, "video");
    EXPECT_EQ(tracks[1].type, "audio");
    EXPECT_EQ(tracks[2].codec, "mov_text");
    EXPECT_EQ(tracks[2].language, "eng");
    EXPECT_TRUE(tracks[2].isDefault);
    EXPECT_EQ(tracks[3].codec, "mov_text");
    EXPECT_EQ(tracks[3].language, "fra");
    EXPECT_FALSE(tracks[3].isDefault);
    EXPECT_EQ(CountVideoFrames(AMp4), 100);
    EXPECT_GE(ReadAll(AMp4).indexOf("nameEnglish"), 0);
}

// A finished media playlist of WebVTT segments, 2 s each.
QByteArray VttPlaylist(const QStringList& ASegments) {
    QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    for (const QString& s : ASegments)
        text += "#EXTINF:2.0,\n" + s.toUtf8() + "\n";
    return text + "#EXT-X-ENDLIST\n";
}

// A master of video.m3u8 with English (en.m3u8, the default) and French (fr.m3u8) subtitles.
QByteArray SubtitledMaster() {
    return "#EXTM3U\n"
           "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"subs\",NAME=\"English\",LANGUAGE="
           "\"en\",DEFAULT=YES,AUTOSELECT=YES,URI=\"en.m3u8\"\n"
           "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"subs\",NAME=\"Fran\xc3\xa7"
           "ais\",LANGUAGE=\"fr-CA\",DEFAULT=NO,URI=\"fr.m3u8\"\n"
           "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x240,SUBTITLES=\"subs\"\n"
           "video.m3u8\n";
}

void ExpectCues(const QList<Cue>& AGot, const QList<Cue>& AWanted) {
    ASSERT_EQ(AGot.size(), AWanted.size());
    for (qsizetype i = 0; i < AGot.size(); ++i) {
        EXPECT_EQ(AGot[i].text, AWanted[i].text) << i;
        EXPECT_NEAR(AGot[i].start, AWanted[i].start, 0.04) << i; // a frame at 25 fps
        EXPECT_NEAR(AGot[i].end, AWanted[i].end, 0.04) << i;
    }
}

} // namespace

TEST_F(Real, HlsLinkWithWebVttSubtitlesKeepsThemAsMovText) {
    const QString hls = NewTempDir("vtt");
    const QStringList segmenting{
        "-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type", "vod"};
    ASSERT_TRUE(MakeVideo(hls + "/video.m3u8", 4, 320, 240, true, 25, segmenting));
    // Where the picture begins on the segments' MPEG-TS clock, which the subtitles refer to.
    const qint64 pts = std::llround(VideoStart(hls + "/video0.ts") * 90000);
    ASSERT_GT(pts, 0);
    // English in two segments whose local clock reads 15 s where the picture's reads 5 s; a cue
    // that spans both is listed in each. French on the MPEG-TS clock itself, CRLF line ends.
    const QByteArray enMap =
        QStringLiteral("WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:%1,LOCAL:00:00:15.000\n\n")
            .arg(pts + 5 * 90000)
            .toUtf8();
    ASSERT_TRUE(
        WriteAll(hls + "/en0.vtt", enMap + "1\n00:00:10.500 --> 00:00:11.500\nHello\n\n"
                                           "00:00:11.800 --> 00:00:12.400 align:start\nSpans\n"));
    ASSERT_TRUE(
        WriteAll(hls + "/en1.vtt", enMap + "NOTE a comment\n\n"
                                           "00:00:11.800 --> 00:00:12.400 align:start\nSpans\n\n"
                                           "00:00:12.960 --> 00:00:13.600\nWorld\nsecond line\n"));
    ASSERT_TRUE(WriteAll(hls + "/fr0.vtt",
                         QStringLiteral("WEBVTT\r\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:%1\r\n"
                                        "\r\n00:01.000 --> 00:02.000\r\nBonjour\r\n")
                             .arg(pts)
                             .toUtf8()));
    ASSERT_TRUE(WriteAll(hls + "/en.m3u8", VttPlaylist({"en0.vtt", "en1.vtt"})));
    ASSERT_TRUE(WriteAll(hls + "/fr.m3u8", VttPlaylist({"fr0.vtt"})));
    ASSERT_TRUE(WriteAll(hls + "/master.m3u8", SubtitledMaster()));
    TestHttpServer srv; // HTTPS, as services publish
    srv.exportServiceEnv();
    srv.serveFolder("/hls/", hls);
    view.input = srv.url("/hls/master.m3u8");
    view.output = dir;
    flow.ConvertInput();
    const QString mp4 = dir + "/output.mp4";
    EXPECT_EQ(view.status(), "Conversion complete: " + mp4);
    EXPECT_TRUE(view.statuses.contains("Saving subtitles (English)..."));
    EXPECT_FALSE(QFileInfo::exists(dir + "/output.ts"));
    ExpectEnglishAndFrench(mp4);
    QList<TrackInfo> tracks;
    ExpectCues(CuesOf(mp4, 0),
               {{0.5, 1.5, "Hello"}, {1.8, 2.4, "Spans"}, {2.96, 3.6, "World\nsecond line"}});
    ExpectCues(CuesOf(mp4, 1), {{1.0, 2.0, "Bonjour"}});
    // No subtitle file is left behind, in the output folder or elsewhere.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"output.mp4"});

    // Once more into a new folder.
    const auto convertAgain = [&](const QString& AHint) {
        dir = NewTempDir(AHint);
        view = FakeView();
        view.input = srv.url("/hls/master.m3u8");
        view.output = dir;
        flow.ConvertInput();
    };
    // A rendition whose segment is missing is left out, and named; the video still converts.
    srv.notFound("/hls/fr0.vtt");
    convertAgain("vtt-lost");
    const QString lost = "The link's subtitle tracks could not be saved and were not kept";
    EXPECT_EQ(view.status(),
              "Conversion complete: " + dir + "/output.mp4. " + lost + ": Fran\u00e7ais");
    tracks = ProbeTracks(dir + "/output.mp4");
    ASSERT_EQ(tracks.size(), 3);
    EXPECT_EQ(tracks[2].language, "eng");

    // None can be read: the video converts, and the box says so.
    srv.notFound("/hls/en.m3u8");
    convertAgain("vtt-none");
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4. " + lost);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_TRUE(view.boxes[0].text.endsWith("\r\n\r\n" + lost));
    EXPECT_EQ(ProbeTracks(dir + "/output.mp4").size(), 2);
    EXPECT_EQ(CountVideoFrames(dir + "/output.mp4"), 100);
}

TEST_F(Real, SavedMasterPlaylistKeepsItsWebVttSubtitles) {
    const QString root = dir + "/root";
    const QString hls = root + "/alpha";
    const QStringList segmenting{
        "-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type", "vod"};
    ASSERT_TRUE(QDir().mkpath(hls));
    ASSERT_TRUE(MakeVideo(hls + "/video.m3u8", 4, 320, 240, true, 25, segmenting));
    const qint64 pts = std::llround(VideoStart(hls + "/video0.ts") * 90000);
    ASSERT_GT(pts, 0);
    // English in two segments on a local clock 5 s ahead of the picture's; French on the
    // MPEG-TS clock itself.
    const QByteArray enMap =
        QStringLiteral("WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:%1,LOCAL:00:00:05.000\n\n")
            .arg(pts)
            .toUtf8();
    ASSERT_TRUE(WriteAll(hls + "/en0.vtt", enMap + "00:00:05.500 --> 00:00:06.500\nHello\n"));
    ASSERT_TRUE(WriteAll(hls + "/en1.vtt", enMap + "00:00:07.960 --> 00:00:08.600\nWorld\n"));
    const QByteArray fr = QStringLiteral("WEBVTT\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:%1\n"
                                         "\n00:01.000 --> 00:02.000\nBonjour\n")
                              .arg(pts)
                              .toUtf8();
    ASSERT_TRUE(WriteAll(hls + "/fr0.vtt", fr));
    ASSERT_TRUE(WriteAll(root + "/outside.vtt", fr));
    ASSERT_TRUE(WriteAll(hls + "/en.m3u8", VttPlaylist({"en0.vtt", "en1.vtt"})));
    ASSERT_TRUE(WriteAll(hls + "/fr.m3u8", VttPlaylist({"fr0.vtt"})));
    ASSERT_TRUE(WriteAll(hls + "/local.m3u8", SubtitledMaster()));
    CopyFolder(hls, root + "/beta");
    const QString lost = "The playlist's subtitle tracks could not be saved and were not kept";
    const auto convert = [&](const QString& AOut) {
        view = FakeView();
        view.input = hls + "/local.m3u8";
        view.output = AOut;
        flow.ConvertInput();
        return AOut + "/local.mp4";
    };

    QString mp4 = convert(dir + "/one");
    EXPECT_EQ(view.status(), "Conversion complete: " + mp4);
    EXPECT_TRUE(view.statuses.contains("Saving subtitles (English)..."));
    ExpectEnglishAndFrench(mp4);
    QList<TrackInfo> tracks;
    ExpectCues(CuesOf(mp4, 0), {{0.5, 1.5, "Hello"}, {2.96, 3.6, "World"}});
    ExpectCues(CuesOf(mp4, 1), {{1.0, 2.0, "Bonjour"}});
    EXPECT_EQ(QDir(dir + "/one").entryList(QDir::Files), QStringList{"local.mp4"});

    // A missing segment: that rendition is left out and named; the rest is kept.
    ASSERT_TRUE(QFile::remove(hls + "/fr0.vtt"));
    mp4 = convert(dir + "/two");
    EXPECT_EQ(view.status(), "Conversion complete: " + mp4 + ". " + lost + ": Fran\u00e7ais");
    tracks = ProbeTracks(mp4);
    ASSERT_EQ(tracks.size(), 3);
    EXPECT_EQ(tracks[2].language, "eng");
    ExpectCues(CuesOf(mp4, 0), {{0.5, 1.5, "Hello"}, {2.96, 3.6, "World"}});

    // A segment outside the playlist's folder is not read, though it exists: none is kept.
    ASSERT_TRUE(WriteAll(hls + "/en.m3u8", VttPlaylist({"../outside.vtt"})));
    mp4 = convert(dir + "/three");
    EXPECT_EQ(view.status(), "Conversion complete: " + mp4 + ". " + lost);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_TRUE(view.boxes[0].text.endsWith("\r\n\r\n" + lost));
    EXPECT_EQ(ProbeTracks(mp4).size(), 2);
    EXPECT_EQ(CountVideoFrames(mp4), 100);

    // A batch names the folders whose subtitles were not all kept.
    view = FakeView();
    view.root = root;
    view.output = dir + "/batch";
    flow.ConvertBatch();
    const QString out = dir + "/batch";
    EXPECT_EQ(view.status(), "Batch done: 2/2 succeeded, output: " + out + ". " + lost + ": alpha");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_TRUE(view.boxes[0].text.endsWith("\r\n\r\n" + lost + ": alpha"));
    EXPECT_EQ(ProbeTracks(out + "/alpha.mp4").size(), 2);
    EXPECT_EQ(ProbeTracks(out + "/beta.mp4").size(), 4);
    ExpectCues(CuesOf(out + "/beta.mp4", 1), {{1.0, 2.0, "Bonjour"}});

    CopyFolder(hls, root + "/gamma");
    view = FakeView();
    view.root = root;
    view.output = dir + "/batch2";
    flow.ConvertBatch();
    EXPECT_TRUE(view.status().endsWith(
        ". The playlists' subtitle tracks could not be saved and were not kept: alpha, gamma"))
        << view.status().toStdString();
}

// An HDR video saved as TS (titles are for the Matroska test: MPEG-TS holds none): both the
// copy and the re-encode keep its colour description and languages; the copy its HDR data too.
TEST_F(Real, HdrHevcKeepsColourHdrDataAndTrackNames) {
    const QString ts = dir + "/hlg.ts";
    ASSERT_TRUE(RunFixtureFFmpeg(
        {"-f",
         "lavfi",
         "-i",
         "testsrc2=size=320x240:rate=25:duration=2",
         "-f",
         "lavfi",
         "-i",
         "sine=frequency=300:duration=2",
         "-f",
         "lavfi",
         "-i",
         "sine=frequency=700:duration=2",
         "-map",
         "0",
         "-map",
         "1",
         "-map",
         "2",
         "-pix_fmt",
         "yuv420p10le",
         "-c:v",
         "libx265",
         "-preset",
         "ultrafast",
         "-x265-params",
         "log-level=error:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:master-display="
         "G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50):max-cll=1000,400",
         "-c:a",
         "aac",
         "-metadata:s:a:0",
         "language=eng",
         "-metadata:s:a:1",
         "language=spa",
         "-f",
         "mpegts",
         ts}));
    auto colour = [](const QString& AFile) {
        return RunTool("/usr/bin/ffprobe",
                       {"-v", "error", "-select_streams", "v:0", "-show_entries",
                        "stream=color_range,color_space,color_transfer,color_primaries", "-of",
                        "csv=p=0", AFile})
            .trimmed()
            .split('\n')
            .value(0)
            .toStdString();
    };
    ASSERT_EQ(colour(ts), "tv,bt2020nc,smpte2084,bt2020");
    ASSERT_FALSE(HdrSideData(ts, 0).isEmpty());
    for (const bool fast : {true, false}) {
        SCOPED_TRACE(fast);
        view.fast = fast;
        const QString mp4 = dir + (fast ? "/copy.mp4" : "/encoded.mp4");
        ASSERT_TRUE(flow.ConvertFile(ts, mp4).done());
        EXPECT_EQ(colour(mp4), colour(ts));
        if (fast) {
            EXPECT_EQ(HdrSideData(mp4, 0), HdrSideData(ts, 0));
        }
        const QList<TrackInfo> tracks = ProbeTracks(mp4);
        ASSERT_EQ(tracks.size(), 3);
        EXPECT_EQ(tracks[1].language, "eng");
        EXPECT_EQ(tracks[2].language, "spa");
    }
}
