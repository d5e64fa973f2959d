// The stream listing parser and the plan of what an MP4 keeps, on listings as ffmpeg prints them.
#include "StreamList.h"

#include <gtest/gtest.h>

using namespace halvora;

namespace {

const char* kBroadcast = R"(Input #0, mpegts, from 'rec (eng).ts':
  Duration: 00:00:02.02, start: 1.400000, bitrate: 453 kb/s
  Program 1
    Metadata:
      service_name    : Service01
  Stream #0:0[0x100]: Video: h264 (High) ([27][0][0][0] / 0x001B), yuv420p(progressive), 320x240 [SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 90k tbn
  Stream #0:1[0x101](eng): Audio: aac (LC) ([15][0][0][0] / 0x000F), 44100 Hz, mono, fltp, 71 kb/s
  Stream #0:2[0x102](deu): Audio: aac (LC) ([15][0][0][0] / 0x000F), 44100 Hz, mono, fltp, 71 kb/s
  Stream #0:3[0x103](fra): Audio: aac (LC) ([15][0][0][0] / 0x000F), 44100 Hz, mono, fltp, 70 kb/s (visual impaired) (descriptions)
  Stream #0:4[0x104](und): Subtitle: dvb_subtitle ([6][0][0][0] / 0x0006)
  Stream #0:5[0x105]: Data: scte_35
  Stream #0:6[0x106]: Data: bin_data ([6][0][0][0] / 0x0006)
At least one output file must be specified
)";

} // namespace

TEST(StreamList, ParsesABroadcastRecording) {
    const QList<StreamEntry> s = ParseStreamList(kBroadcast);
    ASSERT_EQ(s.size(), 7);
    EXPECT_EQ(s[0].kind, "Video");
    EXPECT_EQ(s[0].width, 320);
    EXPECT_EQ(s[0].height, 240);
    EXPECT_EQ(s[3].language, "fra");
    EXPECT_EQ(s[3].codec, "aac");
    EXPECT_EQ(s[4].codec, "dvb_subtitle");
    EXPECT_EQ(s[5].kind, "Data");
    EXPECT_EQ(s[1].programs, QList<int>{1});

    const StreamPlan p = PlanMp4Streams(s);
    EXPECT_TRUE(p.known);
    EXPECT_EQ(p.video, QList<int>{0});
    EXPECT_EQ(p.audio, (QList<int>{1, 2, 3}));
    EXPECT_TRUE(p.textSubs.isEmpty());
    EXPECT_EQ(p.other, (QList<int>{4, 5, 6}));
    EXPECT_EQ(p.leftOut, (QStringList{"DVB subtitles", "SCTE-35 data", "data streams"}));
    EXPECT_EQ(LeftOutSentence(p.leftOut),
              "DVB subtitles, SCTE-35 data and data streams were not kept: MP4 cannot hold them");
    EXPECT_EQ(LeftOutSentence({"DVB subtitles"}),
              "DVB subtitles were not kept: MP4 cannot hold them");
    EXPECT_EQ(LeftOutSentence({}), "");
}

TEST(StreamList, MatroskaWithCoverTitlesAndTextSubtitles) {
    const QList<StreamEntry> s = ParseStreamList(
        "Input #0, matroska,webm, from 'a.mkv':\r\n"
        "  Stream #0:0: Video: h264 (High), yuv420p(progressive), 1280x720, 25 fps (default)\r\n"
        "  Stream #0:1(eng): Audio: aac (LC), 48000 Hz, 5.1, fltp (default)\r\n"
        "    Metadata:\r\n"
        "      title           : Main: 5.1\r\n"
        "  Stream #0:2(spa): Audio: opus, 48000 Hz, stereo, fltp\r\n"
        "  Stream #0:3(eng): Subtitle: subrip\r\n"
        "  Stream #0:4: Subtitle: hdmv_pgs_subtitle, 1920x1080\r\n"
        "  Stream #0:5: Video: mjpeg (Baseline), yuvj420p, 600x600 (attached pic)\r\n"
        "  Stream #0:6: Attachment: ttf\r\n"
        "Output #0, mp4, to 'b.mp4':\r\n"
        "  Stream #0:0: Video: h264 (High), yuv420p, 1280x720\r\n");
    ASSERT_EQ(s.size(), 7);
    EXPECT_EQ(s[1].title, "Main: 5.1");
    EXPECT_TRUE(s[2].title.isEmpty());
    EXPECT_TRUE(s[5].attachedPicture);
    const StreamPlan p = PlanMp4Streams(s);
    EXPECT_EQ(p.video, QList<int>{0});
    EXPECT_EQ(p.audio, (QList<int>{1, 2}));
    EXPECT_EQ(p.textSubs, QList<int>{3});
    EXPECT_EQ(p.leftOut, (QStringList{"PGS subtitles", "attachments"}));
}

