#include "SourceTags.h"

namespace halvora {

Command& KeepSourceTags(Command& ACmd, int AInput, const MediaIndex& AIndex, bool AAudio) {
    const QString in = QString::number(AInput);
    ACmd.args({QStringLiteral("-map_metadata"), in, QStringLiteral("-map_metadata:s:v"),
               in + QStringLiteral(":s:v:0")});
    if (!AIndex.videoDisposition.isEmpty())
        ACmd.args({QStringLiteral("-disposition:v:0"), AIndex.videoDisposition});
    for (int i = 0; AAudio && i < AIndex.audioTracks; ++i) {
        ACmd.args(
            {QStringLiteral("-map_metadata:s:a:%1").arg(i), in + QStringLiteral(":s:a:%1").arg(i)});
        if (i < AIndex.audioDispositions.size())
            ACmd.args({QStringLiteral("-disposition:a:%1").arg(i), AIndex.audioDispositions[i]});
    }
    return ACmd;
}

QString LostInH264Sentence(const MediaIndex& AIndex) {
    if (AIndex.masterDisplay.isEmpty() && AIndex.contentLight.isEmpty())
        return {};
    return QStringLiteral("The HDR mastering display and light level data were not kept: the "
                          "re-encoded H.264 video cannot hold them");
}

} // namespace halvora
