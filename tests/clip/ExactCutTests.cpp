#include "ClipCoreFixtures.h"
#include "ClipExport.h"
#include "MediaIndex.h"
#include "SmartCut.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

class QuietView : public ExportView {
public:
    QStringList statuses; // without the live progress lines
    QStringList progress;
    QStringList boxes;
    void setStatus(const QString& AText) override {
        static const QRegularExpression line("^\\w[^:]*: \\d\\d:\\d\\d:\\d\\d / ");
        (line.match(AText).hasMatch() ? progress : statuses) << AText;
    }
    BoxAnswer message(BoxKind, const QString& AText, BoxButtons) override {
        boxes << AText;
        return BoxAnswer::Ok;
    }
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

    // A bare ffmpeg found in the current folder does not lead to an ffprobe planted beside it.
    const QString cwd = NewTempDir("cwd");
    for (const char* name : {"/ffmpeg", "/ffprobe"}) {
        ASSERT_TRUE(WriteAll(cwd + name, "#!/bin/sh\n"));
        QFile::setPermissions(cwd + name, QFile::permissions(cwd + name) | QFileDevice::ExeOwner);
    }
    CurrentDir here(cwd);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(NewTempDir("emptypath")));
    const QString found = FindFFprobe("ffmpeg");
    qputenv("PATH", path);
    EXPECT_EQ(found.toStdString(), "");
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

// ffprobe's output is read by the same rules as every JSON reply: the first of repeated keys
// counts, and a number is taken from its literal text.
TEST(MediaIndex, StreamInfoTakesFirstOfRepeatedKeysAndLiteralNumbers) {
    MediaIndex index;
    const QByteArray json = R"({"streams":[
        {"index":0,"codec_type":"video","codec_type":"audio","codec_name":"h264",
         "codec_name":"x","width":64,"width":32,"height":48,"time_base":"1/90000",
         "time_base":"bad","disposition":{"forced":0,"default":1,"forced":1,"attached_pic":1}},
        {"index":1,"codec_type":"audio","sample_rate":"48000","sample_rate":"8000",
         "disposition":{"dub":0}}],
        "format":{"start_time":0.000001,"start_time":"9"},"format":{"start_time":"7"}})";
    ASSERT_TRUE(ParseStreamInfo(json, index));
    EXPECT_EQ(index.codec, "h264");
    EXPECT_EQ(index.width, 64);
    EXPECT_EQ(index.tbDen, 90000);
    EXPECT_EQ(index.videoDisposition, "attached_pic+default");
    EXPECT_EQ(index.audioTracks, 1);
    EXPECT_EQ(index.audioSampleRate, 48000);
    EXPECT_EQ(index.audioDispositions, QStringList{"0"});
    EXPECT_EQ(index.startUs, 1);
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

// When the exact cut can't be used, the copy starts at the keyframe before a mark: nothing that
// should be kept is dropped.
TEST(KeyframeCopy, ExportKeepsEveryKeptPicture) {
    const QString video = CounterVideo(Coding::H264);
    const QVector<QByteArray> source = DecodeLuma(video);
    ASSERT_EQ(source.size(), kCounterFrames);
    RecordingEnv rec;
    MediaIndex index = ReadMediaIndex(video, rec.env);
    index.codec = "vp9"; // as if it were a codec the exact cut doesn't handle
    rec.probes.clear();
    QuietView view;
    const QString out = NewTempDir("kx") + "/out.mp4";
    ExportRequest r;
    r.inFile = video;
    r.outText = out;
    r.rows = {{7, 12}};
    r.duration = 30;
    r.index = &index;
    ASSERT_TRUE(ExportClip(r, view, rec.env)) << view.boxes.join('\n').toStdString();
    EXPECT_EQ(view.statuses.value(1), "Exact cut not possible (codec vp9); cutting at keyframes");
    EXPECT_TRUE(rec.probes.isEmpty()); // the index given is used
    const QVector<QByteArray> frames = DecodeLuma(out);
    EXPECT_EQ(FindRun(frames, source, 0, 175), 0);
    // 12 s lies between the keyframes at 10 and 15 s: the second cut starts at 10 s.
    EXPECT_GE(FindRun(frames, source, 250, 500), 175);
}

