#pragma once

#include "SegmentFetcher.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace halvora {

// How a stream's fetch ended.
struct StreamFetchResult {
    enum Kind {
        NotFetched, // a playlist could not be read as a media playlist: nothing was fetched
        Complete,   // every segment is in the working folder
        Incomplete, // some segments could not be fetched (missing says how many)
        Stopped,    // ended by the caller; what arrived is in the local playlists
    };
    Kind kind = NotFetched;
    QStringList playlists; // the local playlists, one per media playlist, in the order given
    int missing = 0;
    int segments = 0;
    bool live = false;
    QString error; // why NotFetched
};

// Fetches the media playlists of one stream (a variant and its audio rendition) into a working
// folder, each into a subfolder of its own, and writes a local playlist for each. A live
// playlist is reloaded as RFC 8216 asks until it ends or the caller stops.
class StreamFetch {
public:
    // ACancel: true ends the fetch (a live recording ends so). AProgress hears the tally.
    StreamFetch(FetchRules ARules, QString AWorkDir, std::function<bool()> ACancel,
                std::function<void(const FetchTally&)> AProgress = {});

    StreamFetchResult run(const QStringList& AUrls);

private:
    struct Rendition;
    bool readPlaylist(Rendition& AR, QString* AError);
    bool reloadAll(QList<Rendition>& AList, QList<FetchItem>* AItems, bool* AChanged);
    void writeLocal(const QList<Rendition>& AList, StreamFetchResult& AResult);
    bool waitMs(qint64 AMs);
    // One round of transfers; a live stream's progress says what was recorded so far.
    void fetchRound(const QList<FetchItem>& AItems, const QList<Rendition>& AList, bool ALive);

    SegmentFetcher FFetcher;
    QString FDir;
    std::function<bool()> FCancel;
    std::function<void(const FetchTally&)> FProgress;
    qint64 FLiveBytes = 0; // of the rounds before
};

// "Downloading: 412 / 1800 segments, 310 MB, 4.2 MB/s, about 5:31 left".
QString FetchProgressText(const FetchTally& ATally);

} // namespace halvora
