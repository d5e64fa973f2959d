#pragma once

#include <QString>

namespace halvora {

// The file an export writes and the one the user gets. A name the window filled in gives way
// to the first free "name (N).mp4"; a file the user chose to replace is written beside it under
// a hidden name and takes its place only once complete, so a failed export leaves it as it was.
class ExportTarget {
public:
    ExportTarget(const QString& AOutput, bool AFreeName, bool AReplacing);
    // The file ffmpeg writes, and the one the user gets once finished.
    const QString& writing() const { return FWriting; }
    const QString& result() const { return FResult; }
    // Reserves the name when one must be reserved (once); false with AError when it can't.
    bool reserve(QString* AError);
    // A reservation taken back after a stop or a failure.
    void release();
    // What a stopped or failed join left: removed when it is the user's own name, emptied when
    // it is a reservation that later runs still write to.
    void discardPartial();
    // Puts a replacing export in the user's file's place; false with AError when it can't.
    bool finish(QString* AError);

private:
    QString FOutput;
    QString FWriting;
    QString FResult;
    bool FFreeName;
    bool FReplacing;
    bool FReserved = false;
};

} // namespace halvora
