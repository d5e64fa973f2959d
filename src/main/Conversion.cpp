#include "Conversion.h"

#include "AppPaths.h"
#include "Encoding.h"
#include "FFmpegLocator.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <cmath>

namespace halvora {

namespace {

const QString kSep = QStringLiteral("/");

QString FileNameOf(const QString& APath) {
    return APath.mid(APath.lastIndexOf(QLatin1Char('/')) + 1);
}

// The extension of a file name from its last dot, dot included; empty without one.
QString ExtensionOf(const QString& AName) {
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : AName.mid(dot);
}

QString ReplaceExtension(const QString& AName, const QString& AExt) {
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? AName : AName.left(dot)) + AExt;
}

QString AsciiLower(const QString& AText) {
    QString s = AText;
    for (QChar& c : s)
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + ('a' - 'A'));
    return s;
}

// Entry names of a folder as the file system lists them; hidden (dot) entries left out.
QStringList ListFolder(const QString& ADir) {
    QStringList names;
    QDirIterator it(ADir, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        names << it.fileName();
    }
    return names;
}

const QString kFFmpegNotFound = QStringLiteral("ffmpeg not found");
const QString kFFmpegNotFoundBox =
    QStringLiteral("ffmpeg not found. Please install ffmpeg and add it to PATH");
// A saved master playlist's subtitle renditions, which ffmpeg does not read.
const QString kPlaylistSubtitlesLost =
    QStringLiteral("The playlist's subtitle tracks could not be saved and were not kept");

// ASentence alone when every rendition was lost (AAllLost, or none kept), else with the names.
QString SubtitlesNote(const QString& ASentence, const QStringList& ALost, qsizetype AKept,
                      bool AAllLost) {
    if (AAllLost || (!ALost.isEmpty() && AKept == 0))
        return ASentence;
    return ALost.isEmpty() ? QString() : ASentence + QStringLiteral(": ") + ALost.join(u", ");
}

// Where input #0 begins on its own clock (90 kHz), from ffmpeg's "Duration: ..., start: X"
// line; -1 when there is no such line.
qint64 ListedStartPts(const QString& AText) {
    static const QRegularExpression start(
        QStringLiteral("^\\s*Duration: [^,]*, start: (-?[0-9]+(?:\\.[0-9]+)?)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch s = start.match(AText);
    return s.hasMatch() ? std::max<qint64>(std::llround(s.captured(1).toDouble() * 90000), 0) : -1;
}

} // namespace

bool IsUrl(const QString& AText) {
    const QString s = AsciiLower(AText);
    return s.startsWith(QLatin1String("http://")) || s.startsWith(QLatin1String("https://"));
}

QString DocumentsDir() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = qEnvironmentVariable("HOME");
    if (dir.isEmpty())
        dir = AppDir();
    return dir;
}

QString FindLocalFile(const QString& ADir) {
    const QString dir = ADir.endsWith(kSep) ? ADir : ADir + kSep;
    const QFileInfo m3u8(dir + QStringLiteral("local.m3u8"));
    if (m3u8.exists() && !m3u8.isDir())
        return m3u8.filePath();
    QDirIterator it(dir, {QStringLiteral("local.*")},
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot |
                        QDir::CaseSensitive);
    if (!it.hasNext())
        return {};
    it.next();
    if (it.fileInfo().isDir())
        return {};
    return dir + it.fileName();
}

QString OutputName(const QString& AInput) {
    if (IsUrl(AInput))
        return QStringLiteral("output.mp4");
    const QString name = ReplaceExtension(FileNameOf(AInput), QStringLiteral(".mp4"));
    return name == QLatin1String(".mp4") ? QStringLiteral("output.mp4") : name;
}

QString JoinPath(const QString& ADir, const QString& AName) {
    return ADir.endsWith(kSep) ? ADir + AName : ADir + kSep + AName;
}

namespace {

void MapStreams(Command& ACmd, const QList<int>& AIndexes) {
    for (int i : AIndexes)
        ACmd.arg("-map").arg(QStringLiteral("0:%1").arg(i));
}

// Every packet reaches the file as it is muxed, not when ffmpeg's write buffer fills: a
// recording stopped while the reader waits for a live segment is then complete on disk.
void AddTsOutput(Command& ACmd, const QString& ASaveTo) {
    ACmd.arg("-c").arg("copy").arg("-flush_packets").arg("1").arg("-f").arg("mpegts").path(ASaveTo);
}

} // namespace

