// Long work in the main window under Xvfb with the real ffmpeg: live progress, Stop (button and
// Esc), a live HLS recording ended by Stop, buttons during a job, closing during a job.
#include "FakeDialogs.h"
#include "LivePlaylist.h"
#include "QuietForm.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Umain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace halvora;
using namespace halvora::test;

namespace {

class LongWork : public ::testing::Test {
protected:
    void open() {
        form = std::make_unique<QuietForm>(dialogs);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        // Every progress value and status the window shows, as it shows them.
        QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged,
                         [this](int AValue) { bar << AValue; });
    }
    QString status() const { return form->LblStatus->text(); }
    bool waitFor(const std::function<bool()>& ACondition, int AMs = 60000) {
        return QTest::qWaitFor(ACondition, AMs);
    }
    bool finish(int AMs = 60000) {
        return waitFor([&] { return !form->busy(); }, AMs);
    }
    // Presses Stop during a recording: its TS is kept, and converted into an MP4 of at least
    // 4 s. Gives the MP4.
    QString stopRecording() {
        QTest::mouseClick(form->BtnStop, Qt::LeftButton);
        EXPECT_TRUE(finish());
        const QString mp4 = dir + "/out/output.mp4";
        EXPECT_TRUE(QFile::exists(dir + "/out/output.ts"));
        EXPECT_GE(ProbeSeconds(mp4), 4.0);
        EXPECT_TRUE(status().startsWith("Recording stopped at 00:00:")) << status().toStdString();
        return mp4;
    }
    void expectIdle() {
        EXPECT_FALSE(form->busy());
        EXPECT_FALSE(form->BtnStop->isEnabled());
        EXPECT_TRUE(form->BtnBrowse->isEnabled());
        EXPECT_TRUE(form->BtnClip->isEnabled());
        EXPECT_TRUE(waitFor([] { return ChildProcesses() == 0; }, 10000));
    }

    // A folder with vod.m3u8: ASeconds of video in ASegSeconds segments; empty on failure.
    QString makeSegments(int ASeconds, int ASegSeconds) {
        const QString media = dir + "/media";
        QDir().mkpath(media);
        return MakeVideo(media + "/vod.m3u8", ASeconds, 320, 240, true, 25,
                         {"-f", "hls", "-hls_time", QString::number(ASegSeconds), "-hls_list_size",
                          "0", "-hls_playlist_type", "vod"})
                   ? media
                   : QString();
    }
    // Starts recording the server's live playlist into dir/out from the window.
    void record(const TestHttpServer& AServer) {
        open();
        form->EdtInput->setText(AServer.url("/live/live.m3u8"));
        form->EdtOutput->setText(dir + "/out");
        QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    }

    FakeDialogs dialogs;
    std::unique_ptr<TForm2> form;
    QList<int> bar;
    QString dir = NewTempDir("long");
};

} // namespace

TEST_F(LongWork, StopEndsALiveRecordingAndConvertsWhatWasRecorded) {
    const QString media = makeSegments(40, 2);
    ASSERT_FALSE(media.isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    LivePlaylist live(srv, media);
    ASSERT_GE(live.segments(), 15);

    record(srv);
    ASSERT_TRUE(form->busy());
    // During the job nothing starts another; Feedback and Stop are there.
    EXPECT_FALSE(form->BtnConvert->isEnabled());
    EXPECT_FALSE(form->BtnBatch->isEnabled());
    EXPECT_FALSE(form->BtnBrowse->isEnabled());
    EXPECT_FALSE(form->BtnOutput->isEnabled());
    EXPECT_FALSE(form->BtnRoot->isEnabled());
    EXPECT_FALSE(form->BtnClip->isEnabled());
    EXPECT_TRUE(form->BtnFeedback->isEnabled());
    EXPECT_TRUE(form->BtnStop->isEnabled());
    // A second Enter does nothing.
    form->EdtInput->setFocus();
    QTest::keyClick(form->EdtInput, Qt::Key_Return);

    // A stream of unknown length shows recorded time and size.
    ASSERT_TRUE(waitFor([&] { return SegmentsServed(srv).size() >= 3; }));
    ASSERT_TRUE(waitFor([&] { return status().startsWith("Recording: "); }));
    EXPECT_TRUE(
        status().contains(QRegularExpression("^Recording: \\d\\d:\\d\\d:\\d\\d, \\d+ [KMG]B$")))
        << status().toStdString();
    const QString mp4 = stopRecording();
    // What plays: at least 4 s of picture and sound, all the TS held.
    const int frames = CountVideoFrames(mp4);
    EXPECT_GE(frames, 100);
    EXPECT_EQ(frames, CountVideoFrames(dir + "/out/output.ts"));
    EXPECT_GE(AudioSeconds(mp4), 3.9);
    EXPECT_TRUE(status().endsWith("Conversion complete: " + mp4));
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith("Recording stopped at "));
    expectIdle();
}

