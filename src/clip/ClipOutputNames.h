#pragma once

#include <QString>

namespace halvora {

// The default output for a loaded video: its extension (from the last dot of the file name on)
// replaced by "cit.mp4", in the same folder: /v/movie.mp4 -> /v/moviecit.mp4.
QString DefaultClipOutput(const QString& AInFile);
// The output in a picked folder: /out + movie.mp4 -> /out/movie_edited.mp4.
QString EditedClipOutput(const QString& AFolder, const QString& AInFile);

} // namespace halvora
