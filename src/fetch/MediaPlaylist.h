#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace halvora {

// A part of a resource: ALength bytes from AOffset; a length of -1 is the whole resource.
struct ByteRange {
    qint64 length = -1;
    qint64 offset = 0;
    bool whole() const { return length < 0; }
};

// An EXT-X-KEY: how the segments after it are encrypted.
struct HlsKey {
    QString method; // NONE, AES-128, SAMPLE-AES, ... (upper case)
    QString uri;    // resolved; empty for NONE
    QString iv;     // as written ("0x..."), empty: the segment's sequence number
    QString keyFormat;
    bool encrypts() const { return !method.isEmpty() && method != u"NONE"; }
};

// An EXT-X-MAP: the initialisation section of the segments after it.
struct HlsMap {
    QString uri; // resolved
    ByteRange range;
};

struct MediaSegment {
    qint64 sequence = 0;
    double duration = 0;
    QString title; // what follows the duration in #EXTINF
    QString uri;   // resolved
    ByteRange range;
    bool discontinuity = false;
    int key = -1; // into MediaPlaylist::keys; -1: not encrypted
    int map = -1; // into MediaPlaylist::maps; -1: none
};

// A media playlist: its segments in order, with the keys and init sections they use.
struct MediaPlaylist {
    bool ok = false; // #EXTM3U with segments and no variant
    int version = 0;
    double targetDuration = 0;
    qint64 mediaSequence = 0;
    qint64 discontinuitySequence = 0;
    bool endList = false;
    QString playlistType; // VOD, EVENT or empty
    QList<HlsKey> keys;
    QList<HlsMap> maps;
    QList<MediaSegment> segments;
    // Tags copied to a local copy as they are (EXT-X-INDEPENDENT-SEGMENTS, EXT-X-START).
    QStringList keptTags;

    bool isLive() const { return !endList && playlistType != u"VOD"; }
};

// Reads a media playlist; ABaseUrl (where it was finally served from) is the base of relative
// URIs. A byte range without an offset follows the previous range of the same URI.
MediaPlaylist ReadMediaPlaylist(const QByteArray& AText, const QString& ABaseUrl);

} // namespace halvora
