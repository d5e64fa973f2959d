#pragma once

#include "ClipEnv.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace halvora {

// Seconds as minutes:seconds, both at least two digits ("%.2d:%.2d"); no hours field:
// 83 -> "01:23", 7530 -> "125:30".
QString FormatTime(std::int32_t ASecs);

// The whole file as text: a byte-order mark selects the encoding, otherwise UTF-8. Lines are
// joined again with "\r\n" after every line. Empty when the file can't be read.
QString ReadTextFile(const QString& APath);

// Parsers of ffmpeg's console text, "ffmpeg -i FILE" captured (the probes' capture files).
// Whole seconds of the first "Duration: hh:mm:ss.xx" (fraction dropped), 0 when unreadable.
std::int32_t ParseDuration(const QString& ACapture);
// "WxH" of the first "Video:" line (within 300 characters after it), empty when not found.
QString ParseVideoSize(const QString& ACapture);
// The same as the picture is shown: width and height swapped when its display matrix turns it
// a quarter (a phone's portrait video).
QString ShownVideoSize(const QString& ACapture);

// The language tag of every audio track of the first input, in order ("" when untagged).
QStringList ParseAudioTracks(const QString& ACapture);
// "Audio: 2 tracks (eng, deu)", "Audio: 1 track", "Audio: none".
QString AudioTracksText(const QStringList& ALanguages);

// Runs "ffmpeg -i AFileName" captured into "duration.txt" / "vsize.txt" of the working folder
// and parses the capture. 0 / empty when ffmpeg is missing or the file can't be read; they
// never show a message. Each blocks for at most the run's time limit.
std::int32_t ProbeDuration(const QString& AFileName, const ClipEnv& AEnv = {});
QString ProbeVideoSize(const QString& AFileName, const ClipEnv& AEnv = {});
// Captured into "audio.txt": the audio tracks' languages as ParseAudioTracks gives them.
QStringList ProbeAudioTracks(const QString& AFileName, const ClipEnv& AEnv = {});

} // namespace halvora
