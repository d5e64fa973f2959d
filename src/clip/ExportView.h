#pragma once

#include "Dialogs.h"
#include "MediaIndex.h"
#include "SegmentModel.h"

#include <QString>
#include <QVector>
#include <cstdint>

namespace halvora {

// What export needs of the clip window.
class ExportView {
public:
    virtual ~ExportView() = default;
    virtual void setStatus(const QString& AText) = 0;
    // A modal box: Warning, Error and Information with BoxButtons::Ok; the question whether to
    // replace an existing output is a Confirmation with BoxButtons::YesNo.
    virtual BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) = 0;
    // How much of the kept time is made, in milliseconds; for views that show more than the
    // status line.
    virtual void progressAt(std::int64_t /*ADoneMs*/, std::int64_t /*ATotalMs*/) {}
};

// The inputs of one export, read from the window when the user presses Export.
struct ExportRequest {
    QString inFile;              // the loaded video; empty: none loaded
    QString outText;             // text of the output field (trimmed here)
    QString cropText;            // text of the crop field (trimmed here); empty: no crop
    QVector<DeleteSegment> rows; // the delete segments in list order
    double duration = 0;         // of the loaded video, seconds
    // The output is the name the window filled in: a file of that name is kept and the first
    // free "name (N).mp4" is written instead. Otherwise the user typed it, and an existing file
    // is replaced only when the user says so.
    bool freeName = false;
    // Each kept stretch as its own file ("<name>-01.mp4" ...) instead of one stitched file.
    bool separateFiles = false;
    // Keyframes and coding parameters read when the video was opened; null: read them here.
    const MediaIndex* index = nullptr;
};

} // namespace halvora
