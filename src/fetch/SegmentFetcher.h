#pragma once

#include "MediaPlaylist.h"
#include "RequestHeaders.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace halvora {

// One file to fetch: a resource (or a byte range of it) saved as AFile.
struct FetchItem {
    QString url;
    ByteRange range;
    QString file;          // where the verified body goes; its presence means "complete"
    bool expectTs = false; // the body must start with MPEG-TS sync bytes
};

// How the fetcher works; the defaults are the program's, tests shorten the waits.
struct FetchRules {
    int parallel = 6;
    int retries = 5;                                        // after the first attempt
    QList<int> backoffMs = {1000, 2000, 4000, 8000, 16000}; // before retry 1, 2, ...
    int stallMs = 20000;                                    // no byte for this long ends an attempt
    int retryAfterCapMs = 120000;                           // the longest Retry-After obeyed
    RequestHeaders headers;
};

// Where a fetch stands, for the progress line.
struct FetchTally {
    int done = 0;              // complete items, those found on disk included
    int total = 0;             // items of this fetch
    qint64 bytes = 0;          // body bytes of the complete items received now
    double bytesPerSecond = 0; // over the last few seconds
    qint64 bytesOfDone = 0;    // body bytes of the items completed now (for an estimate)
    int fetchedNow = 0;        // items completed by transfers now (not found on disk)
};

// Fetches files over HTTP(S) on libcurl's multi interface: up to FetchRules::parallel at
// once, started in list order, connections kept between fetches. Each body is written to
// "<file>.part" and becomes <file> only once verified (status, length, sync bytes), so a file
// that exists is complete and is never fetched again. Not thread-safe; one fetch at a time.
class SegmentFetcher {
public:
    explicit SegmentFetcher(FetchRules ARules = {});
    ~SegmentFetcher();
    SegmentFetcher(const SegmentFetcher&) = delete;
    SegmentFetcher& operator=(const SegmentFetcher&) = delete;

    // Fetches the items whose file is missing; returns the indexes of those still missing after
    // every retry. ACancel is asked several times a second: true ends the fetch at once (the
    // unfinished items count as missing). AProgress, when set, hears at most 4 times a second.
    QList<int> fetch(const QList<FetchItem>& AItems, const std::function<bool()>& ACancel,
                     const std::function<void(const FetchTally&)>& AProgress = {});
    // Why an item of the last fetch failed in the end ("HTTP 404", a transport error, ...).
    QString failure(int AIndex) const;
    const FetchRules& rules() const { return FRules; }

private:
    struct Impl;
    FetchRules FRules;
    std::unique_ptr<Impl> d;
};

} // namespace halvora
