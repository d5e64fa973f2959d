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
// playlist is reloaded as RFC 8216 asks until it ends or the caller stops; its local playlist
// is one a reader can follow while it grows (LocalCopy::liveText), ended with EXT-X-ENDLIST
// once the fetch ends.
class StreamFetch {
public:
    // ACancel: true ends the fetch (a live recording ends so). AProgress hears the tally of a
    // playlist with an end.
    StreamFetch(FetchRules ARules, QString AWorkDir, std::function<bool()> ACancel,
                std::function<void(const FetchTally&)> AProgress = {});
    ~StreamFetch();

    // Reads the media playlists; false (AResult says why) when one cannot be read as one.
    // AResult->live tells a live stream, AResult->playlists the local playlists to come.
    bool open(const QStringList& AUrls, StreamFetchResult* AResult);
    // Fetches what open() found; may run on a thread of its own.
    StreamFetchResult run();
    // Of a live stream: called on run()'s thread whenever the local playlists grow or end.
    // AReadable: every one lists a segment.
    void setLiveListener(std::function<void(bool AReadable, bool AEnded)> AListener) {
        FLiveListener = std::move(AListener);
    }

private:
    struct Rendition;
    enum class Round { Going, Over, Ended };
    bool readPlaylist(Rendition& AR, QString* AError);
    bool reloadAll(QList<FetchItem>* AItems, bool* AChanged);
    void writeLocal(StreamFetchResult& AResult, Round ARound);
    void writeLive(Round ARound);
    bool waitMs(qint64 AMs);
    bool cancelled() const { return FCancel && FCancel(); }
    void fetchRound(const QList<FetchItem>& AItems, StreamFetchResult& AResult);
    // A live stream: reloads until it ends; false when the caller stopped it.
    bool follow(StreamFetchResult& AResult);

    SegmentFetcher FFetcher;
    QString FDir;
    std::function<bool()> FCancel;
    std::function<void(const FetchTally&)> FProgress;
    std::function<void(bool, bool)> FLiveListener;
    QList<Rendition> FList;
    QList<FetchItem> FItems; // of the first round
    bool FLive = false;
};

// "Downloading: 412 / 1800 segments, 310 MB, 4.2 MB/s, about 5:31 left".
QString FetchProgressText(const FetchTally& ATally);

} // namespace halvora
