#pragma once

#include "MediaIndex.h"

#include <QVector>
#include <cstdint>

namespace halvora {

// The frames of the opened video on its time line (milliseconds from the file's start): where
// a frame step, a keyframe jump or a mark lands. A position stands for the first frame shown at
// or after it, as ffmpeg's seek picks it.
class FrameClock {
public:
    FrameClock() = default;
    // Without a readable index the frames are assumed at 25 per second over ADurationMs.
    FrameClock(const MediaIndex& AIndex, std::int64_t ADurationMs);

    // The end of the file: after the last frame.
    std::int64_t endMs() const { return FEndMs; }
    // The time of the frame shown at AMs (the end stays the end).
    std::int64_t frameAt(std::int64_t AMs) const;
    // ACount frames on from the frame at AMs (negative: back), kept within the file.
    std::int64_t step(std::int64_t AMs, int ACount) const;
    // The keyframe before (ADirection < 0) or after the frame at AMs; AMs itself when none.
    std::int64_t keyframe(std::int64_t AMs, int ADirection) const;

private:
    qsizetype indexAt(std::int64_t AMs) const;

    QVector<std::int64_t> FFramesUs; // display order, from the file's start
    QVector<std::int64_t> FKeysUs;
    std::int64_t FEndMs = 0;
};

// The exact length of the video: from its last frame when the index has one, else ASeconds.
std::int64_t VideoLengthMs(const MediaIndex& AIndex, double ASeconds);

} // namespace halvora