Command DownloadCommand(const QString& AFFmpeg, const QString& AUrl, const QString& ASaveTo,
                        const StreamPlan& APlan, const QStringList& AStreamTags) {
    Command c(AFFmpeg);
    c.arg("-y").arg("-allowed_extensions").arg("ALL").arg("-i").path(AUrl);
    // A TS holds everything but text subtitles, so the conversion sees what the source had.
    if (APlan.known && !(APlan.video.isEmpty() && APlan.audio.isEmpty())) {
        MapStreams(c, APlan.video);
        MapStreams(c, APlan.audio);
        MapStreams(c, APlan.other);
        c.args(AStreamTags);
    }
    AddTsOutput(c, ASaveTo);
    return c;
}

namespace {

// Stream copy or H.264/AAC (text subtitles as mov_text), into an MP4 that can play while it
// loads.
// Each subtitle file as an input of its own.
void AddSubtitleInputs(Command& ACmd, const QList<SubtitleFile>& ASubs) {
    for (const SubtitleFile& s : ASubs)
        ACmd.arg("-i").path(s.path);
}

// Maps the subtitle files, which follow AFirstInput - 1 inputs and AKeptSubs subtitle streams
// kept from them, with their language, name and default flag.
void MapSubtitleInputs(Command& ACmd, const QList<SubtitleFile>& ASubs, int AFirstInput,
                       qsizetype AKeptSubs) {
    for (qsizetype i = 0; i < ASubs.size(); ++i)
        ACmd.arg("-map").arg(QStringLiteral("%1:s").arg(AFirstInput + i));
    for (qsizetype i = 0; i < ASubs.size(); ++i) {
        const QString n = QString::number(AKeptSubs + i);
        if (!ASubs[i].language.isEmpty())
            ACmd.arg("-metadata:s:s:" + n).arg(QStringLiteral("language=") + ASubs[i].language);
        if (!ASubs[i].name.isEmpty())
            ACmd.arg("-metadata:s:s:" + n)
                .arg(QStringLiteral("title=") + ASubs[i].name)
                .arg("-metadata:s:s:" + n)
                .arg(QStringLiteral("handler_name=") + ASubs[i].name);
        ACmd.arg("-disposition:s:" + n).arg(ASubs[i].isDefault ? "default" : "0");
    }
}

void AddMp4Output(Command& ACmd, const QString& AOutFile, bool AFast, bool ATextSubs = false) {
    if (AFast)
        ACmd.arg("-c").arg("copy");
    else
        ACmd.args(H264AacArgs(EncodePreset::Medium));
    if (ATextSubs)
        ACmd.arg("-c:s").arg("mov_text");
    ACmd.arg("-movflags").arg("+faststart").path(AOutFile);
}

} // namespace

Command ConvertCommand(const QString& AFFmpeg, const QString& AInFile, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan,
                       const QList<SubtitleFile>& ASubs) {
    Command c(AFFmpeg);
    c.arg("-y");
    if (AAllowAll)
        c.arg("-allowed_extensions").arg("ALL");
    c.arg("-i").path(AInFile);
    AddSubtitleInputs(c, ASubs);
    const bool planned = APlan.known && !(APlan.video.isEmpty() && APlan.audio.isEmpty());
    if (planned) {
        MapStreams(c, APlan.video);
        MapStreams(c, APlan.audio);
        MapStreams(c, APlan.textSubs);
    } else {
        // Without ffmpeg's own choice of one audio stream; "V" leaves out attached pictures.
        c.arg("-map").arg("0:V?").arg("-map").arg("0:a?");
    }
    MapSubtitleInputs(c, ASubs, 1, planned ? APlan.textSubs.size() : 0);
    AddMp4Output(c, AOutFile, AFast, (planned && !APlan.textSubs.isEmpty()) || !ASubs.isEmpty());
    return c;
}

namespace {

// Both inputs read with the HLS reader's options; every video and audio stream of the variant
// is kept, and the audio of its rendition. The rendition comes first among the audio tracks, so
// its language (which ffmpeg only learns from the master playlist) can be put back.
void AddVariantInputs(Command& ACmd, const StreamInputs& AIn, bool AAllowAll,
                      const QList<SubtitleFile>& ASubs = {}) {
    for (const QString& in : {AIn.video, AIn.audio}) {
        if (AAllowAll)
            ACmd.arg("-allowed_extensions").arg("ALL");
        ACmd.arg("-i").path(in);
    }
    AddSubtitleInputs(ACmd, ASubs);
    ACmd.arg("-map").arg("0:v?").arg("-map").arg("1:a").arg("-map").arg("0:a?");
    // MP4 keeps three-letter codes only; HLS mostly names languages with two.
    const QString language = Mp4Language(AIn.audioLanguage);
    if (!language.isEmpty())
        ACmd.arg("-metadata:s:a:0").arg(QStringLiteral("language=") + language);
}

} // namespace

