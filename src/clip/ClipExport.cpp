#include "ClipExport.h"

#include "AppPaths.h"
#include "Encoding.h"
#include "FreeName.h"
#include "MediaProbe.h"
#include "Process.h"
#include "SmartCut.h"
#include "SourceTags.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace halvora {

namespace {

QString Num(std::int32_t AValue) {
    return QString::number(AValue);
}

Command& Reencode(Command& ACmd, const QString& ACrop) {
    return ACmd.arg(QStringLiteral("-vf"))
        .arg(QStringLiteral("crop=") + ACrop)
        .args(H264AacArgs(EncodePreset::VeryFast));
}

// Every video stream (no cover pictures) and every audio track, in order; ffmpeg alone would
// keep only one audio track.
Command& MapAll(Command& ACmd) {
    return ACmd.args({QStringLiteral("-map"), QStringLiteral("0:V?"), QStringLiteral("-map"),
                      QStringLiteral("0:a?")});
}

// Progress of the whole export over the total kept time: each run covers its share of it.
class ExportMeter {
public:
    ExportMeter(ExportView& AView, std::int64_t ATotalMs) : FView(AView), FTotalMs(ATotalMs) {
        FText.start();
    }
    // The next run makes AShareMs of the kept time, after ABaseMs of it are done; it reports
    // times up to ARunMs (when given; else up to its share).
    void begin(const QString& ALabel, std::int64_t ABaseMs, std::int64_t AShareMs,
               std::int64_t ARunMs = -1) {
        FLabel = ALabel;
        FBaseMs = ABaseMs;
        FShareMs = AShareMs;
        FRunMs = ARunMs < 0 ? AShareMs : ARunMs;
    }
    void onProgress(const FFmpegProgress& AProgress) {
        if (FTotalMs <= 0)
            return;
        const std::int64_t t = std::clamp<std::int64_t>(AProgress.timeMs(), 0, FRunMs);
        const std::int64_t in = FRunMs > 0 ? t * FShareMs / FRunMs : FShareMs;
        const std::int64_t done = std::max(FShownMs, FBaseMs + in);
        FShownMs = done;
        FView.setStatus(FText.known(FLabel, done, FTotalMs));
    }
    // The current run has ended well: its whole share is done.
    void finishRun() {
        if (FTotalMs <= 0 || FShareMs <= 0 || FShownMs >= FBaseMs + FShareMs)
            return;
        FShownMs = FBaseMs + FShareMs;
        FView.setStatus(FText.known(FLabel, FShownMs, FTotalMs));
    }
    // A new pass over the kept time (joining after cutting) starts from nothing, and so does
    // its estimate of the time left.
    void restart() {
        FShownMs = 0;
        FText.start();
    }

private:
    ExportView& FView;
    std::int64_t FTotalMs;
    std::int64_t FBaseMs = 0;
    std::int64_t FShareMs = 0;
    std::int64_t FRunMs = 0;
    std::int64_t FShownMs = 0;
    QString FLabel;
    ProgressText FText;
};

int Run(const Command& ACmd, const ClipEnv& AEnv, ExportMeter& AMeter) {
    if (AEnv.onRun)
        AEnv.onRun(ACmd);
    RunOptions o = AEnv.exportRunOptions();
    o.onProgress = [&](const FFmpegProgress& AProgress) { AMeter.onProgress(AProgress); };
    const int r = RunCommand(ACmd, o);
    return AEnv.stop && AEnv.stop->requested() && r != 0 ? kRunStopped : r;
}

// The concat demuxer reads a quoted path literally up to the next quote; a quote inside is
// closed, escaped and reopened.
QString ConcatQuoted(const QString& APath) {
    QString s = APath;
    s.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

} // namespace

QString CutFileName(std::int32_t AFrom, std::int32_t ATo) {
    return QStringLiteral("seg_%1_%2.mp4").arg(AFrom).arg(ATo);
}

QString TailFileName(std::int32_t AFrom) {
    return QStringLiteral("seg_%1_end.mp4").arg(AFrom);
}

Command CutCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                   std::int32_t ATo, const QString& ACrop, const QString& ACutPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        // Stream copy: the seek stays after the input, which decides the packets kept.
        c.arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-to")).arg(Num(ATo));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        // Re-encoding: seeking before the input skips decoding everything up to the range and
        // is still frame-accurate.
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-t")).arg(QString::number(static_cast<std::int64_t>(ATo) - AFrom));
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ACutPath);
}

