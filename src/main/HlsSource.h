#pragma once

#include "HlsMaster.h"
#include "PlaylistFetch.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace halvora {

using PlaylistFetcher = std::function<PlaylistText(const QString& AUrlOrPath)>;

// What ffmpeg reads for one stream: the playlist as typed, or one variant of a master playlist
// with, when its audio lives in a rendition of its own, that rendition as a second input.
struct StreamInputs {
    QString video;   // the link/path itself, or the chosen variant's playlist
    QString audio;   // the variant's separate audio rendition; empty when none
    QString label;   // the chosen variant, as VariantLabel names it; empty when none was chosen
    QString skipped; // why a better variant was passed over (the last reason); empty when none
    QString audioLanguage; // LANGUAGE of the audio rendition; ffmpeg does not see it
    // The chosen variant's subtitle renditions (its SUBTITLES group), which ffmpeg does not
    // read: they are fetched apart.
    QList<HlsRendition> subtitles;
    // The playlists are Halvora's growing local copy of a live stream: read from the first
    // segment, not from near the end as ffmpeg reads a live playlist by default.
    bool liveCopy = false;
};

// Reads AInput; when it is a master playlist, picks the variant of AChoice whose playlist (and
// audio rendition) can be fetched, trying the next best on failure. Every step that falls
// back is reported through AStatus. Anything else leaves AInput as it is.
StreamInputs PlanStreamInputs(const QString& AInput, const QualityChoice& AChoice,
                              const PlaylistFetcher& AFetch,
                              const std::function<void(const QString&)>& AStatus = {});

} // namespace halvora
