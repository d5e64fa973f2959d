#include "ClipCoreFixtures.h"
#include "ClipExport.h"
#include "MediaIndex.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

class QuietView : public ExportView {
public:
    QStringList statuses;
    QStringList boxes;
    void setStatus(const QString& AText) override { statuses << AText; }
    BoxAnswer message(BoxKind, const QString& AText, BoxButtons) override {
        boxes << AText;
        return BoxAnswer::Ok;
    }
    void processMessages() override {}
};

// Where the run of ASource's frames [AFrom, AFrom + ACount) starts inside AOut, bit for bit;
// -1 when it doesn't appear.
qsizetype FindRun(const QVector<QByteArray>& AOut, const QVector<QByteArray>& ASource, int AFrom,
                  int ACount) {
    for (qsizetype at = 0; at + ACount <= AOut.size(); ++at) {
        bool same = true;
        for (int i = 0; i < ACount && same; ++i)
            same = AOut[at + i] == ASource[AFrom + i];
        if (same)
            return at;
    }
    return -1;
}

} // namespace

TEST(MediaIndex, ReadsKeyframesAndCodingOnce) {
    RecordingEnv rec;
    const MediaIndex index = ReadMediaIndex(CounterVideo(Coding::H264), rec.env);
    ASSERT_TRUE(index.ok);
    EXPECT_EQ(rec.probes.size(), 2);
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(index.codec, "h264");
    EXPECT_EQ(index.profile, "High");
    EXPECT_EQ(index.pixFmt, "yuv420p");
    EXPECT_EQ(index.width, 320);
    EXPECT_EQ(index.height, 240);
    EXPECT_EQ(index.frameUs(), 40000);
    EXPECT_EQ(index.packets.size(), kCounterFrames);
    EXPECT_EQ(index.audioTracks, 1);
    EXPECT_EQ(index.audioFrameSamples(), 1024);
    EXPECT_EQ(KeyframeSeconds(index), QVector<double>({0, 5, 10, 15, 20, 25}));
    EXPECT_TRUE(IsOnKeyframe(index, 10));
    EXPECT_FALSE(IsOnKeyframe(index, 11));

    const MediaIndex ts = ReadMediaIndex(CounterVideo(Coding::Mpeg2Ts), rec.env);
    ASSERT_TRUE(ts.ok);
    EXPECT_EQ(ts.codec, "mpeg2video");
    EXPECT_GT(ts.startUs, 0); // MPEG-TS starts late; marks count from the file's start
    // The video starts a little after the audio.
    EXPECT_NEAR(KeyframeSeconds(ts).value(0), 0.023, 0.01);

    RecordingEnv none;
    none.env.findFFmpeg = [] { return QString(); };
    EXPECT_FALSE(ReadMediaIndex(CounterVideo(Coding::H264), none.env).ok);
    EXPECT_FALSE(ReadMediaIndex(rec.env.workDir + "missing.mp4", rec.env).ok);
}

TEST(MediaIndex, FindsFFprobeBesideFFmpegOrItsLinkTarget) {
    EXPECT_EQ(FFprobeBeside("/usr/bin/ffmpeg"), "/usr/bin/ffprobe");
    EXPECT_EQ(FFprobeBeside("ffmpeg"), "ffprobe");
    EXPECT_EQ(FFprobeBeside("/opt/x/ffmpeg-6"), "/opt/x/ffprobe-6");
    EXPECT_EQ(FFprobeBeside("/opt/x/avconv"), "/opt/x/ffprobe");
    const QString dir = NewTempDir("app");
    ASSERT_TRUE(QFile::link(FixtureFFmpeg(), dir + "/ffmpeg"));
    EXPECT_EQ(FindFFprobe(dir + "/ffmpeg"), "/usr/bin/ffprobe");
    EXPECT_EQ(FindFFprobe(dir + "/nothing"), "");
}

