#include "ClipCoreFixtures.h"
#include "MediaProbe.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

TEST(FormatTime, MinutesAndSecondsWithoutHours) {
    EXPECT_EQ(FormatTime(0), "00:00");
    EXPECT_EQ(FormatTime(59), "00:59");
    EXPECT_EQ(FormatTime(60), "01:00");
    EXPECT_EQ(FormatTime(83), "01:23");
    EXPECT_EQ(FormatTime(6000), "100:00");
    EXPECT_EQ(FormatTime(7530), "125:30");
}

TEST(ClipWorkDir, FollowsTempThenTheSystemFolder) {
    const QByteArray old = qgetenv("TEMP");
    EXPECT_EQ(ClipWorkDir(), QFile::decodeName(old) + "/Halvora_clip/");
    qputenv("TEMP", "");
    EXPECT_EQ(ClipWorkDir(), QDir::tempPath() + "/Halvora_clip/");
    qputenv("TEMP", old);
    const QString made = MakeClipWorkDir();
    EXPECT_TRUE(QFileInfo(made).isDir());
    EXPECT_TRUE(made.startsWith(SandboxRoot()));
}

TEST(ReadTextFile, JoinsLinesWithCrLfAndHonoursByteOrderMarks) {
    const QString dir = NewTempDir();
    WriteAll(dir + "/a.txt", "one\ntwo\r\nthree");
    EXPECT_EQ(ReadTextFile(dir + "/a.txt"), "one\r\ntwo\r\nthree\r\n");
    WriteAll(dir + "/b.txt", "\xEF\xBB\xBF"
                             "Duration: 00:00:05.00\n");
    EXPECT_EQ(ReadTextFile(dir + "/b.txt"), "Duration: 00:00:05.00\r\n");
    const QString utf16 = QStringLiteral("Video: h264, 640x360\n");
    QByteArray le("\xFF\xFE", 2);
    le += QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2);
    WriteAll(dir + "/c.txt", le);
    EXPECT_EQ(ReadTextFile(dir + "/c.txt"), "Video: h264, 640x360\r\n");
    EXPECT_EQ(ReadTextFile(dir + "/missing.txt"), "");
}

