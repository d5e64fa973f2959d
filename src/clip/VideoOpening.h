#pragma once

#include "ClipEnv.h"
#include "MediaIndex.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace halvora {

// What opening a video in the clip window reads of it, on a worker.
struct OpenedVideo {
    QString file;
    bool play = false;    // start playback once loaded
    bool stopped = false; // the reading was stopped: nothing of it counts
    QString size;         // "WxH" as shown
    QStringList audio;    // the audio tracks' languages
    std::int32_t duration = 0;
    MediaIndex index;
};

// The probes of AVideo.file, in order; any thread. Once AEnv's stop is asked for, the running
// probe ends and no further one starts.
void ReadOpenedVideo(OpenedVideo& AVideo, const ClipEnv& AEnv);

} // namespace halvora
