// A link fetched by Halvora's own fetcher from a loopback server that misbehaves the way CDNs
// now and then do; ffmpeg then reads the local copy. Outputs are judged by their decoded frames.
#include "Conversion.h"
#include "FakeView.h"
#include "FetchFixtures.h"
#include "LivePlaylist.h"
#include "StreamFetch.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace halvora;
using namespace halvora::test;

namespace {

using Fault = TestHttpServer::Fault;

// Short waits: the rules are the program's, only the backoff and the stall limit shrink. The
// stall limit stays long enough that a server slowed by a sanitizer build and a loaded machine
// is not taken for a stalled one (that would add or lose a request the cases count).
FetchRules QuickRules() {
    FetchRules r;
    r.backoffMs = {20, 40, 60, 80, 100};
    r.stallMs = 5000;
    return r;
}

class LinkFetch : public ::testing::Test {
protected:
    void SetUp() override {
        rec.passThrough();
        ASSERT_TRUE(srv.isListening());
        srv.exportServiceEnv();
        flow.setFetchRules(QuickRules());
    }
    // Serves a fixture below APrefix (and its keys below /keys/).
    void serve(StreamKind AKind, const QString& APrefix = "/hls/") {
        fixture = StreamFixture(AKind);
        ASSERT_FALSE(fixture.isEmpty());
        srv.serveFolder(APrefix, fixture);
        if (QFileInfo::exists(fixture + "/keys"))
            srv.serveFolder("/keys/", fixture + "/keys");
    }
    void convert(const QString& APath = "/hls/index.m3u8") {
        view.input = srv.url(APath);
        view.output = dir;
        flow.ConvertInput();
    }
    QString log() const {
        QStringList runs;
        for (const auto& r : rec.runs)
            runs << r.text;
        return view.statuses.join(" | ") + " || " + runs.join(" || ");
    }
    bool completed() const {
        return view.status() == "Conversion complete: " + dir + "/output.mp4";
    }
    // Every frame of the picture and of the sound, as ffmpeg decodes the fixture from disk.
    void expectEveryFrame(const QString& AMp4) const {
        const QString reference = ReferencePlaylist(fixture);
        const QStringList video = DecodedFrames(reference, "v");
        ASSERT_FALSE(video.isEmpty());
        EXPECT_EQ(DecodedFrames(AMp4, "v"), video);
        EXPECT_EQ(DecodedFrames(AMp4, "a"), DecodedFrames(reference, "a"));
    }
    // A fresh output folder and view for case AIndex of a table, and its own server folder.
    QString nextCase(qsizetype AIndex) {
        dir = NewTempDir("case");
        view = FakeView();
        return QStringLiteral("/c%1/").arg(AIndex);
    }
    int requestsOf(const QString& APath) const {
        int n = 0;
        for (const auto& r : srv.requests())
            n += r.path == APath.toUtf8() ? 1 : 0;
        return n;
    }
    QStringList workFolders() const { return QDir(dir).entryList({"*.parts"}, QDir::Dirs); }

    TestHttpServer srv;
    FakeView view;
    RunRecorder rec;
    ConversionFlow flow{view, rec.runner()};
    QString dir = NewTempDir("fetch");
    QString fixture;
};

TestHttpServer::Reply Faulty(const QString& AFile, Fault AFault, qint64 AAfter = -1) {
    TestHttpServer::Reply r = TestHttpServer::File(AFile, AFault);
    r.faultAfter = AAfter;
    return r;
}

} // namespace

