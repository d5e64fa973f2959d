#pragma once

#include "ClipEnv.h"
#include "Command.h"
#include "Dialogs.h"
#include "MediaIndex.h"
#include "SegmentModel.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace halvora {

// What export needs of the clip window.
class ExportView {
public:
    virtual ~ExportView() = default;
    virtual void setStatus(const QString& AText) = 0;
    // A modal box: Warning, Error and Information with BoxButtons::Ok; the question whether to
    // replace an existing output is a Confirmation with BoxButtons::YesNo.
    virtual BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) = 0;
    // Let the window process its pending messages once (so a status text gets painted).
    virtual void processMessages() = 0;
};

// The inputs of one export, read from the window when the user presses Export.
struct ExportRequest {
    QString inFile;              // the loaded video; empty: none loaded
    QString outText;             // text of the output field (trimmed here)
    QString cropText;            // text of the crop field (trimmed here); empty: no crop
    QVector<DeleteSegment> rows; // the delete segments in list order
    std::int32_t duration = 0;   // of the loaded video, whole seconds
    // The output is the name the window filled in: a file of that name is kept and the first
    // free "name (N).mp4" is written instead. Otherwise the user typed it, and an existing file
    // is replaced only when the user says so.
    bool freeName = false;
    // Keyframes and coding parameters read when the video was opened; null: read them here.
    const MediaIndex* index = nullptr;
};

// The whole export: cut every kept range, write "list.txt", join by copy and, when that fails,
// once more by re-encoding. Reports through AView exactly as the window shows it; true when the
// output was written.
bool ExportClip(const ExportRequest& ARequest, ExportView& AView, const ClipEnv& AEnv = {});

// Command lines (pure; for the export, the benchmarks and tests). ACrop empty: stream copy.
// A crop cut seeks before opening the input and cuts ATo - AFrom seconds.
Command CutCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                   std::int32_t ATo, const QString& ACrop, const QString& ACutPath);
Command TailCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                    const QString& ACrop, const QString& ATailPath);
// A stream copy that starts exactly on the keyframe at AStartUs (microseconds after the file's
// start) and keeps every frame from there, whatever the B-frame structure: the seek goes before
// the input and nothing before it is copied. ATo < 0: to the end of the file.
Command KeyframeCutCommand(const QString& AFFmpeg, const QString& AInput, std::int64_t AStartUs,
                           std::int32_t ATo, const QString& ACutPath);
// Microseconds as ffmpeg's seconds text: 1500000 -> "1.500000".
QString UsText(std::int64_t AUs);
// ATagsFrom (with its index) lends the source's tags and dispositions to the output.
Command JoinCommand(const QString& AFFmpeg, const QString& AListPath, const QString& AOutput,
                    bool AReencode, const QString& ATagsFrom = {},
                    const MediaIndex* AIndex = nullptr);

// Names of the cuts inside the working folder: "seg_%d_%d.mp4", "seg_%d_end.mp4".
QString CutFileName(std::int32_t AFrom, std::int32_t ATo);
QString TailFileName(std::int32_t AFrom);

// The concat demuxer's list: "file '<path>'" per cut, CRLF after every line, UTF-8 without a
// byte-order mark; quotes in a path are escaped the way the demuxer reads them back.
QByteArray ConcatListText(const QStringList& APaths);

// Removes a leading UTF-8 byte-order mark (EF BB BF) from the file; otherwise leaves it alone.
// False only when the file had one and could not be rewritten.
bool StripUtf8Bom(const QString& AFileName);

} // namespace halvora