Command DownloadCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& ASaveTo,
                        const StreamPlan& APlan, const QStringList& AStreamTags) {
    if (AIn.audio.isEmpty())
        return DownloadCommand(AFFmpeg, AIn.video, ASaveTo, APlan, AStreamTags);
    Command c(AFFmpeg);
    c.arg("-y");
    AddVariantInputs(c, AIn, true);
    AddTsOutput(c, ASaveTo);
    return c;
}

Command ConvertCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan,
                       const QList<SubtitleFile>& ASubs) {
    if (AIn.audio.isEmpty())
        return ConvertCommand(AFFmpeg, AIn.video, AOutFile, AFast, AAllowAll, APlan, ASubs);
    Command c(AFFmpeg);
    c.arg("-y");
    AddVariantInputs(c, AIn, AAllowAll, ASubs);
    MapSubtitleInputs(c, ASubs, 2, 0);
    AddMp4Output(c, AOutFile, AFast, !ASubs.isEmpty());
    return c;
}

Command ProbeCommand(const QString& AFFmpeg, const QString& AInput, bool AAllowAll) {
    Command c(AFFmpeg);
    c.arg("-hide_banner");
    if (AAllowAll)
        c.arg("-allowed_extensions").arg("ALL");
    return c.arg("-i").path(AInput);
}

ConversionFlow::ConversionFlow(ConvertView& AView, ProcessRunner ARunner, FFmpegFinder AFinder,
                               ProcessRunner AProbeRunner)
    : FView(AView), FRunner(std::move(ARunner)), FFinder(std::move(AFinder)),
      FProbeRunner(std::move(AProbeRunner)) {
    const ProcessRunner direct = [](const Command& ACmd, const RunOptions& AOptions) {
        return RunCommand(ACmd, AOptions);
    };
    if (!FRunner)
        FRunner = direct;
    if (!FProbeRunner)
        FProbeRunner = direct;
    if (!FFinder)
        FFinder = [] { return FindFFmpeg(); };
    // Stop ends a transfer of a playlist or subtitle segment too.
    FFetch = [this](const QString& AUrlOrPath) {
        return FetchPlaylist(AUrlOrPath, [this] { return stopRequested(); });
    };
}

void ConversionFlow::RequestStop() {
    std::lock_guard<std::mutex> g(FStopLock);
    FStop->request();
}

void ConversionFlow::ResetStop() {
    std::lock_guard<std::mutex> g(FStopLock);
    FStop = std::make_shared<StopToken>();
}

bool ConversionFlow::stopRequested() const {
    return stopToken()->requested();
}

std::shared_ptr<StopToken> ConversionFlow::stopToken() const {
    std::lock_guard<std::mutex> g(FStopLock);
    return FStop;
}

void ConversionFlow::report(const QString& ALabel, const FFmpegProgress& AProgress,
                            const ProgressText& AText) {
    FLastMs = std::max<std::int64_t>(AProgress.timeMs(), 0);
    if (AProgress.durationMs() > 0) {
        FView.setStatus(AText.known(ALabel, AProgress.timeMs(), AProgress.durationMs()));
        FView.setProgress(FBarBase + AProgress.permille() / 10);
        FBarMoved = true;
    } else {
        FView.setStatus(ProgressText::recording(AProgress.timeMs(), AProgress.sizeBytes()));
    }
}

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