// Each misbehaviour is survived: the segment is asked for again and every frame arrives.
TEST_F(LinkFetch, MisbehavingServersGiveEveryFrame) {
    struct Case {
        const char* name;
        StreamKind kind;
        QString file;                       // the fixture's file that misbehaves
        QList<TestHttpServer::Reply> first; // its first answers, before the right one
        int askedAtLeast;
    };
    const QString ts = StreamFixture(StreamKind::Ts);
    TestHttpServer::Reply busy = TestHttpServer::Status(503, "busy");
    TestHttpServer::Reply html = TestHttpServer::Status(200, "<html>oops</html>");
    const QList<Case> cases = {
        {"503 then 200", StreamKind::Ts, "index1.ts", {busy}, 2},
        {"cut off half-way",
         StreamKind::Ts,
         "index2.ts",
         {Faulty(ts + "/index2.ts", Fault::ShortBody)},
         2},
        {"connection reset",
         StreamKind::Ts,
         "index3.ts",
         {Faulty(ts + "/index3.ts", Fault::Reset, 3000)},
         2},
        {"stalled mid-body",
         StreamKind::Ts,
         "index4.ts",
         {Faulty(ts + "/index4.ts", Fault::StallMidBody, 2000)},
         2},
        {"not MPEG-TS", StreamKind::Ts, "index0.ts", {html}, 2},
        {"fMP4 with its init section", StreamKind::Fmp4, "init.mp4", {busy, busy}, 3},
        {"byte ranges of one file", StreamKind::ByteRange, "index.ts", {busy}, 7},
        {"AES-128, key on another path", StreamKind::Aes, "keys/k.bin", {busy}, 2},
        {"discontinuity", StreamKind::Discontinuity, "b0.ts", {busy}, 2},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const QString prefix = nextCase(i);
        serve(c.kind, prefix);
        const QString path = c.file.startsWith("keys/") ? "/" + c.file : prefix + c.file;
        srv.routeSequence(path, c.first + QList{TestHttpServer::File(fixture + "/" + c.file)});
        convert(prefix + "index.m3u8");
        ASSERT_TRUE(completed()) << log().toStdString();
        EXPECT_TRUE(view.statuses.filter(QRegularExpression("^Downloading: \\d+ / \\d+ segments, "))
                        .size() > 0)
            << log().toStdString();
        EXPECT_GE(requestsOf(path), c.askedAtLeast);
        expectEveryFrame(dir + "/output.mp4");
        EXPECT_FALSE(QFile::exists(dir + "/output.ts"));
        EXPECT_TRUE(workFolders().isEmpty()) << workFolders().join(",").toStdString();
    }
}

// The waits a server can impose: Retry-After on 429 and 503, and the program's own stall rule
// (nothing for 20 s ends an attempt). The next attempt succeeds.
TEST_F(LinkFetch, WaitsAreHonoured) {
    struct Case {
        const char* name;
        int status; // of the first answer; 200 stalls mid-body
        int atLeastMs;
    };
    const QList<Case> cases = {{"429 Retry-After: 2", 429, 2000},
                               {"503 Retry-After: 2", 503, 2000},
                               {"20 s without a byte", 200, 20000}};
    fixture = StreamFixture(StreamKind::Ts);
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const QString prefix = nextCase(i);
        srv.serveFolder(prefix, fixture);
        TestHttpServer::Reply first = Faulty(fixture + "/index1.ts", Fault::StallMidBody, 5000);
        if (c.status != 200) {
            first = TestHttpServer::Status(c.status, "later");
            first.headers = {{"Retry-After", "2"}};
        } else {
            flow.setFetchRules(FetchRules()); // the program's own 20 s
        }
        srv.routeSequence(prefix + "index1.ts",
                          {first, TestHttpServer::File(fixture + "/index1.ts")});
        QElapsedTimer t;
        t.start();
        convert(prefix + "index.m3u8");
        ASSERT_TRUE(completed()) << log().toStdString();
        // The backoff alone would have asked again after 20 ms.
        EXPECT_GE(t.elapsed(), c.atLeastMs);
        EXPECT_EQ(requestsOf(prefix + "index1.ts"), 2);
        expectEveryFrame(dir + "/output.mp4");
    }
}

// A playlist moved by a 302 into another folder: its relative URIs are read from there.
TEST_F(LinkFetch, RedirectedPlaylistResolvesItsSegmentsWhereItWasServed) {
    fixture = StreamFixture(StreamKind::Ts);
    srv.serveFolder("/elsewhere/deep/", fixture);
    srv.redirect("/hls/index.m3u8", srv.url("/elsewhere/deep/index.m3u8"));
    convert();
    ASSERT_TRUE(completed()) << log().toStdString();
    EXPECT_EQ(requestsOf("/elsewhere/deep/index5.ts"), 1);
    expectEveryFrame(dir + "/output.mp4");
}

