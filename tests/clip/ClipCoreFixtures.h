#pragma once

// Media and helpers shared by the clip core tests. Videos are made once per test program.
#include "ClipEnv.h"
#include "Command.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <ostream>

namespace halvora::test {

// 200 s, 160x120 at 5 fps, keyframe every second, with sound.
const QString& LongVideo();
// 10 s, 320x240 at 25 fps, keyframe every second, with sound (MP4).
const QString& ShortVideo();
// 10 s, 640x480, for crops.
const QString& LargeVideo();

// 30 s, 320x240 at 25 fps with a keyframe every 5 s (and no others), silence with a 10 ms click
// half a second after every whole second.
enum class Coding {
    H264,    // libx264's B-frames
    H264NoB, // no B-frames
    Hevc,    // libx265's B-frames
    HevcNoB, // no B-frames
    Mpeg2Ts, // MPEG-2 video in MPEG-TS
};
constexpr int kCounterFps = 25;
constexpr int kCounterFrames = 750;
const QString& CounterVideo(Coding ACoding);

// The frame at ASec as the preview shows it (480 wide), decoded from the start (seek after the
// input); a null image when ffmpeg fails.
QImage ReferenceFrame(const QString& AVideo, double ASec);
// Mean difference of two pictures' grey levels, 255 when their sizes differ.
double MeanDiff(const QImage& AA, const QImage& AB);
// Every decoded picture of the first video stream, as its luma plane, in display order.
QVector<QByteArray> DecodeLuma(const QString& AFile);
// PSNR of two luma planes of the same size, in dB (1000 when equal).
double Psnr(const QByteArray& AA, const QByteArray& AB);
// Onsets of the clicks in the first audio track, in seconds from its first sample.
QVector<double> ClickTimes(const QString& AFile);
// Duration of the first stream of AKind ("v" or "a") as ffprobe reports it, -1 when unknown.
double StreamSeconds(const QString& AFile, const QString& AKind);
// Everything ffmpeg prints at level error when decoding the whole file.
QString DecodeErrors(const QString& AFile);

// A working folder of its own (with trailing '/') and a record of every ffmpeg run.
struct RecordingEnv {
    ClipEnv env;
    QStringList runs;   // Command::text() of each ffmpeg run, in order
    QStringList probes; // the same of each ffprobe run
    explicit RecordingEnv(const QString& AWorkDir = QString());
    RecordingEnv(const RecordingEnv&) = delete; // the watcher points at this object
    RecordingEnv& operator=(const RecordingEnv&) = delete;
};

// Copies ASource to APath (made for names with blanks, quotes, non-ASCII letters).
bool CopyTo(const QString& ASource, const QString& APath);

} // namespace halvora::test

// Readable QStrings in test failures.
inline void PrintTo(const QString& AText, std::ostream* AOut) {
    *AOut << '"' << AText.toStdString() << '"';
}
