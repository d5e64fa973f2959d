#include "QualityReader.h"

#include <QMetaObject>
#include <QPointer>

namespace halvora {

QualityReader::QualityReader(QObject* AParent, Fetcher AFetch)
    : QObject(AParent), FFetch(std::move(AFetch)) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(600);
    connect(&FTimer, &QTimer::timeout, this, [this] { start(); });
}

QualityReader::~QualityReader() {
    FTimer.stop();
    reap(true);
}

void QualityReader::request(const QString& ALink) {
    const QString link = ALink.trimmed();
    const bool isLink = link.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                        link.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    const QString wanted = isLink ? link : QString();
    if (wanted == FRequested)
        return; // asked for already: its list stands or is on its way
    FRequested = wanted;
    ++FGeneration; // whatever is being read now is of no use any more
    for (Worker& w : FWorkers)
        w.cancel->store(true);
    FPending = wanted;
    if (!FLink.isEmpty()) {
        FLink.clear();
        FPlaylist = HlsPlaylist();
        emit variantsChanged();
    }
    if (isLink)
        FTimer.start();
    else
        FTimer.stop();
}

void QualityReader::start() {
    reap(false);
    const QString link = FPending;
    FPending.clear();
    if (link.isEmpty())
        return;
    const quint64 generation = FGeneration;
    Worker w;
    w.cancel = std::make_shared<std::atomic_bool>(false);
    w.done = std::make_shared<std::atomic_bool>(false);
    Fetcher fetch = FFetch;
    if (!fetch)
        fetch = [headers = FHeaders](const QString& AUrl, const std::function<bool()>& ACancel) {
            return FetchPlaylist(AUrl, ACancel, headers);
        };
    // The thread owns copies of everything it uses; it reaches this object only through a
    // queued call, which Qt drops once the object is gone (and the destructor joins first).
    w.thread = std::thread([this, link, generation, fetch, cancel = w.cancel, done = w.done] {
        const PlaylistText text = fetch(link, [cancel] { return cancel->load(); });
        HlsPlaylist list;
        if (text.ok && !cancel->load())
            list = ReadHlsPlaylist(text.body, link);
        if (!cancel->load())
            QMetaObject::invokeMethod(
                this,
                [this, link, generation, list] {
                    if (generation != FGeneration)
                        return;
                    FLink = link;
                    FPlaylist = list;
                    emit variantsChanged();
                },
                Qt::QueuedConnection);
        done->store(true);
    });
    FWorkers.push_back(std::move(w));
}

void QualityReader::reap(bool AAll) {
    for (auto it = FWorkers.begin(); it != FWorkers.end();) {
        if (AAll)
            it->cancel->store(true);
        if (AAll || it->done->load()) {
            it->thread.join();
            it = FWorkers.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace halvora
