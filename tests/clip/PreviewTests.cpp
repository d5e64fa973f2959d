#include "ClipCoreFixtures.h"
#include "ClipTime.h"
#include "FramePreview.h"
#include "JpegImage.h"
#include "MediaIndex.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

struct Preview {
    RecordingEnv rec;
    FramePreview preview;
    Preview() { preview.setEnv(rec.env); }
};

} // namespace

TEST(Jpeg, DecodesFFmpegFramesAndRefusesCorruptData) {
    const QImage ref = ReferenceFrame(ShortVideo(), 1);
    ASSERT_FALSE(ref.isNull());
    EXPECT_EQ(ref.size(), QSize(480, 360));
    EXPECT_EQ(ref.format(), QImage::Format_RGB888);

    const QString jpg = NewTempDir(QStringLiteral("jpeg")) + "/f.jpg";
    ASSERT_TRUE(RunFixtureFFmpeg({"-i", ShortVideo(), "-frames:v", "1", jpg}));
    const QByteArray good = ReadAll(jpg);
    QString err;
    EXPECT_FALSE(DecodeJpeg(good, &err).isNull());
    EXPECT_TRUE(err.isEmpty());

    EXPECT_TRUE(DecodeJpeg(QByteArray(), &err).isNull());
    EXPECT_TRUE(DecodeJpeg("not a jpeg at all", &err).isNull());
    EXPECT_FALSE(err.isEmpty());
    EXPECT_TRUE(DecodeJpeg(good.left(good.size() / 2), &err).isNull()) << "truncated";
    QByteArray mangled = good;
    for (qsizetype i = 200; i < mangled.size(); i += 7)
        mangled[i] = static_cast<char>(mangled[i] ^ 0x5A);
    DecodeJpeg(mangled, &err); // may decode to noise or fail, but must come back
    QByteArray huge = good;    // header claims 65000x65000 in its SOF0
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    if (sof > 0) {
        huge[sof + 5] = char(0xFD);
        huge[sof + 6] = char(0xE8);
        huge[sof + 7] = char(0xFD);
        huge[sof + 8] = char(0xE8);
        EXPECT_TRUE(DecodeJpeg(huge, &err).isNull());
    }
    EXPECT_TRUE(LoadJpegFile(jpg + ".missing", &err).isNull());
}

TEST(FramePreview, GrabsTheFrameOfTheSecondAsked) {
    Preview p;
    p.preview.setVideo(ShortVideo());
    QSignalSpy changed(&p.preview, &FramePreview::imageChanged);
    ASSERT_TRUE(p.preview.GrabFrame(0));
    const QImage first = p.preview.image();
    EXPECT_EQ(first.size(), QSize(480, 360));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(QFile::exists(p.rec.env.workDir + "frame_0.jpg"));

    ASSERT_TRUE(p.preview.GrabFrame(7));
    EXPECT_EQ(p.preview.image().size(), QSize(480, 360));
    EXPECT_NE(p.preview.image(), first);
    // Seeking before the input gives the very frame the slow decode-everything grab gives.
    EXPECT_EQ(p.preview.image(), ReferenceFrame(ShortVideo(), 7));
    ASSERT_EQ(p.rec.runs.size(), 2);
    EXPECT_TRUE(p.rec.runs[1].contains(" -y -ss 7 -i \"" + ShortVideo() +
                                       "\" -frames:v 1 -vf scale=480:-1 -update 1 \""))
        << p.rec.runs[1].toStdString();
}

TEST(FramePreview, AFailedGrabKeepsThePictureAndNeverShowsAStaleFile) {
    Preview p;
    p.preview.setVideo(ShortVideo());
    ASSERT_TRUE(p.preview.GrabFrame(2));
    const QImage shown = p.preview.image();
    ASSERT_TRUE(p.preview.GrabFrame(5)); // leaves frame_5.jpg behind
    const QImage five = p.preview.image();
    ASSERT_TRUE(p.preview.GrabFrame(2));

    const QString dir = NewTempDir(QStringLiteral("bad"));
    const QStringList bad{dir + "/text.mp4", dir + "/empty.mp4", dir + "/missing.mp4"};
    WriteAll(bad[0], "not a video");
    WriteAll(bad[1], "");
    QSignalSpy changed(&p.preview, &FramePreview::imageChanged);
    QSignalSpy grabbed(&p.preview, &FramePreview::grabbed);
    for (const QString& f : bad) {
        p.preview.setVideo(f);
        EXPECT_FALSE(p.preview.GrabFrame(5)) << f.toStdString();
        EXPECT_EQ(p.preview.image(), shown);
    }
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(grabbed.count(), 3);
    EXPECT_FALSE(QFile::exists(p.rec.env.workDir + "frame_5.jpg"));
    EXPECT_NE(five, shown);
}