Command TailCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t AFrom,
                    const QString& ACrop, const QString& ATailPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        c.arg(QStringLiteral("-i")).path(AInput).arg(QStringLiteral("-ss")).arg(Num(AFrom));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ATailPath);
}

QString UsText(std::int64_t AUs) {
    const bool negative = AUs < 0;
    const std::int64_t a = negative ? -AUs : AUs;
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(a / 1000000)
        .arg(a % 1000000, 6, 10, QLatin1Char('0'));
}

Command KeyframeCutCommand(const QString& AFFmpeg, const QString& AInput, std::int64_t AStartUs,
                           std::int32_t ATo, const QString& ACutPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y")).arg(QStringLiteral("-ss")).arg(UsText(AStartUs));
    c.arg(QStringLiteral("-i")).path(AInput);
    if (ATo >= 0)
        c.arg(QStringLiteral("-t"))
            .arg(UsText(static_cast<std::int64_t>(ATo) * 1000000 - AStartUs));
    // Without this ffmpeg copies the packets between the keyframe it seeked to and the start.
    MapAll(c).args({QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-copypriorss"),
                    QStringLiteral("0")});
    return c.path(ACutPath);
}

Command JoinCommand(const QString& AFFmpeg, const QString& AListPath, const QString& AOutput,
                    bool AReencode, const QString& ATagsFrom, const MediaIndex* AIndex) {
    Command c(AFFmpeg);
    c.args({QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"),
            QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i")});
    c.path(AListPath);
    const bool tags = !ATagsFrom.isEmpty() && AIndex && !AIndex->videoDisposition.isEmpty();
    if (tags)
        c.arg(QStringLiteral("-i")).path(ATagsFrom);
    MapAll(c);
    if (tags)
        KeepSourceTags(c, 1, *AIndex, true);
    if (AReencode)
        c.args(H264AacArgs(EncodePreset::VeryFast));
    else
        c.args({QStringLiteral("-c"), QStringLiteral("copy")});
    c.args({QStringLiteral("-movflags"), QStringLiteral("+faststart")});
    return c.path(AOutput);
}

QByteArray ConcatListText(const QStringList& APaths) {
    QByteArray out;
    for (const QString& p : APaths) {
        out += "file ";
        out += ConcatQuoted(p).toUtf8();
        out += "\r\n";
    }
    return out;
}

bool StripUtf8Bom(const QString& AFileName) {
    QFile f(AFileName);
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const QByteArray bytes = f.readAll();
    f.close();
    if (bytes.size() < 3 || !bytes.startsWith("\xEF\xBB\xBF"))
        return true;
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray rest = bytes.mid(3);
    return f.write(rest) == rest.size() && f.flush();
}

bool ExportClip(const ExportRequest& ARequest, ExportView& AView, const ClipEnv& AEnv) {
    auto box = [&](BoxKind AKind, const QString& AText) {
        AView.message(AKind, AText, BoxButtons::Ok);
    };
    if (ARequest.inFile.isEmpty()) {
        box(BoxKind::Warning, QStringLiteral("Please open a video first"));
        return false;
    }
    const QString output = Trimmed(ARequest.outText);
    if (output.isEmpty()) {
        box(BoxKind::Warning, QStringLiteral("Please specify output file"));
        return false;
    }
    // ffmpeg would truncate the video it is still reading from (-y).
    if (SameFile(ARequest.inFile, output)) {
        AView.setStatus(QStringLiteral("Input and output are the same file"));
        box(BoxKind::Error, QStringLiteral("The export would overwrite the opened video:\r\n") +
                                output + QStringLiteral("\r\nChoose another output file."));
        return false;
    }
    // The user named this file on purpose: ask before anything is written.
    const bool replacing = !ARequest.freeName && QFileInfo::exists(output);
    if (replacing && AView.message(BoxKind::Confirmation,
                                   output + QStringLiteral(" already exists. Replace it?"),
                                   BoxButtons::YesNo) != BoxAnswer::Yes)
        return false;
    const QVector<KeptRange> ranges = KeptRanges(ARequest.rows, ARequest.duration);
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty()) {
        box(BoxKind::Error, QStringLiteral("ffmpeg not found"));
        return false;
    }
    const QString crop = Trimmed(ARequest.cropText);
    const QString dir = AEnv.dir();

    AView.setStatus(QStringLiteral("Exporting..."));
    AView.processMessages();

    std::int64_t keptMs = 0;
    for (const KeptRange& r : ranges)
        keptMs += 1000LL * ((r.tail ? ARequest.duration : r.to) - r.from);
    ExportMeter meter(AView, keptMs);
    const QString listPath = dir + QStringLiteral("list.txt");

    MediaIndex ownIndex;
    const MediaIndex* index = ARequest.index;
    // Also for a crop: the join takes the source's tags from it.
    if (!index && !ranges.isEmpty()) {
        ownIndex = ReadMediaIndex(ARequest.inFile, AEnv);
        index = &ownIndex;
    }

    QString target = output;
    // A file being replaced is written beside it first and only takes its place once complete,
    // so a failed join leaves the user's file as it was.
    QString joined = output;
    bool reserved = false;
    auto reserve = [&] {
        if (reserved || !(ARequest.freeName || replacing))
            return true;
        QString err;
        joined = replacing ? ReserveTempBeside(output, &err) : ReserveFreeName(output, &err);
        if (joined.isEmpty()) {
            box(BoxKind::Error, QStringLiteral("Cannot create output file:\r\n") + err);
            return false;
        }
        if (ARequest.freeName)
            target = joined;
        reserved = true;
        return true;
    };
    auto release = [&] {
        if (!reserved)
            return;
        if (replacing)
            QFile::remove(joined);
        else if (ARequest.freeName)
            DropUnwritten(joined);
    };
    // What a re-encode could not carry over, named once on completion.
    QString lost;
    auto complete = [&] {
        QString err;
        if (replacing && !ReplaceWithTemp(joined, output, &err)) {
            QFile::remove(joined);
            box(BoxKind::Error, QStringLiteral("Cannot replace output file:\r\n") + output +
                                    QStringLiteral(": ") + err);
            return false;
        }
        AView.setStatus(QStringLiteral("Export complete: ") + target);
        box(BoxKind::Information, QStringLiteral("Export complete!\r\n") + target +
                                      (lost.isEmpty() ? QString() : QStringLiteral("\r\n") + lost));
        return true;
    };

    if (crop.isEmpty() && index && !ranges.isEmpty()) {
        // Exact cuts: only the pictures between a mark and the keyframe the copy can start on
        // are re-encoded. Whatever stops them, the keyframe copies below still lose nothing.
        QString why = SmartCutUnsupported(*index);
        if (why.isEmpty()) {
            if (!reserve())
                return false;
            QString failed;
            // Its pieces and its join each report their own time: each fills its share of
            // the whole export, so the progress rises steadily to 100% at the join's end.
            ClipEnv smartEnv = AEnv;
            smartEnv.onProgress = [&](const FFmpegProgress& AProgress) {
                meter.onProgress(AProgress);
            };
            // A run's last report falls a frame short of its end: each step begins by
            // completing the one before.
            auto onStep = [&](const CutStep& AStep) {
                meter.finishRun();
                meter.begin(AStep.label, AStep.baseMs, AStep.shareMs, AStep.runMs);
            };
            if (RunSmartCut(ffmpeg, ARequest.inFile, *index, ranges, joined, smartEnv, failed,
                            keptMs, onStep)) {
                meter.finishRun();
                return complete();
            }
            // The copies below show their progress afresh.
            meter.restart();
            // A join stopped or failed part way leaves a partial output: not the user's file
            // (that one is only replaced once complete), so it goes.
            if (!reserved)
                QFile::remove(joined);
            if (AEnv.stop && AEnv.stop->requested()) {
                release();
                AView.setStatus(QStringLiteral("Export stopped"));
                return false;
            }
            // Back to an unwritten reservation for the copies below.
            if (reserved)
                QFile::resize(joined, 0);
            AView.setStatus(
                QStringLiteral("Exact cut failed (%1); cutting at keyframes").arg(failed));
        } else {
            AView.setStatus(
                QStringLiteral("Exact cut not possible (%1); cutting at keyframes").arg(why));
        }
        AView.processMessages();
    }

    // A copy seeking after the input drops every picture up to the next keyframe (with
    // B-frames, a whole interval more); starting on the keyframe at or before the mark keeps
    // them all.
    auto copyStart = [&](std::int32_t AFrom, std::int64_t* AStartUs) {
        if (!crop.isEmpty() || !index || !index->ok)
            return false;
        const std::int64_t at =
            index->startUs + static_cast<std::int64_t>(AFrom) * 1000000 + index->frameUs() / 2;
        const QVector<std::int64_t> keys = index->keyframeUs();
        auto it = std::upper_bound(keys.begin(), keys.end(), at);
        // Before the first keyframe nothing can be shown: copy from the file's start.
        *AStartUs = it == keys.begin() ? 0 : std::max<std::int64_t>(0, *(it - 1) - index->startUs);
        return true;
    };

    QStringList cuts;
    // A stop leaves nothing of the export behind: no cut, no list, no partial output.
    auto stopped = [&](int AResult, const QString& ACurrent) {
        if (AResult != kRunStopped)
            return false;
        for (const QString& p : cuts)
            QFile::remove(p);
        // The current run's file: a cut, or the output being written.
        QFile::remove(ACurrent);
        QFile::remove(listPath);
        release();
        AView.setStatus(QStringLiteral("Export stopped"));
        return true;
    };
    std::int64_t doneMs = 0;
    for (const KeptRange& r : ranges) {
        const std::int64_t shareMs = 1000LL * ((r.tail ? ARequest.duration : r.to) - r.from);
        meter.begin(QStringLiteral("Cutting"), doneMs, shareMs);
        doneMs += shareMs;
        if (r.tail) {
            const QString path = dir + TailFileName(r.from);
            std::int64_t startUs = 0;
            const Command cmd = copyStart(r.from, &startUs)
                                    ? KeyframeCutCommand(ffmpeg, ARequest.inFile, startUs, -1, path)
                                    : TailCommand(ffmpeg, ARequest.inFile, r.from, crop, path);
            const int result = Run(cmd, AEnv, meter);
            if (stopped(result, path))
                return false;
            if (result != 0) {
                release();
                box(BoxKind::Error, QStringLiteral("Tail segment [%1-END] extraction failed")
                                        .arg(FormatTime(r.from)));
                return false;
            }
            cuts << path;
        } else {
            const QString path = dir + CutFileName(r.from, r.to);
            std::int64_t startUs = 0;
            const Command cmd =
                copyStart(r.from, &startUs)
                    ? KeyframeCutCommand(ffmpeg, ARequest.inFile, startUs, r.to, path)
                    : CutCommand(ffmpeg, ARequest.inFile, r.from, r.to, crop, path);
            const int result = Run(cmd, AEnv, meter);
            if (stopped(result, path))
                return false;
            if (result != 0) {
                release();
                box(BoxKind::Error, QStringLiteral("Segment [%1-%2] extraction failed")
                                        .arg(FormatTime(r.from), FormatTime(r.to)));
                return false;
            }
            cuts << path;
        }
    }
    if (cuts.isEmpty()) {
        release();
        box(BoxKind::Warning, QStringLiteral("No segments left (all deleted?)"));
        return false;
    }

    // The demuxer resolves relative entries against the list's folder, so list full paths.
    QStringList listed;
    for (const QString& c : cuts)
        listed << QFileInfo(c).absoluteFilePath();
    {
        QFile f(listPath);
        const QByteArray text = ConcatListText(listed);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() ||
            !f.flush()) {
            f.remove();
        }
    }
    StripUtf8Bom(listPath);

    if (!reserve())
        return false;
    meter.restart();
    meter.begin(QStringLiteral("Joining"), 0, keptMs);
    const QString tagsFrom = index ? ARequest.inFile : QString();
    if (!crop.isEmpty() && index)
        lost = LostInH264Sentence(*index);
    int rc = Run(JoinCommand(ffmpeg, listPath, joined, false, tagsFrom, index), AEnv, meter);
    if (stopped(rc, joined))
        return false;
    if (rc != 0) {
        AView.setStatus(QStringLiteral("Concatenation failed, retrying with re-encode..."));
        AView.processMessages();
        meter.restart();
        meter.begin(QStringLiteral("Joining (re-encoding)"), 0, keptMs);
        if (index)
            lost = LostInH264Sentence(*index);
        rc = Run(JoinCommand(ffmpeg, listPath, joined, true, tagsFrom, index), AEnv, meter);
        if (stopped(rc, joined))
            return false;
        if (rc != 0) {
            release();
            box(BoxKind::Error,
                QStringLiteral(
                    "Concatenation failed (segment codecs differ? Try crop/re-encode mode)"));
            return false;
        }
    }
    return complete();
}

} // namespace halvora