namespace {

// The progress of an exact cut: the pieces, then the join, rising over the whole export and
// never falling back, up to 100% as the join ends.
void ExpectSteadyProgress(const QStringList& AProgress) {
    static const QRegularExpression line("^(Cutting|Joining): .* \\((\\d+)%\\)");
    ASSERT_FALSE(AProgress.isEmpty());
    int last = 0;
    bool joining = false;
    for (const QString& p : AProgress) {
        const QRegularExpressionMatch m = line.match(p);
        ASSERT_TRUE(m.hasMatch()) << p.toStdString();
        const int percent = m.captured(2).toInt();
        EXPECT_GE(percent, last) << AProgress.join('\n').toStdString();
        last = percent;
        if (m.captured(1) == "Joining") {
            // The join only starts once every piece is made: half of the whole.
            EXPECT_GE(percent, 49) << p.toStdString();
            joining = true;
        } else {
            EXPECT_FALSE(joining) << AProgress.join('\n').toStdString();
            EXPECT_LE(percent, 50) << p.toStdString();
        }
    }
    EXPECT_TRUE(joining);
    EXPECT_EQ(last, 100) << AProgress.join('\n').toStdString();
}

struct ExactRun {
    bool ok = false;
    QStringList runs;
    QStringList statuses;
    QStringList progress;
    QString out;
};

ExactRun Export(const QString& AVideo, const QVector<DeleteSegment>& ARows) {
    RecordingEnv rec;
    QuietView view;
    ExactRun r;
    r.out = NewTempDir("exact") + "/out.mp4";
    ExportRequest req;
    req.inFile = AVideo;
    req.outText = r.out;
    req.rows = ARows;
    req.duration = 30;
    r.ok = ExportClip(req, view, rec.env);
    r.runs = rec.runs;
    r.statuses = view.statuses;
    r.progress = view.progress;
    return r;
}

// Checks the export of AVideo without ARows frame by frame against the source: every kept
// frame once, in order, copied ones bit for bit, re-encoded ones above 35 dB; clicks in step.
// ACopied: the least share of the kept frames that must be copied.
void ExpectExact(Coding ACoding, const QVector<DeleteSegment>& ARows, double ACopied = 0.5) {
    SCOPED_TRACE(int(ACoding));
    const QString video = CounterVideo(ACoding);
    ASSERT_FALSE(video.isEmpty());
    const ExactRun run = Export(video, ARows);
    ASSERT_TRUE(run.ok) << run.statuses.join('\n').toStdString();
    ASSERT_EQ(run.statuses, QStringList({"Exporting...", "Export complete: " + run.out}))
        << run.statuses.join('\n').toStdString();

    RecordingEnv rec;
    const MediaIndex index = ReadMediaIndex(video, rec.env);
    const CutPoints points(index);
    const QVector<QByteArray> source = DecodeLuma(video);
    const QVector<QByteArray> out = DecodeLuma(run.out);
    ASSERT_EQ(source.size(), kCounterFrames);

    int at = 0;
    int copied = 0;
    QVector<double> expectedClicks;
    for (const KeptRange& r : KeptRanges(ARows, 30)) {
        StretchPlan plan;
        ASSERT_TRUE(points.Plan(r.from, r.tail ? -1 : r.to, plan));
        const int first = int(std::lround(r.from * kCounterFps));
        const int last = r.tail ? kCounterFrames : int(std::lround(r.to * kCounterFps));
        ASSERT_EQ(plan.frames, last - first);
        // A click half a second after every whole second the stretch keeps.
        for (int c = 0; c < 30; ++c)
            if (c + 0.5 >= r.from && c + 0.5 < (r.tail ? 30 : r.to))
                expectedClicks << double(at) / kCounterFps + (c + 0.5 - r.from);
        int src = first;
        for (const CutPiece& piece : plan.pieces) {
            for (int i = 0; i < piece.frames; ++i, ++src, ++at) {
                ASSERT_LT(at, out.size());
                if (piece.copy) {
                    EXPECT_EQ(out[at], source[src]) << "copied frame " << src;
                    ++copied;
                } else {
                    EXPECT_GT(Psnr(out[at], source[src]), 35.0) << "re-encoded frame " << src;
                }
            }
        }
    }
    EXPECT_EQ(out.size(), at); // nothing doubled, nothing missing
    EXPECT_GT(copied, at * ACopied);
    EXPECT_NEAR(StreamSeconds(run.out, "v"), double(at) / kCounterFps, 0.001);
    EXPECT_EQ(DecodeErrors(run.out), "");
    ExpectSteadyProgress(run.progress);

    // Each click within one audio frame of where the picture says it belongs.
    const QVector<double> clicks = ClickTimes(run.out);
    QStringList heard;
    for (double c : clicks)
        heard << QString::number(c, 'f', 3);
    ASSERT_EQ(clicks.size(), expectedClicks.size()) << heard.join(' ').toStdString();
    for (qsizetype i = 0; i < clicks.size(); ++i)
        EXPECT_NEAR(clicks[i], expectedClicks[i], 1024.0 / 44100) << "click " << i;
}

// Ends between keyframes, on keyframes, a kept stretch ending one frame before a keyframe and
// one shorter than a keyframe interval: kept [0,2) [7,12) [15,20) [21,22) [23,30).
const QVector<DeleteSegment> kMixedRows{{2, 7}, {12, 15}, {20, 21}, {22, 23}};

} // namespace

