#include "Conversion.h"

#include "FFmpegLog.h"

#include <QFileInfo>

namespace halvora {

QStringList ConversionFlow::segmentTags(const QString& AListing, const StreamPlan& APlan) {
    // Only a playlist of one variant without renditions: its streams are those of a segment.
    const QList<StreamEntry> streams = ParseStreamList(AListing);
    for (const StreamEntry& e : streams)
        if (e.programs.size() > 1 || (!e.programs.isEmpty() && e.programs != streams[0].programs))
            return {};
    const QString segment = FirstSegmentUrl(AListing);
    if (segment.isEmpty())
        return {};
    QString segListing;
    PlanStreams(segment, false, QString(), FStallMs, &segListing);
    return SegmentTagArgs(streams, ParseStreamList(segListing), APlan);
}

ConversionOutcome ConversionFlow::DownloadStream(const QString& AUrl, const QString& ASaveTo,
                                                 int* AMissing, bool* ASubtitlesLost,
                                                 QList<HlsRendition>* ASubtitles) {
    if (AMissing)
        *AMissing = 0;
    if (ASubtitlesLost)
        *ASubtitlesLost = false;
    if (ASubtitles)
        ASubtitles->clear();
    FWorkDir.clear();
    FWorkSegments = 0;
    FWorkResumable = false;
    const QString ffmpeg = FFinder();
    if (ffmpeg.isEmpty())
        return OutcomeOf(ConversionResult::FFmpegMissing);
    FHeaders = FView.requestHeaders();
    StreamInputs in = PlanStreamInputs(AUrl, FView.qualityChoice(), FFetch,
                                       [this](const QString& AText) { FView.setStatus(AText); });
    if (!in.label.isEmpty()) {
        // The reason a better variant was passed over stays in sight during the download.
        FView.setStatus(in.skipped.isEmpty()
                            ? QStringLiteral("Downloading stream (%1)...").arg(in.label)
                            : QStringLiteral("%1; downloading %2...").arg(in.skipped, in.label));
        if (FView.closed())
            return OutcomeOf(ConversionResult::WindowClosed);
    }
    if (ASubtitles)
        *ASubtitles = in.subtitles;
    // The segments are fetched here; ffmpeg reads the local copy (a live one while it grows).
    // A playlist the fetcher cannot read is left to ffmpeg's own reader, as it always was.
    FetchPath path = FetchPath::None;
    int fetchMissing = 0;
    const ConversionOutcome f =
        fetchStream(ffmpeg, in, ASaveTo, &fetchMissing, ASubtitlesLost, &path);
    if (path == FetchPath::Recorded) {
        if (AMissing)
            *AMissing = fetchMissing;
        return f;
    }
    if (path == FetchPath::None)
        return saveStream(ffmpeg, in, ASaveTo, AMissing, ASubtitlesLost);
    if (f.is(ConversionResult::Stopped)) {
        if (FWorkSegments == 0)
            return f;
        ResetStop(); // the stop ended the fetch; ffmpeg still saves what arrived
    }
    const ConversionOutcome saved = saveStream(ffmpeg, in, ASaveTo, AMissing, ASubtitlesLost);
    return afterFetch(f, saved, fetchMissing, AMissing);
}

ConversionOutcome ConversionFlow::saveStream(const QString& AFFmpeg, const StreamInputs& AIn,
                                             const QString& ASaveTo, int* AMissing,
                                             bool* ASubtitlesLost, const RunStop& AStop) {
    // A variant with its audio apart keeps all of both inputs' audio; otherwise the listing
    // names every stream to keep.
    StreamPlan plan;
    QStringList tags;
    if (AIn.audio.isEmpty()) {
        QString listing;
        plan = PlanStreams(AIn.video, true, QString(), FStallMs, &listing);
        if (stopRequested() && !AIn.liveCopy)
            return OutcomeOf(ConversionResult::Stopped);
        tags = plan.known ? segmentTags(listing, plan) : QStringList();
        if (ASubtitlesLost)
            *ASubtitlesLost = listing.contains(QLatin1String("Can't support the subtitle")) ||
                              !plan.textSubs.isEmpty(); // a TS cannot hold text subtitles
    }
    // A live copy is recorded to its end whatever the stop: a stop ends the copy.
    if (stopRequested() && !AIn.liveCopy)
        return OutcomeOf(ConversionResult::Stopped);
    // A live reader waiting for its next segment hears only a second stop; the TS already
    // holds every packet received (see DownloadCommand), so that costs at most what ffmpeg
    // still held back to interleave.
    return run(DownloadCommand(AFFmpeg, AIn, ASaveTo, plan, tags), QString(), AMissing,
               QStringLiteral("Downloading stream"), FStallMs, kStopGraceMs, kLiveStopAgainMs,
               AStop);
}

QList<SubtitleFile> ConversionFlow::SaveSubtitles(const QList<HlsRendition>& ARenditions,
                                                  qint64 ALimitMs, const QString& ADir,
                                                  QStringList* ALost, const PlaylistFetcher& AFetch,
                                                  qint64 AStartPts) {
    QList<SubtitleFile> files;
    for (qsizetype i = 0; i < ARenditions.size(); ++i) {
        const HlsRendition& r = ARenditions[i];
        QString name = r.name.isEmpty() ? r.language : r.name;
        if (name.isEmpty())
            name = QStringLiteral("track %1").arg(i + 1);
        FView.setStatus(QStringLiteral("Saving subtitles (%1)...").arg(name));
        QByteArray vtt;
        // Without the video's start the cues could not be placed.
        const bool read = AStartPts >= 0 && !stopRequested() &&
                          FetchVttRendition(r.uri, AFetch, AStartPts, ALimitMs, &vtt, nullptr);
        const QString path = JoinPath(ADir, QStringLiteral("subtitles%1.vtt").arg(files.size()));
        QFile f(path);
        if (!read || !f.open(QIODevice::WriteOnly) || f.write(vtt) != vtt.size() || !f.flush()) {
            if (ALost)
                *ALost << name;
            continue;
        }
        if (vtt.contains("-->")) // a rendition without a cue adds nothing
            files << SubtitleFile{path, Mp4Language(r.language), r.name, r.isDefault};
    }
    return files;
}
} // namespace halvora
