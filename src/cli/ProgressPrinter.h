#pragma once

#include "CliOptions.h"
#include "Dialogs.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <mutex>

namespace halvora::cli {

// What a job shows on stderr while it runs: on a terminal one line rewritten in place, otherwise
// plain lines (at most one a second while a run reports progress), or one JSON object a line.
// Any thread.
class ProgressPrinter {
public:
    enum class Mode { Line, Plain, Json, Quiet };
    // The mode the options ask for; Line only when stderr is a terminal.
    static Mode ModeFor(const CliOptions& AOptions);

    explicit ProgressPrinter(Mode AMode) : FMode(AMode) {}
    ~ProgressPrinter() { endLine(); }
    ProgressPrinter(const ProgressPrinter&) = delete;
    ProgressPrinter& operator=(const ProgressPrinter&) = delete;

    // A status line of the job ("Converting x: 00:00:12 / 00:01:00 (20%), ...").
    void status(const QString& AText);
    // Where the running ffmpeg is; ATotalMs -1 for a stream of unknown length.
    void progressAt(std::int64_t APositionMs, std::int64_t ATotalMs);
    // What a window would show in a box: errors and warnings even when quiet.
    void message(BoxKind AKind, const QString& AText);

private:
    void endLine();
    void writeLine(const QString& AText);
    void writeInPlace(const QString& AText);

    const Mode FMode;
    std::mutex FLock;
    bool FLineOpen = false; // Line: a status stands without its line feed
    QString FLastStatus;
    QElapsedTimer FSincePrinted; // Plain: the last status printed
    bool FProgressing = false;   // Plain: progress came since the last status: it shows that
    // The current run, for speed and time left: where it started and when.
    QElapsedTimer FRunClock;
    std::int64_t FLastPositionMs = -1;
};

} // namespace halvora::cli