TEST(ParseDuration, ReadsTheFixedFieldsAndLongHours) {
    EXPECT_EQ(ParseDuration("  Duration: 00:01:23.45, start: 0.000000, bitrate: 1 kb/s\r\n"), 83);
    EXPECT_EQ(ParseDuration("Duration: 01:00:00.99, start"), 3600);
    EXPECT_EQ(ParseDuration("  Duration: N/A, bitrate: N/A\r\n"), 0);
    EXPECT_EQ(ParseDuration("nothing here"), 0);
    EXPECT_EQ(ParseDuration("Duration: 00:0"), 0);    // cut short
    EXPECT_EQ(ParseDuration("Duration: 00:02"), 120); // seconds group missing
    EXPECT_EQ(ParseDuration("Duration: 123:04:05.00, start"), 123 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(ParseDuration("Duration: 18:12:16.00"), 65536); // beyond 16 bits
    EXPECT_EQ(ParseDuration("duration: 00:00:05.00"), 0);     // the marker is case-sensitive
}

TEST(ParseVideoSize, FindsTheFirstSizeTokenAfterVideo) {
    EXPECT_EQ(ParseVideoSize("Stream #0:0: Video: h264 (High) (avc1 / 0x1b), yuv420p(tv, bt709), "
                             "1280x720 [SAR 1:1 DAR 16:9]"),
              "1280x720");
    EXPECT_EQ(ParseVideoSize("Stream #0:0[0x100]: Video: h264 (Main) ([27][0][0][0] / 0x001B), "
                             "yuv420p(tv), 320x240, 25 fps"),
              "320x240");
    EXPECT_EQ(ParseVideoSize("Stream #0:0: Audio: aac, 44100 Hz, stereo"), "");
    EXPECT_EQ(ParseVideoSize("Video: h264 0x1b"), "");
    EXPECT_EQ(ParseVideoSize("Video: 640x"), "");
    EXPECT_EQ(ParseVideoSize("Video: 640"), ""); // digits run to the end
    // Only 300 characters after the marker are searched.
    EXPECT_EQ(ParseVideoSize("Video:" + QString(300, 'a') + " 640x480"), "");
    EXPECT_EQ(ParseVideoSize("Video:" + QString(290, 'a') + " 640x480"), "640x480");
}

TEST(ShownVideoSize, TurnsAQuarterTurnOfTheFirstVideoOnly) {
    const QString video =
        "  Stream #0:0[0x1](und): Video: hevc (Main), yuv420p(tv), 320x240, 25 fps\r\n"
        "    Side data:\r\n"
        "      displaymatrix: rotation of %1 degrees\r\n";
    const QString audio = "  Stream #0:1[0x2](eng): Audio: aac (LC), 48000 Hz, stereo\r\n";
    const struct {
        QString capture;
        QString shown;
    } cases[]{
        {video.arg("-90.00"), "240x320"},
        {video.arg("90.00"), "240x320"},
        {video.arg("-270.00"), "240x320"},
        {video.arg("180.00"), "320x240"},
        {video.arg("-0.00"), "320x240"},
        // Side data of a later stream is not the picture's.
        {video.section("\r\n", 0, 0) + "\r\n" + audio +
             "      displaymatrix: rotation of -90.00 degrees\r\n",
         "320x240"},
        {audio, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShownVideoSize(c.capture), c.shown) << c.capture.toStdString();
}

TEST(Probe, RealCapturesOfMp4TsAndMkv) {
    RecordingEnv rec;
    const QString dir = NewTempDir(QStringLiteral("media"));
    for (const char* ext : {"mp4", "ts", "mkv"}) {
        const QString file = dir + "/v." + ext;
        ASSERT_TRUE(MakeVideo(file, 5, 320, 240)) << ext;
        EXPECT_EQ(ProbeVideoSize(file, rec.env), "320x240") << ext;
        EXPECT_EQ(ProbeDuration(file, rec.env), 5) << ext;
    }
    EXPECT_TRUE(QFile::exists(rec.env.workDir + "duration.txt"));
    EXPECT_TRUE(QFile::exists(rec.env.workDir + "vsize.txt"));
    ASSERT_EQ(rec.runs.size(), 6);
    EXPECT_TRUE(rec.runs[0].endsWith(" -i \"" + dir + "/v.mp4\"")) << rec.runs[0].toStdString();

    const QString audio = dir + "/a.m4a";
    ASSERT_TRUE(RunFixtureFFmpeg({"-f", "lavfi", "-i", "sine=duration=4", "-c:a", "aac", audio}));
    EXPECT_EQ(ProbeVideoSize(audio, rec.env), "");
    EXPECT_EQ(ProbeDuration(audio, rec.env), 4);
}

TEST(Probe, BadInputGivesNothing) {
    RecordingEnv rec;
    const QString dir = NewTempDir(QStringLiteral("bad"));
    WriteAll(dir + "/text.mp4", "this is not a video\n");
    WriteAll(dir + "/empty.mp4", "");
    for (const QString& f : {dir + "/text.mp4", dir + "/empty.mp4", dir + "/missing.mp4"}) {
        EXPECT_EQ(ProbeDuration(f, rec.env), 0) << f.toStdString();
        EXPECT_EQ(ProbeVideoSize(f, rec.env), "") << f.toStdString();
    }
    // ffmpeg echoes the name: a name that looks like the facts must not be read as them.
    const QString tricky = dir + "/Duration: 77:00:00.00 Video: 640x480.mp4";
    WriteAll(tricky, "junk");
    EXPECT_EQ(ProbeDuration(tricky, rec.env), 0);
    EXPECT_EQ(ProbeVideoSize(tricky, rec.env), "");
}

TEST(Probe, NamesWithBlanksQuotesAndNonAsciiLetters) {
    RecordingEnv rec(NewTempDir(QStringLiteral("wd 'x' \"q\"")));
    const QString dir = NewTempDir(QStringLiteral("it's a \"dir\" über"));
    const QString file = dir + "/-my 'clip' \"ÿ\" ünïcødé.mp4";
    ASSERT_TRUE(CopyTo(ShortVideo(), file));
    EXPECT_EQ(ProbeDuration(file, rec.env), 10);
    EXPECT_EQ(ProbeVideoSize(file, rec.env), "320x240");
}

TEST(Probe, WithoutFFmpegNothingRunsAndNothingIsWritten) {
    RecordingEnv rec;
    rec.env.findFFmpeg = [] { return QString(); };
    EXPECT_EQ(ProbeDuration(ShortVideo(), rec.env), 0);
    EXPECT_EQ(ProbeVideoSize(ShortVideo(), rec.env), "");
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_TRUE(QDir(rec.env.workDir).isEmpty());
}

TEST(Probe, AnOldCaptureNeverAnswersForARunThatCouldNotStart) {
    RecordingEnv rec;
    ASSERT_EQ(ProbeDuration(ShortVideo(), rec.env), 10);
    ASSERT_EQ(ProbeVideoSize(ShortVideo(), rec.env), "320x240");
    rec.env.findFFmpeg = [] { return QStringLiteral("/nonexistent/ffmpeg"); };
    EXPECT_EQ(ProbeDuration(ShortVideo(), rec.env), 0);
    EXPECT_EQ(ProbeVideoSize(ShortVideo(), rec.env), "");
}

TEST(ParseAudioTracks, CountsAndLanguagesInOrder) {
    const QString capture =
        "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from '':\r\n"
        "  Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p, 320x240\r\n"
        "  Stream #0:1[0x2](eng): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, mono\r\n"
        "  Stream #0:2[0x3](und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, mono\r\n"
        "  Stream #0:3[0x4](deu): Audio: ac3, 48000 Hz, 5.1(side)\r\n";
    EXPECT_EQ(ParseAudioTracks(capture), (QStringList{"eng", "", "deu"}));
    EXPECT_EQ(AudioTracksText(ParseAudioTracks(capture)), "Audio: 3 tracks (eng, ?, deu)");
    EXPECT_EQ(AudioTracksText({"eng"}), "Audio: 1 track (eng)");
    EXPECT_EQ(AudioTracksText({"", ""}), "Audio: 2 tracks");
    EXPECT_EQ(AudioTracksText({}), "Audio: none");

    RecordingEnv rec;
    const QString two = NewTempDir("probe2") + "/two.mp4";
    ASSERT_TRUE(MakeToneVideo(two, 1, {{300, "eng", "", false}, {500, "deu", "", false}}));
    EXPECT_EQ(ProbeAudioTracks(two, rec.env), (QStringList{"eng", "deu"}));
    EXPECT_EQ(ProbeAudioTracks(rec.env.workDir + "none.mp4", rec.env), QStringList());
}
