// What a source carries besides its pictures and sound (rotation, colour and HDR, dates and
// places, track names) survives every kind of export, driven through the real clip window with
// the real ffmpeg on phone-style videos made here.
#include "ClipCoreFixtures.h"
#include "ClipWindowTest.h"
#include "Controls.h"
#include "FakeDialogs.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

constexpr int kSeconds = 8;

const QString kMasterDisplay =
    "G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50)";

// The picture of a phone-style source: keyframes every 2 s, so marks at odd seconds fall
// between them.
QStringList Picture(const QString& ACodec, const QString& APixFmt, const QString& AExtra = {}) {
    if (ACodec == "libx265")
        return {"-pix_fmt",
                APixFmt,
                "-c:v",
                "libx265",
                "-preset",
                "ultrafast",
                "-x265-params",
                "keyint=50:min-keyint=50:scenecut=0:bframes=3:log-level=error" + AExtra};
    return {"-pix_fmt", APixFmt,       "-c:v", ACodec,          "-g",
            "50",       "-keyint_min", "50",   "-sc_threshold", "0"};
}

// Makes APath from lavfi sources with APicture, two tagged sound tracks, then gives the copy
// the container-level facts of ATags (a rotation through the muxer's rotate tag).
QString MakeSource(const QString& AName, const QStringList& APicture, const QStringList& ATags) {
    const QString dir = NewTempDir("keep");
    const QString raw = dir + "/raw.mp4";
    const QString path = dir + "/" + AName;
    const QString len = QString::number(kSeconds);
    const bool made = RunFixtureFFmpeg(
        QStringList{"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=" + len, "-f",
                    "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + len, "-f",
                    "lavfi", "-i", "sine=frequency=660:sample_rate=48000:duration=" + len, "-map",
                    "0", "-map", "1", "-map", "2"} +
        APicture +
        QStringList{"-c:a", "aac", "-metadata:s:a:0", "language=eng", "-metadata:s:a:1",
                    "language=fra", "-metadata:s:a:1", "title=Commentaire", "-metadata:s:a:1",
                    "handler_name=Commentaire", "-disposition:a:1", "comment", raw});
    if (!made || !RunFixtureFFmpeg(QStringList{"-i", raw, "-map", "0", "-c", "copy"} + ATags +
                                   QStringList{path}))
        return {};
    return path;
}

QJsonObject Probe(const QStringList& AArgs, const QString& AFile) {
    return QJsonDocument::fromJson(
               RunTool("/usr/bin/ffprobe",
                       QStringList{"-v", "error", "-of", "json"} + AArgs + QStringList{AFile}))
        .object();
}

// Everything the user would miss in a shared file, as one comparable map.
QMap<QString, QString> Facts(const QString& AFile) {
    QMap<QString, QString> f;
    const QJsonObject o = Probe({"-show_format", "-show_streams"}, AFile);
    const QJsonObject tags = o.value("format").toObject().value("tags").toObject();
    for (const char* k : {"creation_time", "location", "title", "comment"})
        if (tags.contains(k))
            f[QString("tag ") + k] = tags.value(k).toString();
    int audio = 0;
    for (const QJsonValue& v : o.value("streams").toArray()) {
        const QJsonObject s = v.toObject();
        const QJsonObject st = s.value("tags").toObject();
        QStringList flags;
        const QJsonObject d = s.value("disposition").toObject();
        for (auto it = d.begin(); it != d.end(); ++it)
            if (it.value().toInt())
                flags << it.key();
        const QString who = s.value("codec_type").toString() == "video"
                                ? QString("video")
                                : QString("audio %1").arg(audio++);
        f[who + " names"] =
            QStringList{st.value("language").toString(), st.value("handler_name").toString(),
                        st.value("title").toString(), flags.join('+')}
                .join('|');
        if (who != "video")
            continue;
        f["video format"] = s.value("codec_name").toString() + " " + s.value("pix_fmt").toString();
        f["video colour"] =
            QStringList{s.value("color_range").toString(), s.value("color_space").toString(),
                        s.value("color_transfer").toString(), s.value("color_primaries").toString()}
                .join('/');
        QString rotation = "none";
        for (const QJsonValue& sd : s.value("side_data_list").toArray())
            if (sd.toObject().contains("rotation"))
                rotation = QString::number(sd.toObject().value("rotation").toInt());
        f["video rotation"] = rotation;
    }
    f["hdr"] = HdrSideData(AFile, 0);
    return f;
}