TEST(ExactCut, H264WithBFrames) {
    ExpectExact(Coding::H264, kMixedRows);
}

// Marks on frames between whole seconds, mid-GOP: 2.04 is frame 51, 7.48 frame 187, a kept
// stretch of one frame (20.52 to 20.56) too.
TEST(ExactCut, MarksOnAnyFrame) {
    // Most kept frames lie between a mark and the next keyframe here: re-encoded.
    ExpectExact(Coding::H264, {{2.04, 7.48}, {12.2, 15.96}, {20.52, 20.56}, {20.6, 21}}, 0.4);
}

TEST(ExactCut, EachKeptStretchAsItsOwnFile) {
    const QString video = CounterVideo(Coding::H264);
    ASSERT_FALSE(video.isEmpty());
    const QString dir = NewTempDir("parts");
    ASSERT_TRUE(WriteAll(dir + "/out-02.mp4", "someone else's")); // kept: a free name instead
    RecordingEnv rec;
    QuietView view;
    ExportRequest req;
    req.inFile = video;
    req.outText = dir + "/out.mp4";
    req.rows = {{2.04, 7.48}, {12.2, 30}};
    req.duration = 30;
    req.separateFiles = true;
    ASSERT_TRUE(ExportClip(req, view, rec.env)) << view.boxes.join('\n').toStdString();
    const QStringList parts{dir + "/out-01.mp4", dir + "/out-02 (2).mp4"};
    EXPECT_EQ(view.boxes, QStringList{"Export complete!\r\n" + parts.join("\r\n")});
    EXPECT_EQ(ReadAll(dir + "/out-02.mp4"), "someone else's");
    const QVector<QByteArray> source = DecodeLuma(video);
    // [0, 2.04) and [7.48, 12.2): frames 0-50 and 187-304, each from its marked frame.
    const std::pair<int, int> spans[] = {{0, 51}, {187, 305}};
    for (int i = 0; i < 2; ++i) {
        const QVector<QByteArray> got = DecodeLuma(parts[i]);
        const auto [from, to] = spans[i];
        ASSERT_EQ(got.size(), to - from) << parts[i].toStdString();
        for (int f = 0; f < got.size(); ++f)
            EXPECT_GT(Psnr(got[f], source[from + f]), 35.0) << i << " frame " << f;
        EXPECT_NEAR(StreamSeconds(parts[i], "a"), double(to - from) / kCounterFps, 0.05);
    }
    QDir(dir).removeRecursively();
}

