#pragma once

#include "Command.h"
#include "MediaIndex.h"

#include <QString>

namespace halvora {

// The concat demuxer that joins an export's pieces forgets the file's tags (creation time,
// location, title) and every track's disposition; the source, added as input AInput of the
// join, lends them back to the output's first video stream and to its audio tracks in order.
Command& KeepSourceTags(Command& ACmd, int AInput, const MediaIndex& AIndex, bool AAudio);

// What a re-encode to H.264 cannot carry of AIndex's video, as a sentence; empty when nothing
// is lost.
QString LostInH264Sentence(const MediaIndex& AIndex);

} // namespace halvora
