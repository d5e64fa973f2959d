#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace halvora::cli {

enum class Subcommand { None, Convert, Batch, Cut, Probe };
enum class ProgressStyle { Auto, Json };

// A stretch to delete, in milliseconds; start < end.
struct TimeRange {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
};

// Everything the command line asks for, checked for form only: whether files exist is the
// jobs' business.
struct CliOptions {
    Subcommand command = Subcommand::None;
    QString input;  // convert, cut, probe: the file or link; batch: the root folder
    QString output; // -o: a folder or a file; empty when not given
    QString quality = QStringLiteral("best"); // best, smallest or WxH
    QStringList headers;                      // --header lines, each "Name: value"
    QString cookies;                          // --cookies FILE
    bool reencode = false;
    QVector<TimeRange> deletes; // --delete
    QString cutsFile;           // --cuts FILE
    QString crop;               // --crop W:H:X:Y
    bool separate = false;
    bool json = false; // probe --json
    ProgressStyle progress = ProgressStyle::Auto;
    bool quiet = false;
};

// What the command line comes to: a job to run, or text to print and an exit code.
struct ParsedCommandLine {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Run;
    CliOptions options;
    QString text; // Help, Version: for stdout; Usage: the reason, for stderr
};

// AArgs without the program's name.
ParsedCommandLine ParseCliArguments(const QStringList& AArgs);

// "12", "12.5", "1:02.250", "01:02:03.5" as milliseconds; -1 when it is none of those.
std::int64_t ParseTimeMs(const QString& AText);
// "START-END"; false when either is no time or START is not before END.
bool ParseTimeRange(const QString& AText, TimeRange* ARange);
// "W:H:X:Y", four whole numbers, W and H above 0.
bool IsCropText(const QString& AText);
// "best", "smallest" or "WxH".
bool IsQualityText(const QString& AText);

} // namespace halvora::cli