QStringList ConversionFlow::segmentTags(const QString& AListing, const StreamPlan& APlan) {
    // Only a playlist of one variant without renditions: its streams are those of a segment.
    const QList<StreamEntry> streams = ParseStreamList(AListing);
    for (const StreamEntry& e : streams)
        if (e.programs.size() > 1 || (!e.programs.isEmpty() && e.programs != streams[0].programs))
            return {};
    static const QRegularExpression opening(
        QStringLiteral(R"(^\[hls @ [^\]]*\] Opening '(.*)' for reading\s*$)"));
    QString segment;
    for (const QString& line : AListing.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = opening.match(line);
        const QString url = m.captured(1);
        const QString path = url.section(QLatin1Char('?'), 0, 0).toLower();
        if (m.hasMatch() && !path.endsWith(QLatin1String(".m3u8")) &&
            !path.endsWith(QLatin1String(".m3u"))) {
            segment = url;
            break;
        }
    }
    if (segment.isEmpty())
        return {};
    QString segListing;
    PlanStreams(segment, false, QString(), FStallMs, &segListing);
    const QList<StreamEntry> inSegment = ParseStreamList(segListing);
    if (inSegment.size() != streams.size())
        return {};
    for (qsizetype i = 0; i < streams.size(); ++i)
        if (inSegment[i].kind != streams[i].kind || inSegment[i].codec != streams[i].codec)
            return {};
    QStringList args;
    int k = 0; // the output stream, in the order the download maps them
    for (const QList<int>* group : {&APlan.video, &APlan.audio, &APlan.other})
        for (int index : *group) {
            const StreamEntry& e = inSegment[index];
            if (!e.language.isEmpty() && e.language != QLatin1String("und") &&
                streams[index].language.isEmpty())
                args << QStringLiteral("-metadata:s:%1").arg(k)
                     << QStringLiteral("language=") + e.language;
            if (!e.flags.isEmpty() && streams[index].flags.isEmpty())
                args << QStringLiteral("-disposition:%1").arg(k) << e.flags.join(QLatin1Char('+'));
            ++k;
        }
    return args;
}

int ConversionFlow::DownloadStream(const QString& AUrl, const QString& ASaveTo, int* AMissing,
                                   bool* ASubtitlesLost, QList<HlsRendition>* ASubtitles) {
    if (AMissing)
        *AMissing = 0;
    if (ASubtitlesLost)
        *ASubtitlesLost = false;
    if (ASubtitles)
        ASubtitles->clear();
    const QString ffmpeg = FFinder();
    if (ffmpeg.isEmpty())
        return kFFmpegMissing;
    const StreamInputs in =
        PlanStreamInputs(AUrl, FView.qualityChoice(), FFetch,
                         [this](const QString& AText) { FView.setStatus(AText); });
    if (!in.label.isEmpty()) {
        // The reason a better variant was passed over stays in sight during the download.
        FView.setStatus(in.skipped.isEmpty()
                            ? QStringLiteral("Downloading stream (%1)...").arg(in.label)
                            : QStringLiteral("%1; downloading %2...").arg(in.skipped, in.label));
        if (FView.closed())
            return kRunCancelled;
    }
    // A variant with its audio apart keeps all of both inputs' audio; otherwise the listing
    // names every stream to keep.
    StreamPlan plan;
    QStringList tags;
    if (in.audio.isEmpty()) {
        QString listing;
        plan = PlanStreams(in.video, true, QString(), FStallMs, &listing);
        if (stopRequested())
            return kRunStopped;
        tags = plan.known ? segmentTags(listing, plan) : QStringList();
        if (ASubtitlesLost)
            *ASubtitlesLost = listing.contains(QLatin1String("Can't support the subtitle")) ||
                              !plan.textSubs.isEmpty(); // a TS cannot hold text subtitles
    }
    if (ASubtitles)
        *ASubtitles = in.subtitles;
    if (stopRequested())
        return kRunStopped;
    // A live reader waiting for its next segment hears only a second stop; the TS already
    // holds every packet received (see DownloadCommand), so that costs at most what ffmpeg
    // still held back to interleave.
    return run(DownloadCommand(ffmpeg, in, ASaveTo, plan, tags), QString(), AMissing,
               QStringLiteral("Downloading stream"), FStallMs, kStopGraceMs, kLiveStopAgainMs);
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

int ConversionFlow::ConvertLinkTs(const QString& ATs, const QString& AMp4, QStringList* ALeftOut,
                                  QList<SubtitleFile>& ASubs, QStringList* ALost) {
    const QString label = QStringLiteral("Converting ") + FileNameOf(ATs);
    int c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut, ASubs);
    if (c != 0 && c != kRunStopped && !stopRequested() && !ASubs.isEmpty()) {
        // The video matters more than its subtitles.
        for (const SubtitleFile& f : ASubs)
            *ALost << f.name;
        ASubs.clear();
        c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut);
    }
    return c;
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
        if (!workDir.endsWith(kSep))
            workDir += kSep;
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
        if (!root.isEmpty() && !root.endsWith(kSep))
            root += kSep;
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