TEST(StreamList, OfSeveralVariantsTheLargestPictureIsTaken) {
    // An HLS master of two variants: ffmpeg lists each variant as a program.
    const QList<StreamEntry> s =
        ParseStreamList("[hls @ 0x1] Opening 'http://h/a/local0.ts' for reading\n"
                        "Input #0, hls, from 'http://h/master.m3u8':\n"
                        "  Program 0\n"
                        "  Stream #0:0: Video: h264, yuv420p, 640x360\n"
                        "  Stream #0:1: Audio: aac, 44100 Hz, stereo\n"
                        "  Program 1\n"
                        "  Stream #0:2: Video: h264, yuv420p, 1280x720\n"
                        "  Stream #0:3: Audio: aac, 44100 Hz, stereo\n"
                        "  Stream #0:4: Audio: aac, 44100 Hz, stereo\n");
    const StreamPlan p = PlanMp4Streams(s);
    EXPECT_EQ(p.video, QList<int>{2});
    EXPECT_EQ(p.audio, (QList<int>{3, 4}));

    // Nothing listed (ffmpeg could not read the input): no plan.
    EXPECT_FALSE(PlanMp4Streams(ParseStreamList("No such file or directory\n")).known);
    // Another input's streams don't count.
    EXPECT_TRUE(ParseStreamList("Input #1, mpegts, from 'x':\n  Stream #0:0: Video: h264, "
                                "yuv420p, 320x240\n")
                    .isEmpty());
}

TEST(StreamList, OfHlsAudioRenditionsTheDefaultOneIsTaken) {
    const QString listing = "Input #0, hls, from 'master.m3u8':\n"
                            "  Program 0 \n"
                            "  Stream #0:0(eng): Audio: aac (LC), 44100 Hz, mono, fltp\n"
                            "    Metadata:\n"
                            "      variant_bitrate : 300000\n"
                            "      comment         : English\n"
                            "  Stream #0:1(deu): Audio: aac (LC), 44100 Hz, mono, fltp (default)\n"
                            "    Metadata:\n"
                            "      comment         : Deutsch\n"
                            "  Stream #0:2: Video: h264 (High), yuv420p, 160x120 [SAR 1:1]\n"
                            "  Stream #0:3: Audio: aac (LC), 44100 Hz, stereo\n";
    const QList<StreamEntry> s = ParseStreamList(listing);
    ASSERT_EQ(s.size(), 4);
    EXPECT_EQ(s[0].rendition, "English");
    EXPECT_EQ(s[1].flags, QStringList{"default"});
    EXPECT_TRUE(s[3].rendition.isEmpty());
    const StreamPlan p = PlanMp4Streams(s);
    EXPECT_EQ(p.video, QList<int>{2});
    // The default rendition, and the audio that the variant's own segments carry.
    EXPECT_EQ(p.audio, (QList<int>{1, 3}));

    // Without a default, the first rendition; a "comment" of another container is no rendition.
    QString plain = listing;
    plain.replace(" (default)", "");
    EXPECT_EQ(PlanMp4Streams(ParseStreamList(plain)).audio, (QList<int>{0, 3}));
    plain.replace("Input #0, hls,", "Input #0, matroska,webm,");
    EXPECT_EQ(PlanMp4Streams(ParseStreamList(plain)).audio, (QList<int>{0, 1, 3}));

    EXPECT_EQ(ParseStreamList(kBroadcast)[3].flags,
              (QStringList{"visual_impaired", "descriptions"}));
}
