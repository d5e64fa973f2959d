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
    int failedReloads = 0;
    explicit Rendition(const QString& AUrl, const QString& ADir)
        : url(AUrl), copy(ADir), dir(ADir) {}
};

StreamFetch::StreamFetch(FetchRules ARules, QString AWorkDir, std::function<bool()> ACancel,
                         std::function<void(const FetchTally&)> AProgress)
    : FFetcher(std::move(ARules)), FDir(std::move(AWorkDir)), FCancel(std::move(ACancel)),
      FProgress(std::move(AProgress)) {}

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
bool StreamFetch::reloadAll(QList<Rendition>& AList, QList<FetchItem>* AItems, bool* AChanged) {
    *AChanged = false;
    bool going = false;
    for (Rendition& r : AList) {
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

void StreamFetch::writeLocal(const QList<Rendition>& AList, StreamFetchResult& AResult) {
    AResult.playlists.clear();
    AResult.missing = 0;
    AResult.segments = 0;
    for (const Rendition& r : AList) {
        const QString path = r.dir + QStringLiteral("/local.m3u8");
        QSaveFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(r.copy.playlistText());
        f.commit();
        AResult.playlists << path;
        AResult.missing += r.copy.missing();
        AResult.segments += int(r.copy.segments());
    }
}

bool StreamFetch::waitMs(qint64 AMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < AMs) {
        if (FCancel && FCancel())
            return false;
        QThread::msleep(quint32(qBound(qint64(1), AMs - t.elapsed(), qint64(50))));
    }
    return true;
}

void StreamFetch::fetchRound(const QList<FetchItem>& AItems, const QList<Rendition>& AList,
                             bool ALive) {
    qint64 bytes = 0;
    FFetcher.fetch(AItems, FCancel, [&](const FetchTally& ATally) {
        bytes = ATally.bytes;
        if (!FProgress)
            return;
        FetchTally t = ATally;
        t.live = ALive;
        if (ALive) {
            t.liveBytes = FLiveBytes + ATally.bytes;
            for (const Rendition& r : AList)
                t.recordedMs = qMax(t.recordedMs, r.copy.readableMs());
        }
        FProgress(t);
    });
    FLiveBytes += bytes;
}

StreamFetchResult StreamFetch::run(const QStringList& AUrls) {
    StreamFetchResult result;
    QList<Rendition> list;
    QList<FetchItem> items;
    for (qsizetype i = 0; i < AUrls.size(); ++i) {
        list.append(Rendition(AUrls[i], FDir + QLatin1Char('/') + RenditionFolder(i)));
        if (!QDir().mkpath(list.last().dir) || !readPlaylist(list.last(), &result.error))
            return result;
        result.live = result.live || list.last().last.isLive();
        items += list.last().copy.plan(list.last().last);
    }
    if (result.live && !FFetcher.rules().fetchLive) {
        result.error = QStringLiteral("a live playlist");
        return result;
    }
    QElapsedTimer sinceReload;
    sinceReload.start();
    bool changed = true;
    for (;;) {
        fetchRound(items, list, result.live);
        writeLocal(list, result);
        if (FCancel && FCancel()) {
            result.kind = StreamFetchResult::Stopped;
            return result;
        }
        if (!result.live)
            break;
        // RFC 8216 6.3.4: the target duration after a changed playlist, half after the same.
        const double target = list[0].last.targetDuration > 0 ? list[0].last.targetDuration : 2;
        const qint64 waitFor = qint64(target * (changed ? 1000 : 500)) - sinceReload.elapsed();
        if (!waitMs(waitFor)) {
            result.kind = StreamFetchResult::Stopped;
            return result;
        }
        sinceReload.restart();
        items.clear();
        if (!reloadAll(list, &items, &changed) && items.isEmpty())
            break;
    }
    result.kind = result.missing > 0 ? StreamFetchResult::Incomplete : StreamFetchResult::Complete;
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