class KeepProperties : public ClipWindowTest {
protected:
    // Opens AVideo, deletes [AFrom, ATo) with the marks, exports to AOut as the user would;
    // the status line at the end.
    QString Export(const QString& AVideo, int AFrom, int ATo, const QString& ACrop,
                   const QString& AOut) {
        FForm->LoadFile(AVideo);
        if (!QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000))
            return "still loading";
        W<QSlider>("TrackBar1")->setValue(AFrom);
        QTest::mouseClick(W<QPushButton>("BtnStart"), Qt::LeftButton);
        W<QSlider>("TrackBar1")->setValue(ATo);
        QTest::mouseClick(W<QPushButton>("BtnEnd"), Qt::LeftButton);
        W<QLineEdit>("EdtCrop")->setText(ACrop);
        W<QLineEdit>("EdtOut")->setText(AOut);
        QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, 300000))
            return "still exporting";
        return Status();
    }
};

struct KeepCase {
    const char* name;
    QStringList picture;
    QStringList tags;
    QString sizeShown; // what the window says of the picture
    int seamFrom = 5;  // the source's second shown first after the seam
    QString crop = {};
    QString lost = {}; // what the completion box names as not kept
};

// The luma plane AAll (AWidth wide) cut to the crop "w:h:x:y".
QByteArray Cropped(const QByteArray& AAll, int AWidth, const QString& ACrop) {
    const QStringList v = ACrop.split(':');
    const int w = v[0].toInt(), h = v[1].toInt(), x = v[2].toInt(), y = v[3].toInt();
    QByteArray out;
    for (int row = y; row < y + h; ++row)
        out += AAll.mid(qsizetype(row) * AWidth + x, w);
    return out;
}

} // namespace