TEST_F(LongWork, StopOfALiveMasterPlaylistKeepsTheChosenVariantOnly) {
    // Two live variants with their sound inside, and live subtitles, which are left out.
    TestHttpServer srv;
    srv.exportServiceEnv();
    std::vector<std::unique_ptr<LivePlaylist>> variants;
    for (const QSize& size : {QSize(480, 270), QSize(320, 180)}) {
        const QString name = QStringLiteral("v%1").arg(size.width());
        QDir().mkpath(dir + "/" + name);
        ASSERT_TRUE(MakeVideo(
            dir + "/" + name + "/vod.m3u8", 30, size.width(), size.height(), true, 25,
            {"-f", "hls", "-hls_time", "2", "-hls_list_size", "0", "-hls_playlist_type", "vod"}));
        variants.push_back(std::make_unique<LivePlaylist>(srv, dir + "/" + name, "/" + name + "/"));
    }
    srv.route("/subs/en.m3u8", TestHttpServer::Json("#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                                                    "#EXTINF:2,\nen0.vtt\n"));
    srv.route("/master.m3u8",
              TestHttpServer::Json(
                  "#EXTM3U\n#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"s\",NAME=\"English\","
                  "LANGUAGE=\"en\",DEFAULT=YES,URI=\"subs/en.m3u8\"\n"
                  "#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=480x270,SUBTITLES=\"s\"\n"
                  "v480/live.m3u8\n"
                  "#EXT-X-STREAM-INF:BANDWIDTH=400000,RESOLUTION=320x180,SUBTITLES=\"s\"\n"
                  "v320/live.m3u8\n"));

    open();
    form->qualityReader().setDelayMs(50);
    auto* quality = form->findChild<QComboBox*>("CmbQuality");
    ASSERT_NE(quality, nullptr);
    form->EdtInput->setText(srv.url("/master.m3u8"));
    form->EdtOutput->setText(dir + "/out");
    ASSERT_TRUE(waitFor([&] { return quality->count() == 4; }, 20000));
    const int smaller = quality->findText("320x180, 400 kb/s");
    ASSERT_GE(smaller, 0);
    quality->setCurrentIndex(smaller);
    QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    ASSERT_TRUE(form->busy());
    // The job took its quality; choosing another now would change nothing.
    EXPECT_FALSE(quality->isEnabled());
    ASSERT_TRUE(waitFor([&] {
        int n = 0;
        for (const auto& r : srv.requests())
            n += r.path.startsWith("/v320/") && r.path.endsWith(".ts");
        return n >= 3;
    }));
    // The first segments fetched may be the listing's; what counts is what was recorded.
    static const QRegularExpression recorded("^Recording: 00:00:(\\d\\d),");
    ASSERT_TRUE(waitFor([&] {
        const QRegularExpressionMatch m = recorded.match(status());
        return m.hasMatch() && m.captured(1).toInt() >= 5;
    }));
    const QString mp4 = stopRecording();
    EXPECT_EQ(ProbeSize(mp4), "320x180");
    EXPECT_GT(AudioSeconds(mp4), 3.5);
    EXPECT_TRUE(status().endsWith("Conversion complete: " + mp4 +
                                  ". The link's subtitle tracks could not be saved and were not "
                                  "kept"))
        << status().toStdString();
    for (const auto& r : srv.requests())
        EXPECT_FALSE(r.path.startsWith("/v480/")) << r.path.constData();
    EXPECT_TRUE(quality->isEnabled());
    expectIdle();
}

// Real streams have segments of 6-10 s: Stop ends the local copy, which ffmpeg notices at its
// next look at it (within a segment's length), and the TS then holds all that was received.
TEST_F(LongWork, StopWhileWaitingForALongLiveSegmentKeepsWhatWasReceived) {
    const QString media = makeSegments(30, 6);
    ASSERT_FALSE(media.isEmpty());
    TestHttpServer srv(TestHttpServer::Mode::Http);
    LivePlaylist live(srv, media, "/live/", 6);
    record(srv);
    ASSERT_TRUE(waitFor([&] { return SegmentsServed(srv).size() >= 3; }));
    // Once all that was served is recorded, ffmpeg waits for the next segment, which never comes.
    live.freeze();
    const QSet<QString> before = SegmentsServed(srv);
    int expected = 0;
    for (const QString& name : before)
        expected += CountVideoFrames(media + "/" + name);
    // The TS on disk holds what was received before the Stop.
    const QString ts = dir + "/out/output.ts";
    ASSERT_TRUE(waitFor([&] { return CountVideoFrames(ts) >= expected - 3; }));
    ASSERT_TRUE(status().startsWith("Recording: ")) << status().toStdString();

    QElapsedTimer sinceStop;
    sinceStop.start();
    QTest::mouseClick(form->BtnStop, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !status().startsWith("Recording: "); }));
    // Ended by itself within a segment's length, neither stopped again nor killed.
    EXPECT_LT(sinceStop.elapsed(), 6000 + 1500);
    ASSERT_TRUE(finish());
    EXPECT_EQ(SegmentsServed(srv), before);

    // All the picture received, nothing held back.
    const QString mp4 = dir + "/out/output.mp4";
    const int frames = CountVideoFrames(ts);
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(CountVideoFrames(mp4), frames);
    EXPECT_GE(AudioSeconds(mp4), 6.0 * before.size() - 0.5);
    EXPECT_TRUE(status().startsWith("Recording stopped at 00:00:")) << status().toStdString();
    expectIdle();
}

