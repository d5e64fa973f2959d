#pragma once

#include "HlsSource.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace halvora {

// One WebVTT cue, its times in milliseconds on the saved video's timeline (0 = the start of
// the MP4 made from it).
struct VttCue {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString settings; // what follows the end time on the timing line
    QString text;     // the payload lines, joined with '\n'
};

// The cues of one WebVTT segment of an HLS subtitle rendition. AStartPts (90 kHz) is where the
// saved video begins on the stream's MPEG-TS clock: a segment's X-TIMESTAMP-MAP places its cues
// on that clock (wrap of the 33-bit clock allowed for); without one, cue times are taken as
// counted from the start of the stream. Malformed blocks are skipped.
QList<VttCue> ReadVttSegment(const QByteArray& AText, qint64 AStartPts);

// One WebVTT file of the cues in time order: repeats (a cue that spans segments is listed in
// each) once, cues that end before 0 or begin at or after ALimitMs (when positive) left out, a
// cue that began before 0 cut to begin there.
QByteArray WriteVtt(QList<VttCue> ACues, qint64 ALimitMs = 0);

// A subtitle rendition read into one WebVTT file, as a conversion takes it.
struct SubtitleFile {
    QString path;
    QString language; // three letters, as MP4 keeps them; empty when unknown
    QString name;
    bool isDefault = false;
};

// Reads the rendition's media playlist and every segment it lists through AFetch, and joins
// them (see ReadVttSegment and WriteVtt). A playlist that is still growing (no
// #EXT-X-ENDLIST: a live stream, whose earlier cues are gone) is not read. False, with the
// reason in AError, when anything cannot be fetched.
bool FetchVttRendition(const QString& APlaylistUri, const PlaylistFetcher& AFetch, qint64 AStartPts,
                       qint64 ALimitMs, QByteArray* AOut, QString* AError);

// The three-letter ISO 639 code MP4 keeps for an HLS LANGUAGE (BCP 47: "en", "en-US", "deu");
// empty when there is none.
QString Mp4Language(const QString& ALanguage);

} // namespace halvora
