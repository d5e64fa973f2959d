#include "HlsSource.h"

namespace halvora {

StreamInputs PlanStreamInputs(const QString& AInput, const QualityChoice& AChoice,
                              const PlaylistFetcher& AFetch,
                              const std::function<void(const QString&)>& AStatus) {
    StreamInputs asTyped;
    asTyped.video = AInput;
    QString skipped; // why the better variants were passed over
    const auto say = [&](const QString& AText) {
        if (AStatus)
            AStatus(AText);
    };
    const PlaylistText master = AFetch(AInput);
    if (!master.ok)
        return asTyped; // ffmpeg reports the failure as it always did
    // Relative URIs are read against where the playlist was finally served from.
    const HlsPlaylist list =
        ReadHlsPlaylist(master.body, master.finalUrl.isEmpty() ? AInput : master.finalUrl);
    if (!list.isMaster())
        return asTyped;
    const QList<int> order = VariantOrder(list, AChoice);
    for (int i : order) {
        const HlsVariant& v = list.variants[i];
        const QString label = VariantLabel(v);
        const PlaylistText media = AFetch(v.uri);
        if (!media.ok) {
            skipped =
                QStringLiteral("Variant %1 could not be fetched (%2)").arg(label, media.error);
            say(skipped + QStringLiteral("; trying the next best"));
            continue;
        }
        QList<HlsRendition> subtitles;
        for (const HlsRendition& r : list.renditions)
            if (r.type == u"SUBTITLES" && !v.subtitlesGroup.isEmpty() &&
                r.groupId == v.subtitlesGroup && !r.uri.isEmpty())
                subtitles << r;
        const int a = AudioRenditionOf(list, v);
        if (a < 0 || list.renditions[a].uri.isEmpty())
            return {v.uri, {}, label, skipped, {}, subtitles};
        // The chosen rendition first, then the rest of its group.
        QList<int> audios{a};
        for (int k = 0; k < list.renditions.size(); ++k) {
            const HlsRendition& r = list.renditions[k];
            if (k != a && r.type == u"AUDIO" && r.groupId == v.audioGroup && !r.uri.isEmpty())
                audios << k;
        }
        for (int k : audios) {
            const PlaylistText audio = AFetch(list.renditions[k].uri);
            if (audio.ok)
                return {v.uri,   list.renditions[k].uri,      label,
                        skipped, list.renditions[k].language, subtitles};
            say(QStringLiteral("Audio %1 of variant %2 could not be fetched (%3)")
                    .arg(list.renditions[k].name, label, audio.error));
        }
        skipped = QStringLiteral("Variant %1 has no audio that can be fetched").arg(label);
        say(skipped + QStringLiteral("; trying the next best"));
    }
    if (!order.isEmpty())
        say(QStringLiteral("No variant could be fetched; downloading the playlist as it is"));
    return asTyped;
}

} // namespace halvora