TEST(MediaIndex, ParsesPacketLinesAndStreams) {
    MediaIndex index;
    ASSERT_TRUE(ParsePacketLines("0,-1024,K_\n2048,-512,__\n1024,0,_D\n", index));
    ASSERT_EQ(index.packets.size(), 3);
    EXPECT_TRUE(index.packets[0].key);
    EXPECT_EQ(index.packets[1].pts, 2048);
    EXPECT_EQ(index.packets[1].dts, -512);
    EXPECT_FALSE(index.packets[2].key);
    EXPECT_FALSE(ParsePacketLines("N/A,0,K_\n", index));
    EXPECT_FALSE(ParsePacketLines("", index));

    const QByteArray json = R"({"streams":[
        {"index":0,"codec_name":"aac","codec_type":"audio","sample_rate":"48000"},
        {"index":1,"codec_name":"hevc","profile":"Main 10","codec_type":"video","width":64,
         "height":48,"pix_fmt":"yuv420p10le","level":93,"r_frame_rate":"30000/1001",
         "time_base":"1/90000"},
        {"index":2,"codec_name":"ac3","codec_type":"audio","sample_rate":"44100"}],
        "format":{"start_time":"1.433333"}})";
    ASSERT_TRUE(ParseStreamInfo(json, index));
    EXPECT_EQ(index.codec, "hevc");
    EXPECT_EQ(index.profile, "Main 10");
    EXPECT_EQ(index.level, 93);
    EXPECT_EQ(index.tbDen, 90000);
    EXPECT_EQ(index.frameUs(), 33366);
    EXPECT_EQ(index.startUs, 1433333);
    EXPECT_EQ(index.audioTracks, 2);
    EXPECT_EQ(index.audioSampleRate, 48000);
    EXPECT_EQ(index.toUs(90000), 1000000);
    EXPECT_EQ(index.toUs(-1), -12); // rounded down, below zero too
    EXPECT_FALSE(ParseStreamInfo(R"({"streams":[{"codec_type":"audio"}]})", index));
}

// A copy that starts on a keyframe keeps every picture from it, with and without B-frames;
// ffmpeg's copy that seeks after the input loses a whole keyframe interval with B-frames.
TEST(KeyframeCopy, KeepsEveryFrameFromTheKeyframe) {
    for (Coding coding : {Coding::H264, Coding::H264NoB, Coding::Hevc}) {
        const QString video = CounterVideo(coding);
        ASSERT_FALSE(video.isEmpty());
        const QVector<QByteArray> source = DecodeLuma(video);
        ASSERT_EQ(source.size(), kCounterFrames);
        const QString out = NewTempDir("kc") + "/cut.mp4";
        const Command cut = KeyframeCutCommand(FixtureFFmpeg(), video, 10000000, 17, out);
        ASSERT_TRUE(RunFixtureFFmpeg(cut.arguments().mid(1)));
        const QVector<QByteArray> frames = DecodeLuma(out);
        // Frames 250 (10 s) to 424 come first, bit for bit; with B-frames ffmpeg's copy may
        // end a few pictures late.
        ASSERT_GE(frames.size(), 175);
        EXPECT_LE(frames.size(), 180);
        EXPECT_EQ(FindRun(frames, source, 250, 175), 0) << int(coding);
        EXPECT_EQ(DecodeErrors(out), "");
    }
}

// Until a mark between keyframes can be cut exactly, the copy starts at the keyframe before it:
// nothing that should be kept is dropped.
TEST(KeyframeCopy, ExportKeepsEveryKeptPicture) {
    const QString video = CounterVideo(Coding::H264);
    const QVector<QByteArray> source = DecodeLuma(video);
    ASSERT_EQ(source.size(), kCounterFrames);
    RecordingEnv rec;
    QuietView view;
    const QString out = NewTempDir("kx") + "/out.mp4";
    ExportRequest r;
    r.inFile = video;
    r.outText = out;
    r.rows = {{7, 12}};
    r.duration = 30;
    ASSERT_TRUE(ExportClip(r, view, rec.env)) << view.boxes.join('\n').toStdString();
    const QVector<QByteArray> frames = DecodeLuma(out);
    EXPECT_EQ(FindRun(frames, source, 0, 175), 0);
    // 12 s lies between the keyframes at 10 and 15 s: the second cut starts at 10 s.
    EXPECT_GE(FindRun(frames, source, 250, 500), 175);
}