// A 404 that stays ends as it always did, the fetched segments kept; the next Convert fetches
// only what is missing.
TEST_F(LinkFetch, MissingSegmentIsIncompleteThenResumed) {
    serve(StreamKind::Ts);
    srv.notFound("/hls/index3.ts");
    convert();
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept")
        << log().toStdString();
    EXPECT_EQ(requestsOf("/hls/index3.ts"), 6); // the first attempt and 5 retries
    ASSERT_EQ(view.boxes.size(), 1);
    ASSERT_EQ(workFolders().size(), 1);
    const QString work = dir + "/" + workFolders()[0];
    EXPECT_TRUE(view.boxes[0].text.contains(work)) << view.boxes[0].text.toStdString();
    EXPECT_EQ(CountVideoFrames(dir + "/output.ts"), 125); // all but the missing second

    srv.route("/hls/index3.ts", TestHttpServer::File(fixture + "/index3.ts"));
    srv.clearRequests();
    view = FakeView();
    convert();
    ASSERT_EQ(view.status(), "Conversion complete: " + dir + "/output (2).mp4")
        << log().toStdString();
    for (const auto& r : srv.requests())
        EXPECT_TRUE(r.path == "/hls/index.m3u8" || r.path == "/hls/index3.ts")
            << r.path.constData();
    expectEveryFrame(dir + "/output (2).mp4");
    EXPECT_TRUE(workFolders().isEmpty());
}

// Over plain http, as a typed http link is fetched: a segment that stalls every time is the
// only one missing, the others fetched beside it.
TEST_F(LinkFetch, StallThatStaysIsOneMissingSegment) {
    TestHttpServer http(TestHttpServer::Mode::Http);
    fixture = StreamFixture(StreamKind::Ts);
    http.serveFolder("/hls/", fixture);
    TestHttpServer::Reply stall = TestHttpServer::File(fixture + "/index2.ts");
    stall.fault = Fault::StallAfterHeaders;
    http.route("/hls/index2.ts", stall);
    view.input = http.url("/hls/index.m3u8");
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Partial TS kept")
        << log().toStdString();
    EXPECT_EQ(DecodedFrames(dir + "/output.ts", "v").size(), 125);
}

