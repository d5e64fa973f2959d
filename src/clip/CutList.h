#pragma once

#include "SegmentModel.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>

namespace halvora {

// A video's delete segments kept beside it between sessions, as "<name>.halvora-cuts.json":
// {"format":"halvora-cuts","version":1,"video":{"size":<bytes>,"duration":<seconds>},
//  "segments":[{"start":1.240,"end":3.000},...]}
// Times are seconds with milliseconds. The video's size and duration tell whether the list
// still belongs to the file beside it.
struct CutList {
    std::int64_t videoSize = 0;
    double videoDuration = 0; // seconds, whole milliseconds
    QVector<DeleteSegment> segments;
    bool operator==(const CutList&) const = default;
};

constexpr int kCutListVersion = 1;

// "<folder>/<name without extension>.halvora-cuts.json" for AVideo.
QString CutListPath(const QString& AVideo);

QByteArray CutListJson(const CutList& AList);
// False with AError when the text is not a cut list of a version this program reads, or a
// segment is not a stretch of 0 <= start < end.
bool ParseCutList(const QByteArray& AJson, CutList* AList, QString* AError);

// Written whole or not at all (a temporary file renamed into place).
bool WriteCutList(const QString& APath, const CutList& AList, QString* AError);
bool ReadCutList(const QString& APath, CutList* AList, QString* AError);

// The segments as CSV for other tools: a "start,end" header, then seconds with milliseconds.
QByteArray CutListCsv(const QVector<DeleteSegment>& ASegments);
bool WriteCutListCsv(const QString& APath, const QVector<DeleteSegment>& ASegments,
                     QString* AError);

} // namespace halvora
