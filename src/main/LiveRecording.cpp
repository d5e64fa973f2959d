#include "Conversion.h"

#include "StreamFetch.h"

#include <condition_variable>
#include <thread>

namespace halvora {

namespace {

// Where a live copy stands, as its fetching thread tells it.
class LiveListing {
public:
    void listed(bool AReadable) {
        const std::lock_guard<std::mutex> g(FLock);
        FReadable = FReadable || AReadable;
        FChanged.notify_all();
    }
    void fetchEnded(bool AByStop) {
        const std::lock_guard<std::mutex> g(FLock);
        FEnded = true;
        FStopped = AByStop;
        FChanged.notify_all();
    }
    // Until every local playlist lists a segment or the fetch has ended; whether they do.
    bool waitReadable() {
        std::unique_lock<std::mutex> l(FLock);
        FChanged.wait(l, [this] { return FReadable || FEnded; });
        return FReadable;
    }
    bool ended() const {
        const std::lock_guard<std::mutex> g(FLock);
        return FEnded;
    }
    bool stopped() const {
        const std::lock_guard<std::mutex> g(FLock);
        return FStopped;
    }

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    bool FReadable = false, FEnded = false, FStopped = false;
};

} // namespace

ConversionOutcome ConversionFlow::recordLive(LiveCopy& ACopy, const QString& AFFmpeg,
                                             StreamInputs& AIn, const QString& ASaveTo,
                                             int* AMissing, bool* ASubtitlesLost) {
    LiveListing listing;
    ACopy.fetch.setLiveListener([&listing](bool AReadable, bool) { listing.listed(AReadable); });
    StreamFetchResult fetched;
    std::thread fetcher([&] {
        fetched = ACopy.fetch.run();
        // The stop that ended the copy is spent; another one stops ffmpeg's reading of it.
        const bool byStop = stopRequested();
        if (byStop)
            ResetStop();
        listing.fetchEnded(byStop);
    });
    ConversionOutcome saved = OutcomeOf(ConversionResult::Done);
    const bool readable = listing.waitReadable();
    if (readable) {
        AIn.video = ACopy.playlists.value(0);
        if (!AIn.audio.isEmpty())
            AIn.audio = ACopy.playlists.value(1);
        AIn.liveCopy = true;
        const auto recorderStop = std::make_shared<StopToken>();
        const RunStop stop{recorderStop, [this, &listing, recorderStop] {
                               if (listing.ended() && stopRequested())
                                   recorderStop->request();
                               return true;
                           }};
        saved = saveStream(AFFmpeg, AIn, ASaveTo, AMissing, ASubtitlesLost, stop);
    }
    ACopy.recorderEnded = true;
    fetcher.join();
    // Everything received is in the TS now (or, after a failure, never will be).
    dropWorkFolder();
    FWorkSegments = fetched.segments - fetched.missing;
    if (listing.stopped() && (!readable || saved.done() || saved.is(ConversionResult::Stopped)))
        return OutcomeOf(ConversionResult::Stopped);
    if (readable && !saved.done())
        return saved;
    if (AMissing)
        *AMissing += fetched.missing;
    return OutcomeOf(!readable || fetched.missing > 0 ? ConversionResult::SegmentsMissing
                                                      : ConversionResult::Done);
}

} // namespace halvora
