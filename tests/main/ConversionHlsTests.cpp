// Links to master playlists: only the chosen variant and its audio rendition are fetched, with
// the real ffmpeg and a loopback server whose log shows every request.
#include "Conversion.h"
#include "FakeView.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// Three video variants listed out of order, one audio group, 4 s each.
QString MasterFixture() {
    static const QString dir = [] {
        const QString d = NewTempDir("master");
        return MakeHlsMaster(d, {QSize(320, 180), QSize(640, 360), QSize(480, 270)}, 4) ? d
                                                                                        : QString();
    }();
    return dir;
}

class Variants : public ::testing::Test {
protected:
    void SetUp() override {
        rec.passThrough();
        ASSERT_FALSE(MasterFixture().isEmpty());
        ASSERT_TRUE(srv.isListening());
        srv.exportServiceEnv(); // trusts the test CA
        srv.serveFolder("/hls/", MasterFixture());
    }

    // Paths of the segments and playlists fetched below /hls/.
    QStringList fetched() const {
        QStringList paths;
        for (const auto& r : srv.requests())
            paths << QString::fromUtf8(r.path);
        return paths;
    }
    // Converts the master link with the view's choice; true when it completed.
    bool convert() {
        view.input = srv.url("/hls/master.m3u8");
        view.output = dir;
        flow.ConvertInput();
        return view.status() == "Conversion complete: " + dir + "/output.mp4";
    }
    // Nothing of another variant fetched (but the playlists in AAlsoTried).
    void expectOnly(const QString& AFolder, const QStringList& AAlsoTried = {}) {
        for (const QString& p : fetched())
            EXPECT_TRUE(p == "/hls/master.m3u8" || p.startsWith("/hls/" + AFolder + "/") ||
                        p.startsWith("/hls/audio/") || AAlsoTried.contains(p))
                << p.toStdString();
        EXPECT_TRUE(fetched().contains("/hls/" + AFolder + "/index3.ts"));
        EXPECT_TRUE(fetched().contains("/hls/audio/index3.ts"));
    }

    TestHttpServer srv;
    FakeView view;
    RunRecorder rec;
    ConversionFlow flow{view, rec.runner()};
    QString dir = NewTempDir("variants");
};

} // namespace

TEST_F(Variants, EachChoiceFetchesOnlyItsVariantAndKeepsTheAudio) {
    struct Case {
        QualityChoice choice;
        QString size, folder, label;
    };
    const QList<Case> cases = {
        {{}, "640x360", "v640x360", "640x360, 1.8 Mb/s"},
        {{QualityChoice::Smallest, {}}, "320x180", "v320x180", "320x180, 461 kb/s"},
        {{QualityChoice::Variant, srv.url("/hls/v480x270/index.m3u8")},
         "480x270",
         "v480x270",
         "480x270, 1.0 Mb/s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.toStdString());
        srv.clearRequests();
        dir = NewTempDir("choice");
        view = FakeView();
        view.choice = c.choice;
        rec.runs.clear();
        ASSERT_TRUE(convert()) << view.statuses.join(" | ").toStdString();
        EXPECT_TRUE(view.statuses.contains("Downloading stream (" + c.label + ")..."))
            << view.statuses.join(" | ").toStdString();
        const QString mp4 = dir + "/output.mp4";
        EXPECT_EQ(ProbeSize(mp4), c.size);
        EXPECT_EQ(CountVideoFrames(mp4), 100);
        EXPECT_NEAR(AudioSeconds(mp4), 4.0, 0.2);
        // The rendition's LANGUAGE "en", in the three letters MP4 keeps.
        EXPECT_EQ(ProbeTracks(mp4).value(1).language, "eng");
        expectOnly(c.folder);
        ASSERT_GE(rec.runs.size(), 1);
        EXPECT_TRUE(rec.runs[0].text.contains("-map 1:a")) << rec.runs[0].text.toStdString();
    }
}

TEST_F(Variants, MissingVariantFallsBackToTheNextBest) {
    srv.notFound("/hls/v640x360/index.m3u8");
    ASSERT_TRUE(convert()) << view.statuses.join(" | ").toStdString();
    EXPECT_TRUE(view.statuses.contains(
        "Variant 640x360, 1.8 Mb/s could not be fetched (HTTP 404); trying the next best"))
        << view.statuses.join(" | ").toStdString();
    // Still in sight while the download runs.
    EXPECT_TRUE(view.statuses.contains("Variant 640x360, 1.8 Mb/s could not be fetched (HTTP "
                                       "404); downloading 480x270, 1.0 Mb/s..."));
    EXPECT_EQ(ProbeSize(dir + "/output.mp4"), "480x270");
    expectOnly("v480x270", {"/hls/v640x360/index.m3u8"});
}

TEST_F(Variants, MissingSegmentsCountOnlyTheChosenVariantAndItsAudio) {
    srv.notFound("/hls/v320x180/index1.ts"); // another variant: never asked for
    srv.notFound("/hls/v640x360/index1.ts");
    srv.notFound("/hls/audio/index1.ts"); // same number, other input: counted apart
    view.input = srv.url("/hls/master.m3u8");
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Download incomplete: 2 segment(s) missing. Partial TS kept");
    for (const QString& p : fetched())
        EXPECT_FALSE(p.startsWith("/hls/v320x180/")) << p.toStdString();
}

TEST_F(Variants, PlainAndUnusablePlaylistsGoOnAsTyped) {
    // A media playlist is fetched as it is, and ffmpeg reads the local copy.
    const QString plain = srv.url("/hls/v480x270/index.m3u8");
    view.input = plain;
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    EXPECT_FALSE(view.statuses.join("|").contains("Downloading stream ("));
    ASSERT_GE(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.contains("/video/local.m3u8\"")) << rec.runs[0].text.toStdString();
    for (const auto& r : rec.runs)
        EXPECT_FALSE(r.text.contains("https://")) << r.text.toStdString();
    EXPECT_EQ(CountVideoFrames(dir + "/output.mp4"), 100);

    // A master naming nothing this program may fetch: the download runs as it always did.
    srv.route("/odd/master.m3u8",
              TestHttpServer::Json("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1,RESOLUTION=9x9\n"
                                   "file:///etc/hostname\n"));
    view = FakeView();
    rec.runs.clear();
    rec.next = [](const Command&, const RunOptions&) { return 1; };
    view.input = srv.url("/odd/master.m3u8");
    view.output = dir;
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.contains("-i \"" + view.input + "\""));
    EXPECT_EQ(view.status(), "Download failed (exit=1). Nothing was saved");
}

TEST_F(Variants, PlainHttpAndALocalMasterPlaylist) {
    TestHttpServer http(TestHttpServer::Mode::Http);
    http.serveFolder("/hls/", MasterFixture());
    view.choice = {QualityChoice::Smallest, {}};
    view.input = http.url("/hls/master.m3u8");
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(ProbeSize(dir + "/output.mp4"), "320x180");
    for (const auto& r : http.requests())
        EXPECT_FALSE(r.path.startsWith("/hls/v640x360/")) << r.path.constData();

    // A local master: the best variant with its audio, no question asked.
    view = FakeView();
    view.choice = {QualityChoice::Smallest, {}}; // only links follow the choice
    view.input = MasterFixture() + "/master.m3u8";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/master.mp4");
    EXPECT_EQ(ProbeSize(dir + "/master.mp4"), "640x360");
    EXPECT_EQ(CountVideoFrames(dir + "/master.mp4"), 100);
    EXPECT_NEAR(AudioSeconds(dir + "/master.mp4"), 4.0, 0.2);
}
