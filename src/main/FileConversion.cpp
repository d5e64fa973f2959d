#include "Conversion.h"

#include "ConversionMessages.h"
#include "FFmpegLog.h"
#include "OwnedFiles.h"

#include <QFileInfo>

namespace halvora {

// One file conversion: where it runs, what it reads, and what its attempts share.
struct ConversionFlow::FileRun {
    QString ffmpeg;
    QString label;
    QString in;
    QString out;     // absolute when the child runs in the input's folder
    QString workDir; // the input's folder; empty for a link
    bool url = false;
    bool allowAll = false;
    StreamInputs inputs;
    StreamPlan plan;
    QString listing;
    QList<SubtitleFile> subs;
    QStringList subsLost;
    bool localSubs = false;
    int* missing = nullptr;
};

namespace {

// Re-encoding cannot bring back segments that could not be read, so that case is final.
// Re-encoding cannot make room on a full disk either.
bool WorthRetrying(const ConversionOutcome& AOutcome) {
    return !AOutcome.done() && !AOutcome.is(ConversionResult::SegmentsMissing) &&
           !AOutcome.is(ConversionResult::OutputWriteFailed);
}

// What a stop requested meanwhile makes of a step that is otherwise fine.
ConversionOutcome StopOr(bool AStopped) {
    return AStopped ? OutcomeOf(ConversionResult::Stopped) : ConversionOutcome{};
}

} // namespace

ConversionOutcome ConversionFlow::run(const Command& ACmd, const QString& AWorkDir, int* AMissing,
                                      const QString& ALabel, int AStallMs, int AStopGraceMs,
                                      int AStopAgainMs, const RunStop& AStop) {
    FLastMs = 0;
    FInputStartPts = -1;
    FBarMoved = false;
    ProgressText text;
    text.start();
    RunOptions options;
    options.workDir = AWorkDir;
    options.stallMs = AStallMs;
    options.stop = AStop.token ? AStop.token : stopToken();
    options.onWait = AStop.onWait;
    options.stopGraceMs = AStopGraceMs;
    options.stopAgainMs = AStopAgainMs;
    // Only a recording is asked again (its TS is written packet by packet): if this program
    // dies, it is asked to finish as on Stop, and killed if it is still waiting for its next
    // segment soon after (the TS already holds every packet received); any other run is killed.
    options.deathSignal = AStopAgainMs >= 0 ? SIGINT : SIGKILL;
    options.deathGraceMs = AStopAgainMs >= 0 ? kRecordingDeathGraceMs : 0;
    options.onProgress = [&](const FFmpegProgress& AProgress) { report(ALabel, AProgress, text); };
    FFmpegLogReader log;
    options.onStderrLine = [&](const QString& ALine) {
        log.readLine(ALine);
        FInputStartPts = log.startPts();
    };
    const int result = FRunner(ACmd, options);
    const int missing = log.missingSegments();
    if (AMissing)
        *AMissing = missing;
    if (result == 0 && log.writeFailed())
        return OutcomeOf(ConversionResult::OutputWriteFailed);
    if (result == 0 && missing > 0)
        return OutcomeOf(ConversionResult::SegmentsMissing);
    return OutcomeOfRun(result);
}

StreamPlan ConversionFlow::PlanStreams(const QString& AInput, bool AAllowAll,
                                       const QString& AWorkDir, int AStallMs, QString* AListing) {
    const QString ffmpeg = FFinder();
    if (ffmpeg.isEmpty())
        return {};
    QString listing;
    // A listing reports no progress, so silence on stderr is what counts as stalling.
    QElapsedTimer quiet;
    quiet.start();
    RunOptions options;
    options.workDir = AWorkDir;
    options.stop = stopToken();
    if (AStallMs > 0)
        options.onWait = [&quiet, AStallMs] { return quiet.elapsed() < AStallMs; };
    options.onStderrLine = [&](const QString& ALine) {
        quiet.restart();
        listing += ALine + QLatin1Char('\n');
    };
    FProbeRunner(ProbeCommand(ffmpeg, AInput, AAllowAll), options);
    if (AListing)
        *AListing = listing;
    return PlanMp4Streams(ParseStreamList(listing));
}

ConversionOutcome ConversionFlow::ConvertFile(const QString& AInFile, const QString& AOutFile,
                                              int* AMissing, QStringList* ALeftOut,
                                              QString* ASubtitlesNote) {
    return ConvertFileAs(AInFile, AOutFile, QStringLiteral("Converting ") + FileNameOf(AInFile),
                         AMissing, ALeftOut, {}, ASubtitlesNote);
}

ConversionOutcome ConversionFlow::ConvertFileAs(const QString& AInFile, const QString& AOutFile,
                                                const QString& ALabel, int* AMissing,
                                                QStringList* ALeftOut,
                                                const QList<SubtitleFile>& ASubs,
                                                QString* ASubtitlesNote) {
    if (AMissing)
        *AMissing = 0;
    if (ALeftOut)
        ALeftOut->clear();
    if (ASubtitlesNote)
        ASubtitlesNote->clear();
    FileRun r;
    r.ffmpeg = FFinder();
    if (r.ffmpeg.isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        return OutcomeOf(ConversionResult::FFmpegMissing);
    }
    r.label = ALabel;
    r.missing = AMissing;
    r.subs = ASubs;
    prepareFileRun(r, AInFile, AOutFile);
    // One listing serves both attempts; two inputs keep all of their audio without one.
    if (r.inputs.audio.isEmpty()) {
        r.plan =
            PlanStreams(r.inputs.video, r.allowAll, r.workDir, r.url ? FStallMs : 0, &r.listing);
        if (removeIfStopped(r, StopOr(stopRequested())))
            return OutcomeOf(ConversionResult::Stopped);
        if (ALeftOut)
            *ALeftOut = r.plan.leftOut;
    }
    OwnedTempDir subsDir;
    r.localSubs = !r.url && !r.inputs.label.isEmpty() && !r.inputs.subtitles.isEmpty();
    if (r.localSubs && !saveLocalSubtitles(r, subsDir))
        return OutcomeOf(ConversionResult::Stopped);
    bool windowGone = false;
    const ConversionOutcome result = runAttempts(r, windowGone);
    if (result.is(ConversionResult::Stopped) || windowGone)
        return result;
    if (ASubtitlesNote && r.localSubs)
        *ASubtitlesNote = SubtitlesNote(kPlaylistSubtitlesLost, r.subsLost, r.subs.size(), false);
    // What is left of an output whose writing failed is no MP4 to keep under its name.
    if (result.is(ConversionResult::OutputWriteFailed))
        QFile::remove(r.out);
    return result;
}

void ConversionFlow::prepareFileRun(FileRun& ARun, const QString& AInFile,
                                    const QString& AOutFile) {
    ARun.url = IsUrl(AInFile);
    const QString ext = ExtensionOf(FileNameOf(AInFile)).toLower();
    ARun.allowAll = ARun.url || ext == QLatin1String(".m3u8") || ext == QLatin1String(".m3u");
    if (!ARun.url)
        ARun.workDir = AInFile.left(AInFile.lastIndexOf(QLatin1Char('/')) + 1);
    // The child runs in the input's folder, so relative paths must not be read against it twice.
    ARun.in = AInFile;
    ARun.out = AOutFile;
    if (!ARun.workDir.isEmpty()) {
        if (QFileInfo(ARun.in).isRelative())
            ARun.in = QFileInfo(ARun.in).absoluteFilePath();
        if (QFileInfo(ARun.out).isRelative())
            ARun.out = QFileInfo(ARun.out).absoluteFilePath();
        ARun.workDir = QFileInfo(ARun.workDir).absoluteFilePath();
        if (!ARun.workDir.endsWith(QLatin1Char('/')))
            ARun.workDir += QLatin1Char('/');
    }
    // A local master playlist: its best variant, no question.
    ARun.inputs.video = ARun.in;
    if (!ARun.url && ARun.allowAll)
        ARun.inputs = PlanStreamInputs(QFileInfo(ARun.in).absoluteFilePath(), {}, FFetch);
    if (ARun.inputs.label.isEmpty())
        ARun.inputs.video = ARun.in;
}

// A stopped run leaves no half-written MP4 behind, and is not retried.
bool ConversionFlow::removeIfStopped(const FileRun& ARun, const ConversionOutcome& AOutcome) {
    if (AOutcome.done() || (!AOutcome.is(ConversionResult::Stopped) && !stopRequested()))
        return false;
    QFile::remove(ARun.out);
    return true;
}

// A saved master's subtitle renditions, which ffmpeg does not read, are read here: from files in
// the master's folder or below it only. False when a stop came first.
bool ConversionFlow::saveLocalSubtitles(FileRun& ARun, const OwnedTempDir& ADir) {
    if (ARun.listing.isEmpty())
        PlanStreams(ARun.inputs.video, ARun.allowAll, ARun.workDir, 0, &ARun.listing);
    if (removeIfStopped(ARun, StopOr(stopRequested())))
        return false;
    QString root = QFileInfo(QFileInfo(ARun.in).absolutePath()).canonicalFilePath();
    if (!root.isEmpty() && !root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    const PlaylistFetcher fetch = [&](const QString& APath) {
        const QString real = QFileInfo(APath).canonicalFilePath();
        if (IsUrl(APath) || root.isEmpty() || real.isEmpty() || !real.startsWith(root)) {
            PlaylistText refused;
            refused.error = QStringLiteral("not beside the playlist");
            return refused;
        }
        return FFetch(real);
    };
    if (ADir.isValid())
        ARun.subs = SaveSubtitles(ARun.inputs.subtitles, 0, ADir.path(), &ARun.subsLost, fetch,
                                  ListedStartPts(ARun.listing));
    else
        for (const HlsRendition& r : ARun.inputs.subtitles)
            ARun.subsLost << r.name;
    FView.setStatus(ARun.label);
    return true;
}

// Fast mode when chosen, then re-encoding, then without the subtitles; Stopped once
// stopped. AWindowGone: the window closed before the re-encoding, which was not started.
ConversionOutcome ConversionFlow::runAttempts(FileRun& ARun, bool& AWindowGone) {
    const auto attempt = [&](bool AFast, const QString& ALabel) {
        return run(ConvertCommand(ARun.ffmpeg, ARun.inputs, ARun.out, AFast, ARun.allowAll,
                                  ARun.plan, ARun.subs),
                   ARun.workDir, ARun.missing, ALabel);
    };
    ConversionOutcome result = attempt(FView.fastMode(), ARun.label);
    if (removeIfStopped(ARun, result))
        return OutcomeOf(ConversionResult::Stopped);
    if (WorthRetrying(result) && FView.fastMode()) {
        FView.setStatus(QStringLiteral("Fast mode failed, switching to re-encode..."));
        if (FView.closed()) {
            AWindowGone = true;
            return result;
        }
        result = attempt(false, ARun.label + QStringLiteral(", re-encoding"));
        if (removeIfStopped(ARun, result))
            return OutcomeOf(ConversionResult::Stopped);
    }
    // The video matters more than its subtitles: once more without them.
    if (WorthRetrying(result) && ARun.localSubs && !ARun.subs.isEmpty()) {
        for (const SubtitleFile& f : ARun.subs)
            ARun.subsLost << f.name;
        ARun.subs.clear();
        result = attempt(FView.fastMode(), ARun.label);
        if (removeIfStopped(ARun, result))
            return OutcomeOf(ConversionResult::Stopped);
    }
    return result;
}

} // namespace halvora
