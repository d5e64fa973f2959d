#include "QualityReader.h"

#include "Links.h"

namespace halvora {

QualityReader::QualityReader(QObject* AParent, Fetcher AFetch)
    : QObject(AParent), FFetch(std::move(AFetch)) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(600);
    connect(&FTimer, &QTimer::timeout, this, [this] { start(); });
}

QualityReader::~QualityReader() {
    FTimer.stop();
    FJob.stopAndWait();
}

void QualityReader::request(const QString& ALink) {
    const QString link = ALink.trimmed();
    const bool isLink = IsUrl(link);
    const QString wanted = isLink ? link : QString();
    if (wanted == FRequested)
        return; // asked for already: its list stands or is on its way
    FRequested = wanted;
    ++FGeneration; // whatever is being read now is of no use any more
    FJob.requestStop();
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

QualityReader::VariantsRead QualityReader::ReadVariants(const Fetcher& AFetch, const QString& ALink,
                                                        const StopToken& AStop) {
    VariantsRead read;
    read.link = ALink;
    const PlaylistText text = AFetch(ALink, [&AStop] { return AStop.requested(); });
    read.abandoned = AStop.requested();
    if (text.ok && !read.abandoned)
        read.list = ReadHlsPlaylist(text.body, ALink);
    return read;
}

void QualityReader::start() {
    if (FJob.running())
        return; // the abandoned read ends first; readEnded starts this one
    const QString link = FPending;
    FPending.clear();
    if (link.isEmpty())
        return;
    const quint64 generation = FGeneration;
    Fetcher fetch = FFetch;
    if (!fetch)
        fetch = [headers = FHeaders](const QString& AUrl, const std::function<bool()>& ACancel) {
            return FetchPlaylist(AUrl, ACancel, headers);
        };
    FJob.start<VariantsRead>(
        [fetch, link](const WorkerJob::Context& AJob) {
            return ReadVariants(fetch, link, *AJob.stop);
        },
        [this, generation](const VariantsRead& ARead) { readEnded(ARead, generation); });
}

void QualityReader::readEnded(const VariantsRead& ARead, quint64 AGeneration) {
    if (!ARead.abandoned && AGeneration == FGeneration) {
        FLink = ARead.link;
        FPlaylist = ARead.list;
        emit variantsChanged();
    }
    // A link that waited for this read to let go, its pause already over.
    if (!FPending.isEmpty() && !FTimer.isActive())
        start();
}

} // namespace halvora