TEST_F(LongWork, ProgressStopAndTheNextConversion) {
    // Re-encoding a few thousand frames takes long enough to watch and to stop.
    ASSERT_TRUE(MakeVideo(dir + "/long.ts", 120, 320, 240));
    ASSERT_TRUE(MakeVideo(dir + "/short.ts", 3));
    open();
    form->ChkFast->setChecked(false);
    form->EdtInput->setText(dir + "/long.ts");
    form->EdtOutput->setText(dir + "/out");
    QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    const QRegularExpression line(
        "^Converting long\\.ts: 00:0\\d:\\d\\d / 00:02:00 \\(\\d+%\\), about \\d+:\\d\\d left$");
    ASSERT_TRUE(waitFor([&] { return line.match(status()).hasMatch(); })) << status().toStdString();
    ASSERT_TRUE(waitFor([&] { return form->ProgressBar1->value() >= 5; }));
    EXPECT_LT(form->ProgressBar1->value(), 100);
    // Stop twice, the second time with Esc: one stop.
    QTest::mouseClick(form->BtnStop, Qt::LeftButton);
    QTest::keyClick(form.get(), Qt::Key_Escape);
    ASSERT_TRUE(finish());
    EXPECT_EQ(status(), "Conversion stopped");
    EXPECT_FALSE(QFile::exists(dir + "/out/long.mp4"));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    expectIdle();

    // The next conversion runs normally; its bar only rises, to 100.
    bar.clear();
    form->ChkFast->setChecked(true);
    form->EdtInput->setText(dir + "/short.ts");
    QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    ASSERT_TRUE(finish());
    EXPECT_NEAR(ProbeSeconds(dir + "/out/short.mp4"), 3.0, 0.3);
    EXPECT_EQ(status(), "Conversion complete: " + dir + "/out/short.mp4");
    ASSERT_FALSE(bar.isEmpty());
    EXPECT_EQ(bar.last(), 100);
    for (int i = 1; i < bar.size(); ++i)
        EXPECT_GE(bar[i], bar[i - 1]) << i;
    expectIdle();
}

