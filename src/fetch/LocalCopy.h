#pragma once

#include "MediaPlaylist.h"
#include "SegmentFetcher.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace halvora {

// The local files of one media playlist in a working folder: a file per segment named after
// its sequence number, a file per key and init section, never a name taken from a URI.
class LocalCopy {
public:
    explicit LocalCopy(QString ADir) : FDir(std::move(ADir)) {}

    // The files of APlaylist's segments (and their keys and init sections) not planned yet,
    // in playlist order, each key and init section before the first segment that needs it.
    // The segments are remembered for the playlist text.
    QList<FetchItem> plan(const MediaPlaylist& APlaylist);
    // Every segment planned so far.
    qsizetype segments() const { return FSegments.size(); }
    // How many planned segments cannot be read (their file, key or init section is missing).
    int missing() const;
    // A playlist of the segments that can be read, naming the local files (by name: it lives
    // in the working folder); a discontinuity where segments are missing.
    QByteArray playlistText() const;

    // A live copy's playlist only ever grows, so that a reader following it never loses its
    // place: segments are listed in order, each once its files are in. AFinal (the round of
    // transfers is over) skips the segments that failed, which then count as missing.
    void listReceived(bool AFinal);
    // The end of a live copy: every segment received is listed, those never received are left
    // out (not counted as missing).
    void listAllReceived();
    // The segments listed so far, with EXT-X-ENDLIST when AEnded.
    QByteArray liveText(bool AEnded) const;
    qsizetype listed() const { return FListed; }
    int skipped() const { return FSkipped; }
    // Segments a live playlist dropped before they were seen (its sequence numbers jumped).
    qint64 lost() const { return FLost; }

private:
    struct Segment {
        MediaSegment seg;
        QString file, keyFile, mapFile;
        HlsKey key;
        bool skipped = false;   // in a live copy: left out of the list
        bool afterLost = false; // segments were lost right before it
    };
    QByteArray header(bool AVod) const;
    void appendSegment(QByteArray& AOut, const Segment& AS, bool AGap, QString& ALastKey,
                       QString& ALastMap) const;
    QString sideFile(const QString& AKind, const QString& AUri, const ByteRange& ARange,
                     qint64 ASequence, QList<FetchItem>* AItems);
    bool readable(const Segment& ASegment) const;
    void writeKey(QByteArray& AOut, const Segment& AS, QString& ALastKey) const;

    QString FDir;
    QList<Segment> FSegments;
    QHash<qint64, int> FPlanned;        // sequence number -> index in FSegments
    QHash<QString, QString> FSideFiles; // key or init URI (and range) -> local name
    int FVersion = 3;
    double FTargetDuration = 0;
    QStringList FKeptTags;
    qsizetype FListed = 0; // of a live copy: segments settled (listed or skipped)
    int FSkipped = 0;      // of them, failed ones
    qint64 FLost = 0;
};

} // namespace halvora
