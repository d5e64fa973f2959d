#include "KeyframeCopyPlan.h"

#include "ClipTime.h"
#include "CutCommands.h"
#include "Process.h"
#include "SourceTags.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace halvora {

namespace {

int Run(const Command& ACmd, ExportJob& AJob) {
    if (AJob.env.onRun)
        AJob.env.onRun(ACmd);
    RunOptions o = AJob.env.exportRunOptions();
    o.onProgress = [&](const FFmpegProgress& AProgress) { AJob.meter.onProgress(AProgress); };
    const int r = RunCommand(ACmd, o);
    return AJob.stopRequested() && r != 0 ? kRunStopped : r;
}

// A copy seeking after the input drops every picture up to the next keyframe (with B-frames,
// a whole interval more); starting on the keyframe at or before the mark keeps them all.
bool CopyStartUs(const ExportJob& AJob, double AFrom, std::int64_t* AStartUs) {
    const MediaIndex* index = AJob.index;
    if (!AJob.crop.isEmpty() || !index || !index->ok)
        return false;
    const std::int64_t at = index->startUs + ToMs(AFrom) * 1000 + index->frameUs() / 2;
    const QVector<std::int64_t> keys = index->keyframeUs();
    auto it = std::upper_bound(keys.begin(), keys.end(), at);
    // Before the first keyframe nothing can be shown: copy from the file's start.
    *AStartUs = it == keys.begin() ? 0 : std::max<std::int64_t>(0, *(it - 1) - index->startUs);
    return true;
}

Command CutOf(const ExportJob& AJob, const KeptRange& ARange, const QString& APath) {
    std::int64_t startUs = 0;
    if (CopyStartUs(AJob, ARange.from, &startUs))
        return KeyframeCutCommand(AJob.ffmpeg, AJob.input, startUs, ARange.tail ? -1 : ARange.to,
                                  APath);
    return ARange.tail
               ? TailCommand(AJob.ffmpeg, AJob.input, ARange.from, AJob.crop, APath)
               : CutCommand(AJob.ffmpeg, AJob.input, ARange.from, ARange.to, AJob.crop, APath);
}

// The demuxer resolves relative entries against the list's folder, so it lists full paths.
void WriteList(const QString& APath, const QStringList& ACuts) {
    QStringList listed;
    for (const QString& c : ACuts)
        listed << QFileInfo(c).absoluteFilePath();
    QFile f(APath);
    const QByteArray text = ConcatListText(listed);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() ||
        !f.flush())
        f.remove();
    f.close();
    StripUtf8Bom(APath);
}

} // namespace

PlanOutcome KeyframeCopyPlan::run(ExportJob& AJob) {
    FCuts.clear();
    FListPath = AJob.dir + QStringLiteral("list.txt");
    PlanOutcome outcome = cut(AJob);
    if (outcome.result != PlanResult::Complete)
        return outcome;
    if (FCuts.isEmpty())
        return {PlanResult::NoSegments, {}, {}, {}};
    WriteList(FListPath, FCuts);
    QString err;
    if (!AJob.target.reserve(&err))
        return {PlanResult::CannotReserve, err, {}, {}};
    return join(AJob);
}

PlanOutcome KeyframeCopyPlan::cut(ExportJob& AJob) {
    std::int64_t doneMs = 0;
    for (const KeptRange& r : AJob.ranges) {
        const std::int64_t shareMs = ToMs((r.tail ? AJob.duration : r.to) - r.from);
        AJob.meter.begin(QStringLiteral("Cutting"), doneMs, shareMs);
        doneMs += shareMs;
        const QString path = AJob.dir + (r.tail ? TailFileName(r.from) : CutFileName(r.from, r.to));
        const int result = Run(CutOf(AJob, r, path), AJob);
        if (result == kRunStopped)
            return stopped(path);
        if (result != 0)
            return {PlanResult::CutFailed, {}, r, {}};
        FCuts << path;
    }
    return {};
}

PlanOutcome KeyframeCopyPlan::join(ExportJob& AJob) {
    const QString& out = AJob.target.writing();
    const QString tagsFrom = AJob.index ? AJob.input : QString();
    // The picture is H.264 when the cuts were re-encoded (a crop) or the join re-encodes.
    bool reencoded = !AJob.crop.isEmpty();
    AJob.meter.restart();
    AJob.meter.begin(QStringLiteral("Joining"), 0, AJob.keptMs);
    int rc = Run(JoinCommand(AJob.ffmpeg, FListPath, out, false, tagsFrom, AJob.index), AJob);
    if (rc == kRunStopped)
        return stopped(out);
    if (rc != 0) {
        AJob.view.setStatus(QStringLiteral("Concatenation failed, retrying with re-encode..."));
        AJob.meter.restart();
        AJob.meter.begin(QStringLiteral("Joining (re-encoding)"), 0, AJob.keptMs);
        reencoded = true;
        rc = Run(JoinCommand(AJob.ffmpeg, FListPath, out, true, tagsFrom, AJob.index), AJob);
        if (rc == kRunStopped)
            return stopped(out);
        if (rc != 0)
            return {PlanResult::JoinFailed, {}, {}, {}};
    }
    const QString lost = reencoded && AJob.index ? LostInH264Sentence(*AJob.index) : QString();
    return {PlanResult::Complete, {}, {}, lost};
}

PlanOutcome KeyframeCopyPlan::stopped(const QString& ACurrent) {
    for (const QString& p : FCuts)
        QFile::remove(p);
    QFile::remove(ACurrent);
    QFile::remove(FListPath);
    return {PlanResult::Stopped, {}, {}, {}};
}

} // namespace halvora
