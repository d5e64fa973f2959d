#include "VideoOpening.h"

#include "MediaProbe.h"

namespace halvora {

void ReadOpenedVideo(OpenedVideo& AVideo, const ClipEnv& AEnv) {
    const auto stopped = [&] { return AEnv.stop && AEnv.stop->requested(); };
    const QString& fn = AVideo.file;
    AVideo.size = ProbeVideoSize(fn, AEnv);
    if (!stopped())
        AVideo.audio = ProbeAudioTracks(fn, AEnv);
    if (!stopped())
        AVideo.duration = ProbeDuration(fn, AEnv);
    // Read once here, so marking and every export know the keyframes without another pass.
    if (!stopped() && AVideo.duration > 0)
        AVideo.index = ReadMediaIndex(fn, AEnv);
    AVideo.stopped = stopped();
}

} // namespace halvora
