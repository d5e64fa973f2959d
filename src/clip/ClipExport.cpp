#include "ClipExport.h"

#include "AppPaths.h"
#include "ClipTime.h"
#include "ExactCutPlan.h"
#include "ExportSteps.h"
#include "KeyframeCopyPlan.h"
#include "MediaProbe.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace halvora {

namespace {

void Box(ExportView& AView, BoxKind AKind, const QString& AText) {
    AView.message(AKind, AText, BoxButtons::Ok);
}

// The output the user named, or empty after telling why it can't be written.
QString CheckedOutput(const ExportRequest& ARequest, ExportView& AView) {
    if (ARequest.inFile.isEmpty()) {
        Box(AView, BoxKind::Warning, QStringLiteral("Please open a video first"));
        return {};
    }
    const QString output = Trimmed(ARequest.outText);
    if (output.isEmpty()) {
        Box(AView, BoxKind::Warning, QStringLiteral("Please specify output file"));
        return {};
    }
    // ffmpeg would truncate the video it is still reading from (-y).
    if (SameFile(ARequest.inFile, output)) {
        AView.setStatus(QStringLiteral("Input and output are the same file"));
        Box(AView, BoxKind::Error,
            QStringLiteral("The export would overwrite the opened video:\r\n") + output +
                QStringLiteral("\r\nChoose another output file."));
        return {};
    }
    return output;
}

} // namespace

bool ReportOutcome(ExportJob& AJob, const PlanOutcome& AOutcome, bool AAnnounce) {
    ExportView& view = AJob.view;
    QString err;
    switch (AOutcome.result) {
    case PlanResult::Complete:
        if (!AJob.target.finish(&err)) {
            Box(view, BoxKind::Error,
                QStringLiteral("Cannot replace output file:\r\n") + AJob.target.result() +
                    QStringLiteral(": ") + err);
            return false;
        }
        if (!AAnnounce)
            return true;
        // What could not be kept is named once, as a conversion names it.
        view.setStatus(
            QStringLiteral("Export complete: ") + AJob.target.result() +
            (AOutcome.lost.isEmpty() ? QString() : QStringLiteral(". ") + AOutcome.lost));
        Box(view, BoxKind::Information,
            QStringLiteral("Export complete!\r\n") + AJob.target.result() +
                (AOutcome.lost.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + AOutcome.lost));
        return true;
    case PlanResult::Stopped:
        AJob.target.release();
        view.setStatus(QStringLiteral("Export stopped"));
        return false;
    case PlanResult::CannotReserve:
        Box(view, BoxKind::Error,
            QStringLiteral("Cannot create output file:\r\n") + AOutcome.detail);
        return false;
    case PlanResult::CutFailed:
        AJob.target.release();
        Box(view, BoxKind::Error,
            AOutcome.range.tail
                ? QStringLiteral("Tail segment [%1-END] extraction failed")
                      .arg(FormatMarkTime(AOutcome.range.from))
                : QStringLiteral("Segment [%1-%2] extraction failed")
                      .arg(FormatMarkTime(AOutcome.range.from), FormatMarkTime(AOutcome.range.to)));
        return false;
    case PlanResult::NoSegments:
        AJob.target.release();
        Box(view, BoxKind::Warning, QStringLiteral("No segments left (all deleted?)"));
        return false;
    case PlanResult::JoinFailed:
    case PlanResult::NotPossible:
    case PlanResult::Failed:
        AJob.target.release();
        Box(view, BoxKind::Error,
            QStringLiteral(
                "Concatenation failed (segment codecs differ? Try crop/re-encode mode)"));
        return false;
    }
    return false;
}

namespace {

// An exact cut where the video allows one; whatever stops it, keyframe copies still lose
// nothing. False when the exact cut settled the export (AOutcome says how).
bool TryExactCut(ExportJob& AJob, PlanOutcome& AOutcome) {
    if (!AJob.crop.isEmpty() || !AJob.index || AJob.ranges.isEmpty())
        return true;
    AOutcome = ExactCutPlan().run(AJob);
    if (AOutcome.result == PlanResult::NotPossible)
        AJob.view.setStatus(QStringLiteral("Exact cut not possible (%1); cutting at keyframes")
                                .arg(AOutcome.detail));
    else if (AOutcome.result == PlanResult::Failed)
        AJob.view.setStatus(
            QStringLiteral("Exact cut failed (%1); cutting at keyframes").arg(AOutcome.detail));
    else
        return false;
    return true;
}

} // namespace

PlanOutcome RunPlans(ExportJob& AJob) {
    PlanOutcome outcome;
    if (!TryExactCut(AJob, outcome))
        return outcome;
    return KeyframeCopyPlan().run(AJob);
}

bool ExportClip(const ExportRequest& ARequest, ExportView& AView, const ClipEnv& AEnv,
                QStringList* AWritten) {
    const QString output = CheckedOutput(ARequest, AView);
    if (output.isEmpty())
        return false;
    if (ARequest.separateFiles)
        return ExportSeparately(ARequest, output, AView, AEnv, AWritten);
    // The user named this file on purpose: ask before anything is written.
    const bool replacing = !ARequest.freeName && QFileInfo::exists(output);
    if (replacing && AView.message(BoxKind::Confirmation,
                                   output + QStringLiteral(" already exists. Replace it?"),
                                   BoxButtons::YesNo) != BoxAnswer::Yes)
        return false;
    const QVector<KeptRange> ranges = KeptRanges(ARequest.rows, ARequest.duration);
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty()) {
        Box(AView, BoxKind::Error, QStringLiteral("ffmpeg not found"));
        return false;
    }
    AView.setStatus(QStringLiteral("Exporting..."));

    std::int64_t keptMs = 0;
    for (const KeptRange& r : ranges)
        keptMs += ToMs((r.tail ? ARequest.duration : r.to) - r.from);
    ExportMeter meter(AView, keptMs);
    ExportTarget target(output, ARequest.freeName, replacing);
    MediaIndex ownIndex;
    const MediaIndex* index = ARequest.index;
    // Also for a crop: the join takes the source's tags from it.
    if (!index && !ranges.isEmpty()) {
        ownIndex = ReadMediaIndex(ARequest.inFile, AEnv);
        index = &ownIndex;
    }
    ExportJob job{ARequest.inFile, ffmpeg, Trimmed(ARequest.cropText),
                  AEnv.dir(),      ranges, ARequest.duration,
                  keptMs,          index,  AEnv,
                  AView,           meter,  target};
    const bool written = ReportOutcome(job, RunPlans(job), true);
    if (written && AWritten)
        *AWritten = QStringList{target.result()};
    return written;
}

} // namespace halvora
