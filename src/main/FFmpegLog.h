#pragma once

#include "StreamList.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace halvora {

// Where input #0 begins on its own clock (90 kHz), from ffmpeg's "Duration: ..., start: X"
// line; -1 when there is no such line.
qint64 ListedStartPts(const QString& AText);

// What a conversion or download needs from ffmpeg's stderr, read one line at a time.
class FFmpegLogReader {
public:
    void readLine(const QString& ALine);
    // Segments the HLS reader skipped, and those a lost connection cut short.
    int missingSegments() const { return static_cast<int>(FSegments.size()) + FCutShort; }
    // ffmpeg reported that writing its output failed (a full disk, a file-size limit).
    bool writeFailed() const { return FWriteFailed; }
    // As ListedStartPts, from the first line that names it.
    qint64 startPts() const { return FStartPts; }

private:
    // A segment may be reported more than once (one line per failed attempt or stream).
    QSet<QString> FSegments;
    int FCutShort = 0;
    bool FWriteFailed = false;
    qint64 FStartPts = -1;
};

// The first media segment a listing of an HLS playlist says it opened; empty when none.
QString FirstSegmentUrl(const QString& AListing);

// Output options that put back a segment's stream tags (language, disposition) which ffmpeg's
// HLS reader leaves out of APlaylist; APlan's streams are numbered as the download maps them.
// Empty when the segment's streams do not match the playlist's.
QStringList SegmentTagArgs(const QList<StreamEntry>& APlaylist, const QList<StreamEntry>& ASegment,
                           const StreamPlan& APlan);

} // namespace halvora
