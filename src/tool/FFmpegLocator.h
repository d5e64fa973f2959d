#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// The ordered candidates for the ffmpeg program, given the application folder (with '/').
QStringList FFmpegCandidates(const QString& AAppDir);

// The first candidate that exists (an entry that is not a folder, links followed), exactly as
// listed; empty when none does. Probes the file system anew at every call.
QString FindFFmpegIn(const QString& AAppDir);
QString FindFFmpeg();

} // namespace halvora
