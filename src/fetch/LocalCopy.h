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
    // The length of the segments that can be read, in milliseconds.
    qint64 readableMs() const;
    // A playlist of the segments that can be read, naming the local files (by name: it lives
    // in the working folder); a discontinuity where segments are missing.
    QByteArray playlistText() const;

private:
    struct Segment {
        MediaSegment seg;
        QString file, keyFile, mapFile;
        HlsKey key;
    };
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
};

} // namespace halvora