TEST(FramePreview, ACorruptPictureKeepsThePreviousOne) {
    Preview p;
    p.preview.setVideo(ShortVideo());
    ASSERT_TRUE(p.preview.GrabFrame(1));
    const QImage shown = p.preview.image();
    // A stand-in for ffmpeg that exits 0 after writing a broken JPEG to its last argument.
    const QString fake = NewTempDir(QStringLiteral("fake")) + "/ffmpeg";
    WriteAll(
        fake,
        "#!/bin/sh\nfor a; do last=$a; done\nprintf '\\377\\330\\377\\340garbage' > \"$last\"\n");
    QFile::setPermissions(fake, QFile::permissions(fake) | QFileDevice::ExeOwner);
    ClipEnv env = p.rec.env;
    env.findFFmpeg = [fake] { return fake; };
    p.preview.setEnv(env);
    EXPECT_FALSE(p.preview.GrabFrame(3));
    EXPECT_TRUE(QFile::exists(p.rec.env.workDir + "frame_3.jpg"));
    EXPECT_EQ(p.preview.image(), shown);
}

TEST(FramePreview, WithoutFFmpegNothingRuns) {
    Preview p;
    ClipEnv env = p.rec.env;
    env.findFFmpeg = [] { return QString(); };
    p.preview.setEnv(env);
    p.preview.setVideo(ShortVideo());
    QSignalSpy grabbed(&p.preview, &FramePreview::grabbed);
    EXPECT_FALSE(p.preview.GrabFrame(0));
    EXPECT_TRUE(p.preview.image().isNull());
    EXPECT_EQ(grabbed.count(), 0);
    EXPECT_TRUE(QDir(p.rec.env.workDir).isEmpty());
}

TEST(FramePreview, ABurstOfChangesGivesOneGrabAfterTheLastChange) {
    Preview p;
    constexpr int kInterval = 400;
    p.preview.setInterval(kInterval);
    p.preview.setVideo(ShortVideo());
    int pos = 0;
    p.preview.setPositionSource([&pos] { return pos; });
    QSignalSpy grabbed(&p.preview, &FramePreview::grabbed);

    // Changes closer together than the interval, spread over several intervals: each comes
    // once the preview's own timer has run past half its time, and starts it over.
    for (pos = 1; pos <= 8; ++pos) {
        p.preview.arm();
        ASSERT_TRUE(p.preview.armed());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return grabbed.count() > 0 || p.preview.timer().remainingTime() < kInterval / 2;
            },
            5000));
        ASSERT_EQ(grabbed.count(), 0) << "grabbed during the burst at " << pos;
    }
    --pos; // the thumb rests on 8
    ASSERT_TRUE(QTest::qWaitFor([&] { return grabbed.count() > 0; }, 10000));
    EXPECT_FALSE(p.preview.armed()); // fires once per arming: nothing else can follow
    ASSERT_EQ(grabbed.count(), 1);
    EXPECT_EQ(grabbed[0][0].toInt(), 8);
    EXPECT_TRUE(grabbed[0][1].toBool());
    EXPECT_EQ(p.rec.runs.size(), 1);
}

TEST(FramePreview, TheTimerGrabsNothingWithoutAVideo) {
    Preview p;
    p.preview.setInterval(20);
    QSignalSpy grabbed(&p.preview, &FramePreview::grabbed);
    p.preview.arm();
    EXPECT_TRUE(p.preview.armed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.preview.armed(); }, 5000));
    EXPECT_EQ(grabbed.count(), 0);
    EXPECT_TRUE(p.rec.runs.isEmpty());
    EXPECT_EQ(FramePreview(nullptr).timer().interval(), 500);
    p.preview.arm();
    p.preview.disarm();
    EXPECT_FALSE(p.preview.armed());
}

TEST(FramePreview, NamesWithBlanksQuotesAndNonAsciiLetters) {
    RecordingEnv rec(NewTempDir(QStringLiteral("Jane O'Neil \"x\" ü")));
    FramePreview preview;
    preview.setEnv(rec.env);
    const QString in = NewTempDir(QStringLiteral("in 'q'")) + "/-my \"clip\" ü.mp4";
    ASSERT_TRUE(CopyTo(ShortVideo(), in));
    preview.setVideo(in);
    EXPECT_TRUE(preview.GrabFrame(4));
    EXPECT_EQ(preview.image().size(), QSize(480, 360));
}

