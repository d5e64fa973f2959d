#pragma once

#include <QString>

namespace halvora {

// Where input #0 begins on its own clock (90 kHz), from ffmpeg's "Duration: ..., start: X"
// line; -1 when there is no such line.
qint64 ListedStartPts(const QString& AText);

} // namespace halvora
