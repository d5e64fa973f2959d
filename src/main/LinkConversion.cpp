#include "Conversion.h"

#include "ConversionMessages.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QFileInfo>

#include <optional>

namespace halvora {

// One link's files and what its download reported, from the download to the conversion.
struct ConversionFlow::LinkRun {
    QString ts;
    QString mp4;
    int missing = 0;
    bool subtitlesLost = false;
    QList<HlsRendition> renditions;
    // The subtitle renditions are read once the video is saved, into files that live until
    // the conversion has taken them.
    std::optional<OwnedTempDir> subsDir;
    QStringList subsLost;
};

void ConversionFlow::convertLink(const QString& AInput, const QString& AOut, const QString& AMp4) {
    FView.setStatus(QStringLiteral("Downloading stream..."));
    FView.setProgressMax(100);
    FBarBase = 0;
    if (FView.closed())
        return;
    // The TS and its MP4 share one number, so output (2).ts becomes output (2).mp4.
    const QStringList names = reserveOutputs(
        {JoinPath(AOut, ReplaceExtension(FileNameOf(AMp4), QStringLiteral(".ts"))), AMp4});
    if (names.isEmpty())
        return;
    // A run that dies keeps what the TS recorded (a live stream cannot be fetched again).
    OwnFile(names[0], OwnedKind::Recording);
    const DisownAtEnd owned(names);
    LinkRun r;
    r.ts = names[0];
    r.mp4 = names[1];
    const ConversionOutcome d =
        DownloadStream(AInput, r.ts, &r.missing, &r.subtitlesLost, &r.renditions);
    r.subsDir.emplace();
    if (FView.closed()) { // the window went while the variant was being chosen
        DropUnwritten(r.ts);
        DropUnwritten(r.mp4);
        return;
    }
    // Stop is how a live stream's recording ends: ffmpeg has finished the TS, which is
    // converted as usual (a second stop ends that conversion).
    if (d.is(ConversionResult::Stopped) || (d.done() && stopRequested()))
        convertRecording(r);
    else if (!d.done())
        reportDownloadFailure(r, d);
    else
        convertDownload(r);
}

QList<SubtitleFile> ConversionFlow::saveLinkSubtitles(LinkRun& ARun, qint64 ALimitMs) {
    if (ARun.renditions.isEmpty())
        return {};
    if (!ARun.subsDir->isValid()) {
        for (const HlsRendition& r : ARun.renditions)
            ARun.subsLost << r.name;
        return {};
    }
    return SaveSubtitles(ARun.renditions, ALimitMs, ARun.subsDir->path(), &ARun.subsLost, FFetch,
                         FInputStartPts);
}

namespace {

// Not lost silently, though MP4 is not what stands in the way.
QString LinkSubtitlesNote(const QStringList& ALost, qsizetype AKept, bool AAllLost) {
    return SubtitlesNote(kLinkSubtitlesLost, ALost, AKept, AAllLost);
}

} // namespace

void ConversionFlow::convertRecording(LinkRun& ARun) {
    const QString at = ClockText(FLastMs);
    if (QFileInfo(ARun.ts).size() <= 0) {
        QFile::remove(ARun.ts);
        DropUnwritten(ARun.mp4);
        FJob.end = JobEnd::Stopped;
        FView.setStatus(QStringLiteral("Recording stopped before anything was recorded"));
        return;
    }
    const qint64 recordedMs = FLastMs;
    ResetStop();
    FView.setStatus(QStringLiteral("Recording stopped at %1, converting...").arg(at));
    if (FView.closed())
        return;
    // Only what was recorded: no cue from where the recording stopped.
    QList<SubtitleFile> subs = saveLinkSubtitles(ARun, std::max<qint64>(recordedMs, 1));
    QStringList leftOut;
    const ConversionOutcome c = ConvertLinkTs(ARun.ts, ARun.mp4, &leftOut, subs, &ARun.subsLost);
    FView.setProgress(100);
    if (!c.done())
        DropUnwritten(ARun.mp4);
    FJob = {JobEndOf(c, JobEnd::RecordingStopped), c.done() ? QStringList{ARun.mp4} : QStringList(),
            ARun.ts};
    // The TS stays: unlike a saved playlist, a live stream cannot be fetched again.
    if (c.done() && !FWorkResumable)
        dropWorkFolder(); // a live stream's copy: all of it is in the recording now
    if (c.done()) {
        QStringList notes{LeftOutSentence(leftOut),
                          LinkSubtitlesNote(ARun.subsLost, subs.size(), ARun.subtitlesLost),
                          FWorkResumable ? FetchedKeptSentence(FWorkDir) : QString()};
        notes.removeAll(QString());
        tell(BoxKind::Information,
             RecordingDoneNotice(at, ARun.mp4, notes.join(QStringLiteral(". "))));
    } else if (c.is(ConversionResult::Stopped)) {
        FView.setStatus(RecordingConversionStoppedStatus(at, ARun.ts));
    } else {
        tell(BoxKind::Error, RecordingConversionFailedNotice(at, c.code, ARun.ts));
    }
}

void ConversionFlow::reportDownloadFailure(const LinkRun& ARun, const ConversionOutcome& AOutcome) {
    // What a failed download wrote stays; a reservation it never wrote into does not.
    DropUnwritten(ARun.ts);
    DropUnwritten(ARun.mp4);
    // The bar went on during a download that then failed: nothing was converted.
    if (FBarMoved)
        FView.setProgress(0);
    const bool kept = QFileInfo(ARun.ts).size() > 0;
    if (kept)
        FJob = {JobEnd::DownloadIncomplete, {}, ARun.ts};
    tell(BoxKind::Error,
         DownloadFailedNotice(AOutcome, ARun.missing, FStallMs, ARun.ts, kept, FWorkDir));
}

void ConversionFlow::convertDownload(LinkRun& ARun) {
    QList<SubtitleFile> subs = saveLinkSubtitles(ARun, 0);
    QStringList leftOut;
    const ConversionOutcome c = ConvertLinkTs(ARun.ts, ARun.mp4, &leftOut, subs, &ARun.subsLost);
    FJob = {JobEndOf(c, JobEnd::Done), c.done() ? QStringList{ARun.mp4} : QStringList(),
            c.done() ? QString() : ARun.ts};
    if (c.done()) {
        QFile::remove(ARun.ts);
        dropWorkFolder();
        tell(BoxKind::Information,
             DoneNotice(ARun.mp4,
                        {LeftOutSentence(leftOut),
                         LinkSubtitlesNote(ARun.subsLost, subs.size(), ARun.subtitlesLost)}));
    } else if (c.is(ConversionResult::Stopped)) {
        FView.setStatus(QStringLiteral("Conversion stopped. TS kept: ") + ARun.ts);
    } else {
        DropUnwritten(ARun.mp4);
        tell(BoxKind::Error, LinkConversionFailedNotice(c.code, ARun.ts));
    }
    FView.setProgress(100);
}

ConversionOutcome ConversionFlow::ConvertLinkTs(const QString& ATs, const QString& AMp4,
                                                QStringList* ALeftOut, QList<SubtitleFile>& ASubs,
                                                QStringList* ALost) {
    const QString label = QStringLiteral("Converting ") + FileNameOf(ATs);
    ConversionOutcome c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut, ASubs);
    if (!c.done() && !c.is(ConversionResult::Stopped) && !stopRequested() && !ASubs.isEmpty()) {
        // The video matters more than its subtitles.
        for (const SubtitleFile& f : ASubs)
            *ALost << f.name;
        ASubs.clear();
        c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut);
    }
    return c;
}

} // namespace halvora