QStringList ConversionFlow::reserveOutputs(const QStringList& APaths) {
    QString err;
    const QStringList names = ReserveFreeNames(APaths, &err);
    if (names.isEmpty()) {
        FView.setStatus(QStringLiteral("Cannot create output file"));
        FView.showMessage(BoxKind::Error, QStringLiteral("Cannot create output file:\r\n") + err,
                          BoxButtons::Ok);
    }
    return names;
}

bool ConversionFlow::ensureFolder(const QString& ADir) {
    if (!QFileInfo(ADir).isDir())
        QDir().mkpath(ADir);
    return QFileInfo(ADir).isDir();
}

void ConversionFlow::ConvertInput() {
    const QString input = Trimmed(FView.inputText());
    if (input.isEmpty()) {
        FView.setStatus(QStringLiteral("Please enter M3U8 URL"));
        FView.showMessage(BoxKind::Warning,
                          QStringLiteral("Please enter M3U8 URL (local file or http link)"),
                          BoxButtons::Ok);
        return;
    }
    if (FFinder().isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        FView.showMessage(BoxKind::Error, kFFmpegNotFoundBox, BoxButtons::Ok);
        return;
    }
    const bool url = IsUrl(input);

    QString out = Trimmed(FView.outputText());
    if (out.isEmpty()) {
        const QString docs = DocumentsDir();
        const QString question =
            QStringLiteral("The output folder is empty.\r\n\r\nYes    - use your Documents "
                           "folder:\r\n         ") +
            docs + QStringLiteral("\r\n") + QStringLiteral("No     - choose another folder") +
            QStringLiteral("\r\n") + QStringLiteral("Cancel - stop");
        const BoxAnswer answer =
            FView.showMessage(BoxKind::Confirmation, question, BoxButtons::YesNoCancel);
        if (answer == BoxAnswer::Yes) {
            out = docs;
            FView.setOutputText(out);
        } else if (answer == BoxAnswer::No) {
            out = FView.pickFolder(QStringLiteral("Select output directory (download + MP4)"));
            if (out.isEmpty()) {
                FView.setStatus(QStringLiteral("Please select output directory"));
                return;
            }
            FView.setOutputText(out);
        } else {
            FView.setStatus(QStringLiteral("Please select output directory"));
            return;
        }
    }

    if (!QFileInfo(out).isDir() && !QDir().mkpath(out) && !QFileInfo(out).isDir()) {
        FView.setStatus(QStringLiteral("Cannot create output directory"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Cannot create output directory:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }
    if (!QFileInfo(out).isDir()) {
        FView.setStatus(QStringLiteral("Output directory does not exist"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Output directory does not exist:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }

    const QString name = OutputName(input);
    QString mp4 = JoinPath(out, name);
    // ANotes: sentences about streams that were not kept (empty ones are skipped).
    auto done = [&](const QStringList& ANotes) {
        QString status = QStringLiteral("Conversion complete: ") + mp4;
        QString box = QStringLiteral("Conversion complete!\r\n") + mp4;
        for (const QString& note : ANotes)
            if (!note.isEmpty()) {
                status += QStringLiteral(". ") + note;
                box += QStringLiteral("\r\n\r\n") + note;
            }
        FView.setStatus(status);
        FView.showMessage(BoxKind::Information, box, BoxButtons::Ok);
    };

    if (url) {
        FView.setStatus(QStringLiteral("Downloading stream..."));
        FView.setProgressMax(100);
        FBarBase = 0;
        if (FView.closed())
            return;
        // The TS and its MP4 share one number, so output (2).ts becomes output (2).mp4.
        const QStringList names =
            reserveOutputs({JoinPath(out, ReplaceExtension(name, QStringLiteral(".ts"))), mp4});
        if (names.isEmpty())
            return;
        const QString ts = names[0];
        mp4 = names[1];
        // A run that dies keeps what the TS recorded (a live stream cannot be fetched again).
        OwnFile(ts, OwnedKind::Recording);
        const DisownAtEnd owned({ts, mp4});
        int missing = 0;
        bool subtitlesLost = false;
        QList<HlsRendition> renditions;
        const int d = DownloadStream(input, ts, &missing, &subtitlesLost, &renditions);
        // The subtitle renditions are read once the video is saved, into files that live until
        // the conversion has taken them.
        OwnedTempDir subsDir;
        QStringList subsLost;
        const auto saveSubtitles = [&](qint64 ALimitMs) {
            if (renditions.isEmpty())
                return QList<SubtitleFile>();
            if (!subsDir.isValid()) {
                for (const HlsRendition& r : renditions)
                    subsLost << r.name;
                return QList<SubtitleFile>();
            }
            return SaveSubtitles(renditions, ALimitMs, subsDir.path(), &subsLost, FFetch,
                                 FInputStartPts);
        };
        // Not lost silently, though MP4 is not what stands in the way.
        const auto subtitlesNote = [&](qsizetype AKept) {
            return SubtitlesNote(QStringLiteral("The link's subtitle tracks could not be saved "
                                                "and were not kept"),
                                 subsLost, AKept, subtitlesLost);
        };
        if (FView.closed()) { // the window went while the variant was being chosen
            DropUnwritten(ts);
            DropUnwritten(mp4);
            return;
        }
        // Stop is how a live stream's recording ends: ffmpeg has finished the TS, which is
        // converted as usual (a second stop ends that conversion).
        if (d == kRunStopped || (d == 0 && stopRequested())) {
            const QString at = ClockText(FLastMs);
            if (QFileInfo(ts).size() <= 0) {
                QFile::remove(ts);
                DropUnwritten(mp4);
                FView.setStatus(QStringLiteral("Recording stopped before anything was recorded"));
                return;
            }
            const qint64 recordedMs = FLastMs;
            ResetStop();
            FView.setStatus(QStringLiteral("Recording stopped at %1, converting...").arg(at));
            if (FView.closed())
                return;
            // Only what was recorded: no cue from where the recording stopped.
            QList<SubtitleFile> subs = saveSubtitles(std::max<qint64>(recordedMs, 1));
            QStringList leftOut;
            const int c = ConvertLinkTs(ts, mp4, &leftOut, subs, &subsLost);
            FView.setProgress(100);
            if (c != 0)
                DropUnwritten(mp4);
            // The TS stays: unlike a saved playlist, a live stream cannot be fetched again.
            if (c == 0) {
                QStringList notes{LeftOutSentence(leftOut), subtitlesNote(subs.size())};
                notes.removeAll(QString());
                const QString note = notes.join(QStringLiteral(". "));
                FView.setStatus(
                    QStringLiteral("Recording stopped at %1. Conversion complete: ").arg(at) + mp4 +
                    (note.isEmpty() ? QString() : QStringLiteral(". ") + note));
                FView.showMessage(
                    BoxKind::Information,
                    QStringLiteral("Recording stopped at %1.\r\nConversion "
                                   "complete!\r\n")
                            .arg(at) +
                        mp4 + (note.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + note),
                    BoxButtons::Ok);
            } else if (c == kRunStopped) {
                FView.setStatus(QStringLiteral("Recording stopped at %1; conversion stopped. TS "
                                               "kept: %2")
                                    .arg(at, ts));
            } else {
                FView.setStatus(
                    QStringLiteral("Recording stopped at %1; conversion failed (exit=%2)")
                        .arg(at)
                        .arg(c));
                FView.showMessage(BoxKind::Error,
                                  QStringLiteral("Recording stopped at %1.\r\nConversion failed "
                                                 "(exit=%2). TS kept: %3")
                                      .arg(at)
                                      .arg(c)
                                      .arg(ts),
                                  BoxButtons::Ok);
            }
            return;
        }
        if (d != 0) {
            // What a failed download wrote stays; a reservation it never wrote into does not.
            DropUnwritten(ts);
            DropUnwritten(mp4);
            // The bar went on during a download that then failed: nothing was converted.
            if (FBarMoved)
                FView.setProgress(0);
            const bool kept = QFileInfo(ts).size() > 0;
            const QString keptStatus =
                kept ? QStringLiteral("Partial TS kept") : QStringLiteral("Nothing was saved");
            const QString keptLine =
                kept ? QStringLiteral("Partial TS kept (may be playable): ") + ts
                     : QStringLiteral("Nothing was saved");
            QString status;
            QString text;
            if (d == kSegmentsMissing) {
                status = QStringLiteral("Download incomplete: %1 segment(s) missing. %2")
                             .arg(QString::number(missing), keptStatus);
                text = QStringLiteral("Download incomplete: %1 segment(s) of the playlist could "
                                      "not be fetched.\r\n%2")
                           .arg(QString::number(missing), keptLine);
            } else if (d == kDownloadStalled) {
                const QString secs = QString::number((FStallMs + 999) / 1000);
                status =
                    QStringLiteral("Download stalled (no data for %1 s). %2").arg(secs, keptStatus);
                text = QStringLiteral("Download stalled: nothing arrived for %1 s, so it was "
                                      "stopped.\r\n%2")
                           .arg(secs, keptLine);
            } else {
                status = QStringLiteral("Download failed (exit=%1). %2")
                             .arg(QString::number(d), keptStatus);
                text = QStringLiteral("Download failed (exit=%1).\r\n%2")
                           .arg(QString::number(d), keptLine);
            }
            FView.setStatus(status);
            FView.showMessage(
                BoxKind::Error,
                text + QStringLiteral("\r\nFix the network and click Convert again to retry."),
                BoxButtons::Ok);
            return;
        }
        QList<SubtitleFile> subs = saveSubtitles(0);
        QStringList leftOut;
        const int c = ConvertLinkTs(ts, mp4, &leftOut, subs, &subsLost);
        if (c == 0) {
            QFile::remove(ts);
            done({LeftOutSentence(leftOut), subtitlesNote(subs.size())});
        } else if (c == kRunStopped) {
            FView.setStatus(QStringLiteral("Conversion stopped. TS kept: ") + ts);
        } else {
            DropUnwritten(mp4);
            FView.setStatus(QStringLiteral("Conversion failed (exit=%1)").arg(c));
            FView.showMessage(
                BoxKind::Error,
                QStringLiteral("Conversion failed (exit=%1). TS kept: %2").arg(c).arg(ts),
                BoxButtons::Ok);
        }
        FView.setProgress(100);
        return;
    }

    // ffmpeg would truncate its own input before reading it.
    if (SameFile(input, mp4)) {
        FView.setStatus(QStringLiteral("Input and output are the same file"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("The MP4 would overwrite its own input:\r\n%1\r\nChoose "
                                         "another output folder.")
                              .arg(mp4),
                          BoxButtons::Ok);
        return;
    }
    FView.setStatus(QStringLiteral("Converting..."));
    FView.setProgressMax(100);
    FBarBase = 0;
    if (FView.closed())
        return;
    mp4 = reserveOutputs({mp4}).value(0);
    if (mp4.isEmpty())
        return;
    const DisownAtEnd owned({mp4});
    int missing = 0;
    QStringList leftOut;
    QString subtitlesNote;
    const int c = ConvertFile(input, mp4, &missing, &leftOut, &subtitlesNote);
    if (c != 0)
        DropUnwritten(mp4);
    if (c == kRunStopped) {
        FView.setProgress(0);
        FView.setStatus(QStringLiteral("Conversion stopped"));
        return;
    }
    FView.setProgress(100);
    if (c == 0) {
        done({LeftOutSentence(leftOut), subtitlesNote});
    } else if (c == kSegmentsMissing) {
        FView.setStatus(
            QStringLiteral("Conversion incomplete: %1 segment(s) missing").arg(missing));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Conversion incomplete: %1 segment(s) of the playlist "
                                         "could not be read.\r\nThe MP4 lacks them: %2")
                              .arg(missing)
                              .arg(mp4),
                          BoxButtons::Ok);
    } else {
        FView.setStatus(QStringLiteral("Conversion failed (exit=%1)").arg(c));
        FView.showMessage(
            BoxKind::Error,
            QStringLiteral("Conversion failed (exit=%1). Please check the URL").arg(c),
            BoxButtons::Ok);
    }
}

void ConversionFlow::ConvertBatch() {
    const QString root = Trimmed(FView.rootText());
    if (root.isEmpty()) {
        FView.setStatus(QStringLiteral("Please enter root folder path"));
        FView.showMessage(
            BoxKind::Warning,
            QStringLiteral("Please enter root folder path (batch scan all subfolders)"),
            BoxButtons::Ok);
        return;
    }
    if (!QFileInfo(root).isDir()) {
        const QString text = QStringLiteral("Root folder does not exist: ") + root;
        FView.setStatus(text);
        FView.showMessage(BoxKind::Error, text, BoxButtons::Ok);
        return;
    }
    if (FFinder().isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        FView.showMessage(BoxKind::Error, kFFmpegNotFoundBox, BoxButtons::Ok);
        return;
    }
    QString out = Trimmed(FView.outputText());
    if (out.isEmpty())
        out = root;
    // Every item would fail against a folder that cannot exist: say so once instead.
    if (!ensureFolder(out)) {
        FView.setStatus(QStringLiteral("Cannot create output directory"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Cannot create output directory:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }

    int total = 0;
    for (const QString& name : ListFolder(root))
        if (!FindLocalFile(JoinPath(root, name)).isEmpty())
            ++total;
    if (total == 0) {
        FView.setStatus(QStringLiteral("No subfolder with local.* found"));
        FView.showMessage(BoxKind::Information,
                          QStringLiteral("No subfolder containing local.* files under root"),
                          BoxButtons::Ok);
        return;
    }

    int index = 0;
    int successes = 0;
    QStringList renamed;     // file names of the outputs written under a new name
    QStringList wantedNames; // and the names they would have had
    QStringList leftOut;     // over every item, each kind named once
    QStringList subsLost;    // the folders whose playlist's subtitles were not kept
    int failures = 0;
    bool stopped = false;
    // The bar runs over 100 steps per folder: finished folders plus the current one's share.
    FView.setProgressMax(total * 100);
    for (const QString& name : ListFolder(root)) {
        const QString input = FindLocalFile(JoinPath(root, name));
        if (input.isEmpty())
            continue;
        ++index;
        const QString wanted = JoinPath(out, name + QStringLiteral(".mp4"));
        const QString item = QStringLiteral("Converting %1/%2: %3").arg(index).arg(total).arg(name);
        FView.setStatus(item);
        FBarBase = (index - 1) * 100;
        FView.setProgress(FBarBase);
        // Closed meanwhile: the application is ending, the remaining items are left alone.
        if (FView.closed())
            return;
        if (stopRequested()) {
            stopped = true;
            break;
        }
        if (SameFile(input, wanted)) {
            ++failures; // would overwrite its own input
            continue;
        }
        // Two roots may hold folders of one name: the second gets "name (2).mp4".
        const QString output = ReserveFreeName(wanted);
        if (output.isEmpty()) {
            ++failures;
            continue;
        }
        const DisownAtEnd owned({output});
        QStringList itemLeftOut;
        QString itemSubs;
        const int c = ConvertFileAs(input, output, item, nullptr, &itemLeftOut, {}, &itemSubs);
        if (c != 0)
            DropUnwritten(output);
        if (c == kRunStopped) {
            stopped = true;
            break;
        }
        if (c != 0) {
            ++failures;
            continue;
        }
        ++successes;
        MergeKinds(leftOut, itemLeftOut);
        if (!itemSubs.isEmpty())
            subsLost << name;
        if (output != wanted) {
            wantedNames << FileNameOf(wanted);
            renamed << FileNameOf(output);
        }
    }
    if (stopped) {
        const int skipped = total - successes - failures;
        FView.setStatus(QStringLiteral("Batch stopped: %1 converted, %2 failed, %3 skipped, "
                                       "output: %4")
                            .arg(successes)
                            .arg(failures)
                            .arg(skipped)
                            .arg(out));
        FView.showMessage(BoxKind::Information,
                          QStringLiteral("Batch conversion stopped. %1 converted, %2 failed, %3 "
                                         "skipped\r\nOutput dir: %4")
                              .arg(successes)
                              .arg(failures)
                              .arg(skipped)
                              .arg(out),
                          BoxButtons::Ok);
        return;
    }
    FView.setProgress(FView.progressMax());
    QString status = QStringLiteral("Batch done: %1/%2 succeeded, output: %3")
                         .arg(successes)
                         .arg(total)
                         .arg(out);
    QString box = QStringLiteral("Batch conversion complete! %1/%2 succeeded\r\nOutput dir: %3")
                      .arg(successes)
                      .arg(total)
                      .arg(out);
    if (!renamed.isEmpty()) {
        status += QStringLiteral("; renamed: ") + renamed.join(QStringLiteral(", "));
        box += QStringLiteral("\r\n\r\nSaved under a new name (the name was taken):");
        for (qsizetype i = 0; i < renamed.size(); ++i)
            box += QStringLiteral("\r\n") + wantedNames[i] + QStringLiteral(" -> ") + renamed[i];
    }
    if (!leftOut.isEmpty()) {
        status += QStringLiteral(". ") + LeftOutSentence(leftOut);
        box += QStringLiteral("\r\n\r\n") + LeftOutSentence(leftOut);
    }
    if (!subsLost.isEmpty()) {
        const QString note = (subsLost.size() == 1 ? kPlaylistSubtitlesLost
                                                   : QStringLiteral("The playlists' subtitle "
                                                                    "tracks could not be saved "
                                                                    "and were not kept")) +
                             QStringLiteral(": ") + subsLost.join(QStringLiteral(", "));
        status += QStringLiteral(". ") + note;
        box += QStringLiteral("\r\n\r\n") + note;
    }
    FView.setStatus(status);
    FView.showMessage(BoxKind::Information, box, BoxButtons::Ok);
}

} // namespace halvora
