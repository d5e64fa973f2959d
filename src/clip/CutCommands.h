#pragma once

#include "Command.h"
#include "MediaIndex.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace halvora {

// Command lines (pure; for the export, the benchmarks and tests). ACrop empty: stream copy.
// A crop cut seeks before opening the input and cuts ATo - AFrom seconds.
// Times are seconds (whole milliseconds).
Command CutCommand(const QString& AFFmpeg, const QString& AInput, double AFrom, double ATo,
                   const QString& ACrop, const QString& ACutPath);
Command TailCommand(const QString& AFFmpeg, const QString& AInput, double AFrom,
                    const QString& ACrop, const QString& ATailPath);
// A stream copy that starts exactly on the keyframe at AStartUs (microseconds after the file's
// start) and keeps every frame from there, whatever the B-frame structure: the seek goes before
// the input and nothing before it is copied. ATo < 0: to the end of the file.
Command KeyframeCutCommand(const QString& AFFmpeg, const QString& AInput, std::int64_t AStartUs,
                           double ATo, const QString& ACutPath);
// Microseconds as ffmpeg's seconds text: 1500000 -> "1.500000".
QString UsText(std::int64_t AUs);
// ATagsFrom (with its index) lends the source's tags and dispositions to the output.
Command JoinCommand(const QString& AFFmpeg, const QString& AListPath, const QString& AOutput,
                    bool AReencode, const QString& ATagsFrom = {},
                    const MediaIndex* AIndex = nullptr);

// Names of the cuts inside the working folder: "seg_%d_%d.mp4", "seg_%d_end.mp4".
QString CutFileName(double AFrom, double ATo);
QString TailFileName(double AFrom);

// The concat demuxer's list: "file '<path>'" per cut, CRLF after every line, UTF-8 without a
// byte-order mark; quotes in a path are escaped the way the demuxer reads them back.
QByteArray ConcatListText(const QStringList& APaths);

// Removes a leading UTF-8 byte-order mark (EF BB BF) from the file; otherwise leaves it alone.
// False only when the file had one and could not be rewritten.
bool StripUtf8Bom(const QString& AFileName);

} // namespace halvora