TEST(ExactCut, H264WithoutBFrames) {
    ExpectExact(Coding::H264NoB, kMixedRows);
}

TEST(ExactCut, HevcWithBFrames) {
    ExpectExact(Coding::Hevc, kMixedRows);
}

TEST(ExactCut, HevcWithoutBFrames) {
    ExpectExact(Coding::HevcNoB, kMixedRows);
}

TEST(ExactCut, MarksOnKeyframesOnlyCopy) {
    ExpectExact(Coding::H264, {{5, 10}, {20, 25}});
    const ExactRun run = Export(CounterVideo(Coding::H264), {{5, 10}, {20, 25}});
    ASSERT_TRUE(run.ok);
    for (const QString& r : run.runs)
        EXPECT_FALSE(r.contains("libx26")) << r.toStdString();
}

TEST(ExactCut, PlansPiecesAroundTheKeyframes) {
    RecordingEnv rec;
    const MediaIndex index = ReadMediaIndex(CounterVideo(Coding::H264NoB), rec.env);
    const CutPoints points(index);
    StretchPlan plan;
    // Without B-frames the copy can end on any frame.
    ASSERT_TRUE(points.Plan(7, 12, plan));
    EXPECT_EQ(plan.pieces, QVector<CutPiece>({{false, 7000000, 75}, {true, 10000000, 50}}));
    ASSERT_TRUE(points.Plan(21, 22, plan)); // shorter than a keyframe interval
    EXPECT_EQ(plan.pieces, QVector<CutPiece>({{false, 21000000, 25}}));
    ASSERT_TRUE(points.Plan(25, -1, plan)); // a tail from a keyframe
    EXPECT_EQ(plan.pieces, QVector<CutPiece>({{true, 25000000, 125}}));
    ASSERT_TRUE(points.Plan(40, -1, plan)); // beyond the video
    EXPECT_EQ(plan.frames, 0);

    const MediaIndex bframes = ReadMediaIndex(CounterVideo(Coding::H264), rec.env);
    ASSERT_TRUE(CutPoints(bframes).Plan(10, 12, plan));
    // With B-frames the copy ends before a picture that later ones refer to; the rest of the
    // stretch is re-encoded.
    ASSERT_GE(plan.pieces.size(), 1);
    EXPECT_TRUE(plan.pieces[0].copy);
    EXPECT_EQ(plan.pieces[0].startUs, 10000000);
    int frames = 0;
    for (const CutPiece& p : plan.pieces)
        frames += p.frames;
    EXPECT_EQ(frames, 50);
    EXPECT_EQ(SmartCutUnsupported(bframes), "");
    EXPECT_EQ(SmartCutUnsupported(ReadMediaIndex(CounterVideo(Coding::Mpeg2Ts), rec.env)),
              "codec mpeg2video");
}

TEST(ExactCut, ProgressWeighsPiecesByTheirLengthAndTheJoinAsAllOfThem) {
    // Kept 2 s (re-encoded) and 3 s (copied), then 5 s whole, over 10 s shown.
    const QVector<CutStep> steps = SmartCutSteps({{2000, 3000}, {5000}}, 10000);
    EXPECT_EQ(steps, QVector<CutStep>({{"Cutting", 0, 1000, 2000},
                                       {"Cutting", 1000, 1500, 3000},
                                       {"Cutting", 2500, 2500, 5000},
                                       {"Joining", 5000, 5000, 10000}}));
    // Rounding never leaves a gap or overlap, and the last share ends on the total.
    const QVector<CutStep> odd = SmartCutSteps({{333, 1}, {667}}, 997);
    ASSERT_EQ(odd.size(), 4);
    std::int64_t at = 0;
    for (const CutStep& s : odd) {
        EXPECT_EQ(s.baseMs, at);
        EXPECT_GE(s.shareMs, 0);
        at += s.shareMs;
    }
    EXPECT_EQ(at, 997);
    EXPECT_TRUE(SmartCutSteps({}, 1000).isEmpty());
}

