#include "StreamFetch.h"

#include "FFmpegProgress.h"
#include "LocalCopy.h"
#include "PlaylistFetch.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QThread>

namespace halvora {

namespace {

// Reloads of a live playlist that may fail in a row before the recording ends.
constexpr int kReloadFailuresToEnd = 10;

QString RenditionFolder(qsizetype AIndex) {
    return AIndex == 0 ? QStringLiteral("video") : QStringLiteral("audio%1").arg(AIndex);
}

} // namespace

struct StreamFetch::Rendition {
    QString url; // as given
    LocalCopy copy;
    MediaPlaylist last;
    QByteArray lastBody;
    QString dir;
    QByteArray written; // the local playlist as last written
    int failedReloads = 0;
    explicit Rendition(const QString& AUrl, const QString& ADir)
        : url(AUrl), copy(ADir), dir(ADir) {}
    QString localPlaylist() const { return dir + QStringLiteral("/local.m3u8"); }
};

StreamFetch::StreamFetch(FetchRules ARules, QString AWorkDir, std::function<bool()> ACancel,
                         std::function<void(const FetchTally&)> AProgress)
    : FFetcher(std::move(ARules)), FDir(std::move(AWorkDir)), FCancel(std::move(ACancel)),
      FProgress(std::move(AProgress)) {}

StreamFetch::~StreamFetch() = default;

bool StreamFetch::readPlaylist(Rendition& AR, QString* AError) {
    const PlaylistText t = FetchPlaylist(AR.url, FCancel, FFetcher.rules().headers);
    if (!t.ok) {
        *AError = t.error;
        return false;
    }
    const MediaPlaylist list = ReadMediaPlaylist(t.body, t.finalUrl);
    if (!list.ok) {
        *AError = QStringLiteral("not a media playlist");
        return false;
    }
    AR.last = list;
    AR.lastBody = t.body;
    return true;
}

// Reads each live playlist again; new segments go to AItems. AChanged: any playlist changed.
// False when the recording should end (every playlist ended, or reloads keep failing).
bool StreamFetch::reloadAll(QList<FetchItem>* AItems, bool* AChanged) {
    *AChanged = false;
    bool going = false;
    for (Rendition& r : FList) {
        if (!r.last.isLive())
            continue;
        const QByteArray before = r.lastBody;
        QString error;
        if (!readPlaylist(r, &error)) {
            going = going || ++r.failedReloads < kReloadFailuresToEnd;
            continue;
        }
        r.failedReloads = 0;
        *AChanged = *AChanged || r.lastBody != before;
        *AItems += r.copy.plan(r.last);
        going = going || r.last.isLive();
    }
    return going;
}

void StreamFetch::writeLive(Round ARound) {
    bool grew = ARound == Round::Ended, readable = true;
    for (Rendition& r : FList) {
        if (ARound == Round::Ended)
            r.copy.listAllReceived();
        else
            r.copy.listReceived(ARound == Round::Over);
        const QByteArray text = r.copy.liveText(ARound == Round::Ended);
        readable = readable && r.copy.listed() > r.copy.skipped();
        if (text == r.written)
            continue;
        // Replaced whole, never rewritten in place: ffmpeg may be reading it.
        QSaveFile f(r.localPlaylist());
        if (f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.commit())
            r.written = text;
        grew = true;
    }
    if (grew && FLiveListener)
        FLiveListener(readable, ARound == Round::Ended);
}

void StreamFetch::writeLocal(StreamFetchResult& AResult, Round ARound) {
    AResult.playlists.clear();
    AResult.missing = 0;
    AResult.segments = 0;
    if (FLive)
        writeLive(ARound);
    for (Rendition& r : FList) {
        if (!FLive) {
            QSaveFile f(r.localPlaylist());
            if (f.open(QIODevice::WriteOnly))
                f.write(r.copy.playlistText());
            f.commit();
        }
        AResult.playlists << r.localPlaylist();
        AResult.missing += FLive ? r.copy.skipped() + int(r.copy.lost()) : r.copy.missing();
        AResult.segments += int(r.copy.segments());
    }
}

bool StreamFetch::waitMs(qint64 AMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < AMs) {
        if (cancelled())
            return false;
        QThread::msleep(quint32(qBound(qint64(1), AMs - t.elapsed(), qint64(50))));
    }
    return true;
}

// A live round lists each segment as soon as it and those before it are in.
void StreamFetch::fetchRound(const QList<FetchItem>& AItems, StreamFetchResult& AResult) {
    FFetcher.fetch(AItems, FCancel, [&](const FetchTally& ATally) {
        if (FLive)
            writeLocal(AResult, Round::Going);
        else if (FProgress)
            FProgress(ATally);
    });
}

bool StreamFetch::open(const QStringList& AUrls, StreamFetchResult* AResult) {
    *AResult = {};
    FList.clear();
    FItems.clear();
    for (qsizetype i = 0; i < AUrls.size(); ++i) {
        FList.append(Rendition(AUrls[i], FDir + QLatin1Char('/') + RenditionFolder(i)));
        if (!QDir().mkpath(FList.last().dir) || !readPlaylist(FList.last(), &AResult->error))
            return false;
        AResult->live = AResult->live || FList.last().last.isLive();
        AResult->playlists << FList.last().localPlaylist();
        FItems += FList.last().copy.plan(FList.last().last);
    }
    FLive = AResult->live;
    return true;
}

bool StreamFetch::follow(StreamFetchResult& AResult) {
    QElapsedTimer sinceReload;
    sinceReload.start();
    bool changed = true;
    QList<FetchItem> items = FItems;
    for (;;) {
        fetchRound(items, AResult);
        if (cancelled())
            return false;
        writeLocal(AResult, Round::Over);
        if (!FLive)
            return true;
        // RFC 8216 6.3.4: the target duration after a changed playlist, half after the same.
        const double target = FList[0].last.targetDuration > 0 ? FList[0].last.targetDuration : 2;
        const qint64 waitFor = qint64(target * (changed ? 1000 : 500)) - sinceReload.elapsed();
        if (!waitMs(waitFor))
            return false;
        sinceReload.restart();
        items.clear();
        if (!reloadAll(&items, &changed) && items.isEmpty())
            return true;
    }
}

StreamFetchResult StreamFetch::run() {
    StreamFetchResult result;
    result.live = FLive;
    const bool ended = follow(result);
    if (FLive || !ended)
        writeLocal(result, Round::Ended);
    if (!ended)
        result.kind = StreamFetchResult::Stopped;
    else
        result.kind =
            result.missing > 0 ? StreamFetchResult::Incomplete : StreamFetchResult::Complete;
    return result;
}

QString FetchProgressText(const FetchTally& ATally) {
    QString text = QStringLiteral("Downloading: %1 / %2 segments, %3")
                       .arg(ATally.done)
                       .arg(ATally.total)
                       .arg(SizeText(ATally.bytes));
    if (ATally.bytesPerSecond <= 0)
        return text;
    text += QStringLiteral(", %1 MB/s").arg(ATally.bytesPerSecond / 1e6, 0, 'f', 1);
    if (ATally.fetchedNow <= 0 || ATally.done >= ATally.total)
        return text;
    const double perItem = double(ATally.bytesOfDone) / ATally.fetchedNow;
    const double secs = perItem * (ATally.total - ATally.done) / ATally.bytesPerSecond;
    return text + QStringLiteral(", about %1 left").arg(ShortClockText(qRound64(secs * 1000)));
}

} // namespace halvora
