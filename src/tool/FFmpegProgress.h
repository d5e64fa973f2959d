#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace halvora {

// What ffmpeg has told about one run so far, read from its stderr lines: the first input's
// "Duration:" and the "time=" / "size=" of its periodic reports. -1 where unknown.
class FFmpegProgress {
public:
    // Reads one line; true when the position or the size went forward.
    bool feed(const QString& ALine);

    std::int64_t durationMs() const { return FDurationMs; }
    std::int64_t timeMs() const { return FTimeMs; }
    std::int64_t sizeBytes() const { return FSizeBytes; }
    // Per mille of the duration, never falling back; -1 when the duration is unknown.
    int permille() const;

private:
    std::int64_t FDurationMs = -1;
    std::int64_t FTimeMs = -1;
    std::int64_t FSizeBytes = -1;
    bool FDurationSeen = false;
};

// "hh:mm:ss" of a time in milliseconds (whole seconds, hours not capped).
QString ClockText(std::int64_t AMs);
// "m:ss", or "h:mm:ss" from an hour on: a short estimate.
QString ShortClockText(std::int64_t AMs);
// "310 MB", "12 KB", "1.4 GB" (decimal units).
QString SizeText(std::int64_t ABytes);

// The status line of a running job, with a time-left estimate from the wall clock since
// start().
class ProgressText {
public:
    void start() { FClock.start(); }
    // "<label>: 00:12:40 / 00:31:05 (41%), about 0:52 left", without the estimate until one
    // can be made.
    QString known(const QString& ALabel, std::int64_t ATimeMs, std::int64_t ADurationMs) const;
    // "Recording: 00:04:12, 310 MB" for a stream of unknown length.
    static QString recording(std::int64_t ATimeMs, std::int64_t ASizeBytes);

private:
    QElapsedTimer FClock;
};

} // namespace halvora