TEST(ExactCut, MpegTwoFallsBackToKeyframeCopies) {
    const QString video = CounterVideo(Coding::Mpeg2Ts);
    const ExactRun run = Export(video, {{2, 7}});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.statuses,
              QStringList({"Exporting...",
                           "Exact cut not possible (codec mpeg2video); cutting at keyframes",
                           "Export complete: " + run.out}));
    // Nothing kept is lost: the second copy starts on the keyframe before 7 s.
    const QVector<QByteArray> out = DecodeLuma(run.out);
    EXPECT_GE(out.size(), 50 + 575) << run.runs.join("\n").toStdString();
    // The keyframe copies overlap where the stretches meet, so the video runs longer.
    EXPECT_GE(StreamSeconds(run.out, "v"), 25.0);
    EXPECT_LE(StreamSeconds(run.out, "v"), 30.0);
}

// Neither a completed exact cut nor one that fails at its join and falls back to keyframe copies
// leaves a piece, a list or a partial output in the working, output or temporary folder.
TEST(ExactCut, LeavesNoPieceListOrPartialOutput) {
    const QString video = CounterVideo(Coding::H264);
    RecordingEnv rec;
    const MediaIndex index = ReadMediaIndex(video, rec.env);
    const QString outDir = NewTempDir("exactleft");
    const QStringList folders{rec.env.workDir, outDir, QDir::tempPath()};
    const QStringList before = FilesIn(folders);
    QuietView view;
    ExportRequest r;
    r.inFile = video;
    r.outText = outDir + "/out.mp4";
    r.rows = {{2, 7}};
    r.duration = 30;
    r.index = &index;
    ASSERT_TRUE(ExportClip(r, view, rec.env)) << view.boxes.join('\n').toStdString();
    ASSERT_EQ(view.statuses.value(1), "Export complete: " + r.outText);
    EXPECT_EQ(FilesIn(folders), QStringList(before + QStringList{r.outText}));
    ASSERT_TRUE(QFile::remove(r.outText));

    // An ffmpeg whose exact-cut join writes its output and then fails.
    const QString fake = outDir + "/ffmpeg";
    {
        QFile f(fake);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\ncase \"$*\" in *video.txt*) " + FixtureFFmpeg().toUtf8() +
                " \"$@\"; exit 1;; esac\nexec " + FixtureFFmpeg().toUtf8() + " \"$@\"\n");
    }
    QFile::setPermissions(fake, QFile::permissions(fake) | QFileDevice::ExeOwner);
    rec.env.findFFmpeg = [fake] { return fake; };
    const QStringList withFake = FilesIn(folders);
    view.statuses.clear();
    ASSERT_TRUE(ExportClip(r, view, rec.env)) << view.boxes.join('\n').toStdString();
    EXPECT_EQ(view.statuses.value(1), "Exact cut failed (join); cutting at keyframes");
    // Only the keyframe copies' own cuts and list stay, as after any copy export.
    QStringList expected = withFake;
    expected << r.outText << rec.env.workDir + "list.txt" << rec.env.workDir + CutFileName(0, 2)
             << rec.env.workDir + TailFileName(7);
    expected.sort();
    EXPECT_EQ(FilesIn(folders), expected);
    // The output is the copies' join, not the failed exact one: from the keyframe before 7 s.
    const QVector<QByteArray> source = DecodeLuma(video);
    const QVector<QByteArray> out = DecodeLuma(r.outText);
    EXPECT_EQ(FindRun(out, source, 0, 50), 0);
    EXPECT_GE(FindRun(out, source, 125, 625), 50);
    QDir(outDir).removeRecursively();
}