TEST_F(LongWork, StoppedBatchKeepsFinishedFoldersAndCountsTheRest) {
    ASSERT_TRUE(MakeVideo(dir + "/small.ts", 2));
    ASSERT_TRUE(MakeVideo(dir + "/big.ts", 120, 320, 240));
    // Folders are taken in the file system's order: whatever comes before "big" is finished,
    // "big" is stopped, the rest is skipped.
    for (const char* s : {"one", "big", "two"})
        QDir().mkpath(dir + "/root/" + s);
    ASSERT_TRUE(QFile::copy(dir + "/small.ts", dir + "/root/one/local.ts"));
    ASSERT_TRUE(QFile::copy(dir + "/big.ts", dir + "/root/big/local.ts"));
    ASSERT_TRUE(QFile::copy(dir + "/small.ts", dir + "/root/two/local.ts"));
    open();
    form->ChkFast->setChecked(false);
    form->EdtRoot->setText(dir + "/root");
    form->EdtOutput->setText(dir + "/out");
    QTest::mouseClick(form->BtnBatch, Qt::LeftButton);
    const QRegularExpression big("^Converting (\\d)/3: big: ");
    ASSERT_TRUE(waitFor([&] { return big.match(status()).hasMatch(); }));
    const int before = big.match(status()).captured(1).toInt() - 1;
    // The overall bar: finished folders plus a share of the current one.
    EXPECT_EQ(form->ProgressBar1->maximum(), 300);
    ASSERT_TRUE(waitFor([&] { return form->ProgressBar1->value() > before * 100; }));
    QTest::mouseClick(form->BtnStop, Qt::LeftButton);
    ASSERT_TRUE(finish());
    EXPECT_FALSE(QFile::exists(dir + "/out/big.mp4"));
    const int converted = QFile::exists(dir + "/out/one.mp4") + QFile::exists(dir + "/out/two.mp4");
    EXPECT_EQ(converted, before);
    EXPECT_EQ(status(),
              QStringLiteral("Batch stopped: %1 converted, 0 failed, %2 skipped, output: ")
                      .arg(before)
                      .arg(3 - before) +
                  dir + "/out");
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(
        QStringLiteral("Batch conversion stopped. %1 converted, 0 failed, %2 skipped")
            .arg(before)
            .arg(3 - before)));
    expectIdle();
}

TEST_F(LongWork, ClosingDuringAJobAsksFirst) {
    ASSERT_TRUE(MakeVideo(dir + "/long.ts", 120, 320, 240));
    open();
    form->ChkFast->setChecked(false);
    form->EdtInput->setText(dir + "/long.ts");
    form->EdtOutput->setText(dir + "/out");
    QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return form->ProgressBar1->value() >= 2; }));

    dialogs.answers = {BoxAnswer::No};
    EXPECT_FALSE(form->close());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, "A conversion is running. Stop it and close?");
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->busy());
    const int was = form->ProgressBar1->value();
    ASSERT_TRUE(waitFor([&] { return form->ProgressBar1->value() > was; }));

    dialogs.answers = {BoxAnswer::Yes};
    form->close();
    ASSERT_TRUE(waitFor([&] { return !form->isVisible(); }));
    EXPECT_FALSE(form->busy());
    EXPECT_FALSE(QFile::exists(dir + "/out/long.mp4"));
    EXPECT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(waitFor([] { return ChildProcesses() == 0; }, 10000));
}

TEST_F(LongWork, StopWhileABoxIsOpenOrAsTheRunEnds) {
    ASSERT_TRUE(MakeVideo(dir + "/clip.ts", 2));
    open();
    form->EdtInput->setText(dir + "/clip.ts");
    form->EdtOutput->setText(dir + "/out");
    // The completion box is open when Stop comes: nothing is left to stop, the box is answered.
    dialogs.onBox = [&] {
        form->BtnStopClick();
        QTest::keyClick(form.get(), Qt::Key_Escape);
    };
    QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
    ASSERT_TRUE(finish());
    EXPECT_EQ(status(), "Conversion complete: " + dir + "/out/clip.mp4");
    expectIdle();

    // Stop around the moment ffmpeg ends on its own: either outcome, never a hang or a half
    // file.
    dialogs.onBox = {};
    for (int delay : {0, 20, 60, 150}) {
        QFile::remove(dir + "/out/clip.mp4");
        QTest::mouseClick(form->BtnConvert, Qt::LeftButton);
        QTimer::singleShot(delay, form.get(), [&] { form->BtnStopClick(); });
        ASSERT_TRUE(finish());
        if (status() == "Conversion stopped")
            EXPECT_FALSE(QFile::exists(dir + "/out/clip.mp4"));
        else
            EXPECT_NEAR(ProbeSeconds(dir + "/out/clip.mp4"), 2.0, 0.3) << status().toStdString();
        expectIdle();
    }
}
