#pragma once

#include "ClipEnv.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace halvora {

// One packet of the video stream, in decode order; timestamps in the stream's time base.
struct VideoPacket {
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    bool key = false;
};

// What the exact cut needs to know of a video, read once per opened file: the first video
// stream's coding parameters and every packet's timestamps and key flag, the audio tracks.
struct MediaIndex {
    bool ok = false; // the video stream and its packets were read
    QString codec;   // ffprobe's codec name: h264, hevc, mpeg2video...
    QString profile; // "High", "Main 10"...
    QString pixFmt;
    int level = 0; // as ffprobe gives it (H.264: 31 for 3.1; HEVC: 30 times the level)
    int width = 0;
    int height = 0;
    int tbNum = 1; // video time base
    int tbDen = 1;
    int rateNum = 0; // frame rate (r_frame_rate)
    int rateDen = 1;
    std::int64_t startUs = 0; // the file's start time: ffmpeg's -ss counts from here
    // The first video stream's colour description as ffprobe names it ("bt2020nc", "tv"...);
    // empty when unspecified.
    QString colorRange;
    QString colorSpace;
    QString colorTransfer;
    QString colorPrimaries;
    // HDR data of its first picture in x265's notation, empty when it has none:
    // "G(x,y)B(x,y)R(x,y)WP(x,y)L(max,min)" and "maxcll,maxfall".
    QString masterDisplay;
    QString contentLight;
    QString videoDisposition; // ffmpeg's -disposition value: "default", "0" for none
    int audioTracks = 0;
    QStringList audioDispositions; // per audio track, as videoDisposition
    QString audioCodec;            // of the first audio track
    int audioSampleRate = 0;       // of the first audio track
    QVector<VideoPacket> packets;

    // A stream timestamp in microseconds (rounded down).
    std::int64_t toUs(std::int64_t ATs) const;
    // One frame, in microseconds (from the frame rate; 0 when unknown).
    std::int64_t frameUs() const;
    // Display times of the keyframes, ascending, microseconds.
    QVector<std::int64_t> keyframeUs() const;
    // Samples per audio packet of the first audio track's codec, 0 when not fixed or unknown.
    int audioFrameSamples() const;
};

// ffprobe beside the located ffmpeg: a bare "ffmpeg" gives a bare "ffprobe".
QString FFprobeBeside(const QString& AFFmpeg);
// The ffprobe to use with AFFmpeg: beside it, else beside the file a link AFFmpeg points to;
// empty when there is none.
QString FindFFprobe(const QString& AFFmpeg);

// Parsers of ffprobe's output (pure, for tests): "-of json" of streams and format, and the
// video packets as "-of csv=p=0" lines of pts,dts,flags. False when nothing usable is found.
bool ParseStreamInfo(const QByteArray& AJson, MediaIndex& AIndex);
bool ParsePacketLines(const QByteArray& ALines, MediaIndex& AIndex);

// Runs ffprobe twice (streams, then the video packets) captured into the working folder.
// ok is false when ffprobe is missing or the file has no readable video stream.
MediaIndex ReadMediaIndex(const QString& AFileName, const ClipEnv& AEnv = {});

// The keyframe display times in whole and fractional seconds, for the time line.
QVector<double> KeyframeSeconds(const MediaIndex& AIndex);

// True when ASecond (whole milliseconds) lies within half a frame of a keyframe.
bool IsOnKeyframe(const MediaIndex& AIndex, double ASecond);

} // namespace halvora
