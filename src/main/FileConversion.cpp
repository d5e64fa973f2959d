#include "Conversion.h"

#include "AppPaths.h"
#include "ConversionMessages.h"
#include "FFmpegLog.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace halvora {

int ConversionFlow::run(const Command& ACmd, const QString& AWorkDir, int* AMissing,
                        const QString& ALabel, int AStallMs, int AStopGraceMs, int AStopAgainMs) {
    // A segment may be reported more than once (one line per failed attempt or stream).
    QSet<QString> segments;
    int cutShort = 0;
    bool writeFailed = false;
    FLastMs = 0;
    FInputStartPts = -1;
    FBarMoved = false;
    ProgressText text;
    text.start();
    RunOptions options;
    options.workDir = AWorkDir;
    options.stallMs = AStallMs;
    options.stop = stopToken();
    options.stopGraceMs = AStopGraceMs;
    options.stopAgainMs = AStopAgainMs;
    // Only a recording is asked again (its TS is written packet by packet): if this program
    // dies, it is asked to finish as on Stop, and killed if it is still waiting for its next
    // segment soon after (the TS already holds every packet received); any other run is killed.
    options.deathSignal = AStopAgainMs >= 0 ? SIGINT : SIGKILL;
    options.deathGraceMs = AStopAgainMs >= 0 ? kRecordingDeathGraceMs : 0;
    options.onProgress = [&](const FFmpegProgress& AProgress) { report(ALabel, AProgress, text); };
    // ffmpeg's HLS reader skips a segment it cannot open and goes on, ending with 0 ("Failed to
    // open segment N of playlist 0"); a segment cut short by a lost connection is only reported
    // by the HTTP layer ("Stream ends prematurely").
    options.onStderrLine = [&](const QString& ALine) {
        // Keyed by reader and playlist too: a variant and its audio rendition are two inputs
        // whose segments are numbered alike.
        static const QRegularExpression failed(QStringLiteral(
            "(?:\\[hls @ ([^\\]]*)\\] )?Failed to open segment (\\d+)(?: of playlist "
            "(\\d+))?"));
        // Input #0's line comes first; the outputs have none.
        if (FInputStartPts < 0)
            FInputStartPts = ListedStartPts(ALine);
        const QRegularExpressionMatch m = failed.match(ALine);
        if (m.hasMatch())
            segments.insert(m.captured(1) + u':' + m.captured(3) + u':' + m.captured(2));
        else if (ALine.contains(QLatin1String("Stream ends prematurely")))
            ++cutShort;
        else if (ALine.contains(QLatin1String("Error writing trailer")) ||
                 ALine.contains(QLatin1String("No space left on device")) ||
                 ALine.contains(QLatin1String("File too large")))
            writeFailed = true;
    };
    const int result = FRunner(ACmd, options);
    const int missing = static_cast<int>(segments.size()) + cutShort;
    if (AMissing)
        *AMissing = missing;
    if (result == 0 && writeFailed)
        return kOutputWriteFailed;
    return result == 0 && missing > 0 ? kSegmentsMissing : result;
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

int ConversionFlow::ConvertFile(const QString& AInFile, const QString& AOutFile, int* AMissing,
                                QStringList* ALeftOut, QString* ASubtitlesNote) {
    return ConvertFileAs(AInFile, AOutFile, QStringLiteral("Converting ") + FileNameOf(AInFile),
                         AMissing, ALeftOut, {}, ASubtitlesNote);
}

int ConversionFlow::ConvertFileAs(const QString& AInFile, const QString& AOutFile,
                                  const QString& ALabel, int* AMissing, QStringList* ALeftOut,
                                  const QList<SubtitleFile>& ASubs, QString* ASubtitlesNote) {
    if (AMissing)
        *AMissing = 0;
    if (ALeftOut)
        ALeftOut->clear();
    if (ASubtitlesNote)
        ASubtitlesNote->clear();
    const QString ffmpeg = FFinder();
    if (ffmpeg.isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        return kFFmpegMissing;
    }
    const bool url = IsUrl(AInFile);
    const QString ext = ExtensionOf(FileNameOf(AInFile)).toLower();
    const bool allowAll = url || ext == QLatin1String(".m3u8") || ext == QLatin1String(".m3u");
    QString workDir;
    if (!url)
        workDir = AInFile.left(AInFile.lastIndexOf(QLatin1Char('/')) + 1);
    // The child runs in the input's folder, so relative paths must not be read against it twice.
    QString in = AInFile;
    QString out = AOutFile;
    if (!workDir.isEmpty()) {
        if (QFileInfo(in).isRelative())
            in = QFileInfo(in).absoluteFilePath();
        if (QFileInfo(out).isRelative())
            out = QFileInfo(out).absoluteFilePath();
        workDir = QFileInfo(workDir).absoluteFilePath();
        if (!workDir.endsWith(QLatin1Char('/')))
            workDir += QLatin1Char('/');
    }

    // A local master playlist: its best variant, no question.
    StreamInputs inputs;
    inputs.video = in;
    if (!url && allowAll)
        inputs = PlanStreamInputs(QFileInfo(in).absoluteFilePath(), {}, FFetch);
    if (inputs.label.isEmpty())
        inputs.video = in;

    // A stopped run leaves no half-written MP4 behind, and is not retried.
    auto stopped = [&](int AResult) {
        if (AResult == 0 || (AResult != kRunStopped && !stopRequested()))
            return false;
        QFile::remove(out);
        return true;
    };
    // One listing serves both attempts; two inputs keep all of their audio without one.
    StreamPlan plan;
    QString listing;
    if (inputs.audio.isEmpty()) {
        plan = PlanStreams(inputs.video, allowAll, workDir, url ? FStallMs : 0, &listing);
        if (stopped(stopRequested() ? kRunStopped : 0))
            return kRunStopped;
        if (ALeftOut)
            *ALeftOut = plan.leftOut;
    }
    // A saved master's subtitle renditions, which ffmpeg does not read, are read here: from
    // files in the master's folder or below it only.
    QList<SubtitleFile> subs = ASubs;
    OwnedTempDir subsDir;
    QStringList subsLost;
    const bool localSubs = !url && !inputs.label.isEmpty() && !inputs.subtitles.isEmpty();
    if (localSubs) {
        if (listing.isEmpty())
            PlanStreams(inputs.video, allowAll, workDir, 0, &listing);
        if (stopped(stopRequested() ? kRunStopped : 0))
            return kRunStopped;
        QString root = QFileInfo(QFileInfo(in).absolutePath()).canonicalFilePath();
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
        if (subsDir.isValid())
            subs = SaveSubtitles(inputs.subtitles, 0, subsDir.path(), &subsLost, fetch,
                                 ListedStartPts(listing));
        else
            for (const HlsRendition& r : inputs.subtitles)
                subsLost << r.name;
        FView.setStatus(ALabel);
    }
    int result = run(ConvertCommand(ffmpeg, inputs, out, FView.fastMode(), allowAll, plan, subs),
                     workDir, AMissing, ALabel);
    if (stopped(result))
        return kRunStopped;
    // Re-encoding cannot bring back segments that could not be read, so that case is final.
    // Re-encoding cannot make room on a full disk either.
    if (result != 0 && result != kSegmentsMissing && result != kOutputWriteFailed &&
        FView.fastMode()) {
        FView.setStatus(QStringLiteral("Fast mode failed, switching to re-encode..."));
        if (FView.closed())
            return result;
        result = run(ConvertCommand(ffmpeg, inputs, out, false, allowAll, plan, subs), workDir,
                     AMissing, ALabel + QStringLiteral(", re-encoding"));
        if (stopped(result))
            return kRunStopped;
    }
    // The video matters more than its subtitles: once more without them.
    if (result != 0 && result != kSegmentsMissing && result != kOutputWriteFailed && localSubs &&
        !subs.isEmpty()) {
        for (const SubtitleFile& f : subs)
            subsLost << f.name;
        subs.clear();
        result = run(ConvertCommand(ffmpeg, inputs, out, FView.fastMode(), allowAll, plan, subs),
                     workDir, AMissing, ALabel);
        if (stopped(result))
            return kRunStopped;
    }
    if (ASubtitlesNote && localSubs)
        *ASubtitlesNote = SubtitlesNote(kPlaylistSubtitlesLost, subsLost, subs.size(), false);
    // What is left of an output whose writing failed is no MP4 to keep under its name.
    if (result == kOutputWriteFailed)
        QFile::remove(out);
    return result;
}
} // namespace halvora
