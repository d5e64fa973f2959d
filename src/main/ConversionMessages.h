#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

inline const QString kFFmpegNotFound = QStringLiteral("ffmpeg not found");
inline const QString kFFmpegNotFoundBox =
    QStringLiteral("ffmpeg not found. Please install ffmpeg and add it to PATH");
// A saved master playlist's subtitle renditions, which ffmpeg does not read.
inline const QString kPlaylistSubtitlesLost =
    QStringLiteral("The playlist's subtitle tracks could not be saved and were not kept");

// ASentence alone when every rendition was lost (AAllLost, or none kept), else with the names.
QString SubtitlesNote(const QString& ASentence, const QStringList& ALost, qsizetype AKept,
                      bool AAllLost);

} // namespace halvora