TEST(FetchProgress, SegmentsSizeSpeedAndTimeLeft) {
    struct Case {
        FetchTally tally;
        QString text;
    };
    FetchTally mid;
    mid.done = 412;
    mid.total = 1800;
    mid.bytes = 310'000'000;
    mid.bytesPerSecond = 4'200'000;
    mid.fetchedNow = 400;
    mid.bytesOfDone = 400 * 750'000; // 0.75 MB a segment: 1388 left take 1041 MB, 248 s
    FetchTally start;
    start.total = 1800;
    FetchTally resumed = mid;
    resumed.fetchedNow = 0; // all found on disk: no estimate yet
    const QList<Case> cases = {
        {mid, "Downloading: 412 / 1800 segments, 310 MB, 4.2 MB/s, about 4:08 left"},
        {start, "Downloading: 0 / 1800 segments, 0 KB"},
        {resumed, "Downloading: 412 / 1800 segments, 310 MB, 4.2 MB/s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FetchProgressText(c.tally), c.text);
}

namespace {

// A playlist of AFolder's segments of those names in stream order, as the reference to decode.
QString ReferenceOf(const QString& AFolder, QStringList ANames) {
    std::sort(ANames.begin(), ANames.end(), [](const QString& A, const QString& B) {
        return A.mid(3).section('.', 0, 0).toInt() < B.mid(3).section('.', 0, 0).toInt();
    });
    QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    for (const QString& name : ANames)
        text += "#EXTINF:1.0,\n" + name.toUtf8() + "\n";
    const QString path = AFolder + "/reference.m3u8";
    return WriteAll(path, text + "#EXT-X-ENDLIST\n") ? path : QString();
}

// Segment files the fetcher has received for the stream's video, in any working folder.
int SegmentsReceived(const QString& ADir) {
    int n = 0;
    for (const QString& work : QDir(ADir).entryList({"*.parts"}, QDir::Dirs))
        n += int(QDir(ADir + "/" + work + "/video").entryList({"seg-*.ts"}, QDir::Files).size());
    return n;
}

} // namespace

// A live sliding window recorded through the fetcher: ffmpeg records the local copy as it
// grows, and every segment received up to a Stop (or the stream's end) is in the output.
TEST_F(LinkFetch, LiveWindowKeepsEverySegmentReceived) {
    struct Case {
        const char* name;
        const char* lost; // a segment the server never gives, or nullptr
        int skip;         // segments revealed at once (a window slid past one unseen), or 0
        bool endList;     // the stream ends by itself; otherwise Stop ends the recording
        const char* said; // the last status starts so
        bool mp4;         // the output is the MP4 (else the kept TS)
    };
    const QList<Case> cases = {
        {"Stop", nullptr, 0, false, "Recording stopped at 00:00:", true},
        {"EXT-X-ENDLIST", nullptr, 0, true, "Conversion complete: ", true},
        {"a segment lost, then Stop", "vod3.ts", 0, false, "Recording stopped at 00:00:", true},
        {"a segment lost, then the end", "vod3.ts", 0, true,
         "Download incomplete: 1 segment(s) missing. Partial TS kept", false},
        // As when a transfer held up the reloads while the window slid on.
        {"a segment gone before it was seen", nullptr, 4, true,
         "Download incomplete: 1 segment(s) missing. Partial TS kept", false},
    };
    const QString media = NewTempDir("live");
    ASSERT_TRUE(MakeHls(media + "/vod.m3u8", 20, 1));
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const QString prefix = nextCase(i);
        LivePlaylist live(srv, media, prefix, 1, 3);
        if (c.lost)
            srv.notFound(prefix + c.lost);
        view.input = srv.url(prefix + "live.m3u8");
        view.output = dir;
        std::atomic<bool> ended{false};
        std::thread job([&] {
            flow.ConvertInput();
            ended = true;
        });
        if (c.skip > 0) {
            // Every segment revealed so far fetched, then the window jumps: the first of those
            // revealed at once is never listed.
            ASSERT_TRUE(QTest::qWaitFor([&] { return SegmentsServed(srv).size() >= 3; }, 60000));
            live.freeze();
            const int before = live.shown();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return SegmentsServed(srv).size() >= before; }, 60000));
            live.skip(c.skip);
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return SegmentsServed(srv).size() >= before + 3; }, 60000));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return SegmentsServed(srv).size() >= 5; }, 60000));
        if (c.endList) {
            live.end();
        } else {
            // Once all that was handed out has arrived, nothing is on its way at the Stop.
            live.freeze();
            const int lost = c.lost ? 1 : 0;
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return SegmentsReceived(dir) == SegmentsServed(srv).size() - lost; }, 30000));
            flow.RequestStop();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return ended.load(); }, 60000));
        job.join();
        EXPECT_TRUE(view.status().startsWith(c.said)) << log().toStdString();
        QStringList served = SegmentsServed(srv).values();
        served.removeAll(c.lost);
        const QString reference = ReferenceOf(media, served);
        const QString out = dir + (c.mp4 ? "/output.mp4" : "/output.ts");
        const QStringList video = DecodedFrames(reference, "v");
        EXPECT_GE(video.size(), 25 * 4);
        EXPECT_EQ(DecodedFrames(out, "v"), video);
        EXPECT_EQ(DecodedFrames(out, "a"), DecodedFrames(reference, "a"));
        EXPECT_TRUE(workFolders().isEmpty()) << workFolders().join(",").toStdString();
        srv.clearRequests();
    }
}