TEST(FramePreview, APercentSignInTheWorkingFolderIsNoFileNamePattern) {
    // ffmpeg's picture writer would read "%d" as a frame number and write somewhere else.
    const QString base = NewTempDir(QStringLiteral("pct"));
    RecordingEnv rec(base + "/50%d off %%");
    FramePreview preview;
    preview.setEnv(rec.env);
    preview.setVideo(ShortVideo());
    EXPECT_TRUE(preview.GrabFrame(1));
    EXPECT_TRUE(QFile::exists(rec.env.workDir + "frame_1.jpg"));
    EXPECT_EQ(QDir(base).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"50%d off %%"});
    QDir(base).removeRecursively();
}

TEST(FramePreview, FollowShowsTheKeyframeAtOnceAndTheExactFrameAtRest) {
    Preview p;
    p.preview.setVideo(ShortVideo()); // a keyframe every second
    ASSERT_TRUE(p.preview.GrabFrame(2));
    const QImage keyframe = p.preview.image();
    ASSERT_TRUE(p.preview.GrabFrame(2.52));
    const QImage exact = p.preview.image();
    ASSERT_GT(MeanDiff(keyframe, exact), 1.0);
    ASSERT_TRUE(p.preview.GrabFrame(4));
    const QImage four = p.preview.image();

    QSignalSpy glimpsed(&p.preview, &FramePreview::glimpsed);
    QSignalSpy grabbed(&p.preview, &FramePreview::grabbed);
    p.preview.setPositionSource([] { return 2.52; });
    p.preview.Follow(2.52);
    EXPECT_TRUE(p.preview.armed());
    // The rest is played by hand: however slow ffmpeg is here, the quick picture comes first.
    p.preview.disarm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return glimpsed.count() == 1; }, 30000));
    EXPECT_EQ(grabbed.count(), 0);
    EXPECT_LT(MeanDiff(p.preview.image(), keyframe), 1.0);
    p.preview.TimerTick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grabbed.count() == 1; }, 30000));
    EXPECT_EQ(grabbed[0][0].toDouble(), 2.52);
    EXPECT_LT(MeanDiff(p.preview.image(), exact), 1.0);

    // A quick picture asked for before an exact one never covers it.
    p.preview.Follow(7.5);
    p.preview.GrabSoon(4);
    p.preview.disarm();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return grabbed.count() == 2 && !p.preview.glimpsing(); }, 10000));
    EXPECT_EQ(glimpsed.count(), 1);
    EXPECT_LT(MeanDiff(p.preview.image(), four), 1.0);
}

TEST(FramePreview, FollowShowsTheKeyframeBeforeThePositionFromPicturesMadeOnce) {
    // A '%' in the working folder must not turn the picture names into a pattern.
    const QString base = NewTempDir(QStringLiteral("keys"));
    const struct {
        Coding coding;
        double at;    // where the thumb goes
        int keyframe; // the keyframe before it (about one every 5 s)
    } rows[] = {{Coding::H264, 7.52, 1},    {Coding::H264, 10.0, 2},   {Coding::H264, 0.0, 0},
                {Coding::H264, 29.96, 5},   {Coding::Hevc, 14.2, 2},   {Coding::Mpeg2Ts, 22.0, 4},
                {Coding::Mpeg2Ts, 4.99, 0}, {Coding::Mpeg2Ts, 29.9, 6}};
    for (const auto& row : rows) {
        const QString video = CounterVideo(row.coding);
        SCOPED_TRACE(QStringLiteral("%1 at %2").arg(video).arg(row.at).toStdString());
        RecordingEnv rec(base + "/50%d off");
        const QVector<double> keys = KeyframeSeconds(ReadMediaIndex(video, rec.env));
        ASSERT_GT(keys.size(), row.keyframe);
        FramePreview preview;
        preview.setEnv(rec.env);
        preview.setVideo(video);
        preview.setKeyframes(keys);
        ASSERT_TRUE(QTest::qWaitFor([&] { return preview.keyPictures().done(); }, 30000));
        EXPECT_EQ(preview.keyPictures().count(), keys.size());

        QSignalSpy glimpsed(&preview, &FramePreview::glimpsed);
        preview.Follow(row.at);
        preview.disarm();
        // From the pictures already made: shown within the call, no ffmpeg run.
        ASSERT_EQ(glimpsed.count(), 1);
        EXPECT_TRUE(rec.runs.isEmpty());
        const QImage right = ReferenceFrame(video, keys[row.keyframe]);
        const int other = row.keyframe == 0 ? 1 : row.keyframe - 1;
        const QImage wrong = ReferenceFrame(video, keys[other]);
        EXPECT_LT(MeanDiff(preview.image(), right), 5.0);
        EXPECT_LT(MeanDiff(preview.image(), right), MeanDiff(preview.image(), wrong));
    }
    EXPECT_EQ(QDir(base).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"50%d off"});
    QDir(base).removeRecursively();
}