// An exact cut of a stretch starting mid-GOP, a keyframe copy, and a crop each keep what the
// source carries; the frame after the seam is the marked one; every kept frame is there.
TEST_F(KeepProperties, ExportsKeepRotationColourHdrDatesPlacesAndTrackNames) {
    const QStringList place{"-metadata", "creation_time=2024-05-01T10:20:30.000000Z", "-metadata",
                            "location=+48.8577+002.2950/"};
    const QList<KeepCase> cases{
        // One sound track and nothing else to keep: nothing is added.
        {"plain.mp4", {}, {}, "Video: 320x240"},
        {"hevc-portrait.mp4",
         Picture("libx265", "yuv420p"),
         {"-metadata:s:v:0", "rotate=90"},
         "Video: 240x320"},
        {"hevc-hlg.mp4",
         Picture("libx265", "yuv420p10le",
                 ":colorprim=bt2020:transfer=arib-std-b67:colormatrix=bt2020nc:master-display=" +
                     kMasterDisplay + ":max-cll=1000,400"),
         {},
         "Video: 320x240"},
        {"h264-270.mp4", Picture("libx264", "yuv420p"),
         QStringList{"-metadata:s:v:0", "rotate=270"} + place, "Video: 240x320"},
        // No exact cut for MPEG-4 Part 2: copied from the keyframe before the mark, at 0:04.
        {"mpeg4-90.mp4", Picture("mpeg4", "yuv420p"),
         QStringList{"-metadata:s:v:0", "rotate=90"} + place, "Video: 240x320", 4},
        // The crop is taken of the picture as shown, which it then holds upright.
        {"h264-crop.mp4", Picture("libx264", "yuv420p"),
         QStringList{"-metadata:s:v:0", "rotate=90"} + place, "Video: 240x320", 5, "200:100:20:30"},
        // H.264 cannot hold the HDR data: named once, on completion.
        {"hevc-hlg-crop.mp4",
         Picture("libx265", "yuv420p10le",
                 ":colorprim=bt2020:transfer=arib-std-b67:colormatrix=bt2020nc:master-display=" +
                     kMasterDisplay + ":max-cll=1000,400"),
         {},
         "Video: 320x240",
         5,
         "200:100:20:30",
         "The HDR mastering display and light level data were not kept: the re-encoded H.264 "
         "video cannot hold them"},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = c.picture.isEmpty() ? NewTempDir("plain") + "/plain.mp4"
                                                   : MakeSource(c.name, c.picture, c.tags);
        if (c.picture.isEmpty()) {
            ASSERT_TRUE(MakeVideo(source, kSeconds, 320, 240, true, 50));
        }
        ASSERT_FALSE(source.isEmpty());
        const QString out = NewTempDir("kept") + "/out.mp4";
        FDialogs.boxes.clear();
        EXPECT_EQ(Export(source, 3, 5, c.crop, out),
                  "Export complete: " + out + (c.lost.isEmpty() ? "" : ". " + c.lost));
        EXPECT_EQ(FDialogs.texts(), QStringList{"Export complete!\r\n" + out +
                                                (c.lost.isEmpty() ? "" : "\r\n\r\n" + c.lost)});
        EXPECT_EQ(W<QLabel>("LblVideoSize")->text(), c.sizeShown);

        QMap<QString, QString> expected = Facts(source);
        const QMap<QString, QString> got = Facts(out);
        QVector<QByteArray> src = DecodeLuma(source);
        const QVector<QByteArray> cut = DecodeLuma(out);
        ASSERT_EQ(src.size(), kSeconds * 25);
        if (!c.crop.isEmpty()) {
            // Re-encoded upright as H.264: no rotation left to apply, no HDR data.
            expected["video rotation"] = "none";
            expected["video format"].replace("hevc", "h264");
            expected["hdr"] = "";
            EXPECT_EQ(ProbeSize(out), "200x100");
            for (QByteArray& f : src)
                f = Cropped(f, c.sizeShown.section(' ', 1).section('x', 0, 0).toInt(), c.crop);
        }
        // Nothing lost, nothing doubled; the first picture after the seam is the one marked.
        const int kept = 3 * 25 + (kSeconds - c.seamFrom) * 25;
        EXPECT_EQ(CountVideoFrames(out), kept);
        // Every sound track is there, decoded: its own tone, as long as the kept picture.
        int tracks = 0;
        for (const TrackInfo& t : ProbeTracks(source))
            tracks += t.type == "audio";
        ASSERT_GT(tracks, 0);
        for (int i = 0; i < tracks; ++i) {
            double seconds = 0;
            EXPECT_NEAR(ToneFrequency(out, i, &seconds), ToneFrequency(source, i), 5) << i;
            EXPECT_NEAR(seconds, kept / 25.0, 0.1) << i;
        }
        ASSERT_GE(cut.size(), kept);
        // A crop is re-encoded at the export's usual quality; a wrong one falls far below.
        const double least = c.crop.isEmpty() ? 35.0 : 30.0;
        EXPECT_GE(Psnr(cut[0], src[0]), least);
        EXPECT_GE(Psnr(cut.last(), src.last()), least);
        if (c.crop.isEmpty()) {
            ASSERT_EQ(cut.size(), kept);
            EXPECT_GE(Psnr(cut[3 * 25], src[c.seamFrom * 25]), 35.0);
            EXPECT_GE(Psnr(cut[3 * 25 - 1], src[3 * 25 - 1]), 35.0);
            EXPECT_EQ(HdrSideData(out, 3), HdrSideData(source, c.seamFrom));
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(DecodeErrors(out), "");
    }
}
