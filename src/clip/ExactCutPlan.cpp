#include "ExactCutPlan.h"

#include "SmartCut.h"

namespace halvora {

PlanOutcome ExactCutPlan::run(ExportJob& AJob) {
    if (!AJob.index || AJob.ranges.isEmpty())
        return {PlanResult::NotPossible, QStringLiteral("no keyframe index"), {}, {}};
    const QString why = SmartCutUnsupported(*AJob.index);
    if (!why.isEmpty())
        return {PlanResult::NotPossible, why, {}, {}};
    QString err;
    if (!AJob.target.reserve(&err))
        return {PlanResult::CannotReserve, err, {}, {}};
    // Its pieces and its join each report their own time: each fills its share of the whole
    // export, so the progress rises steadily to 100% at the join's end.
    ClipEnv env = AJob.env;
    env.onProgress = [&](const FFmpegProgress& AProgress) { AJob.meter.onProgress(AProgress); };
    // A run's last report falls a frame short of its end: each step begins by completing the
    // one before.
    auto onStep = [&](const CutStep& AStep) {
        AJob.meter.finishRun();
        AJob.meter.begin(AStep.label, AStep.baseMs, AStep.shareMs, AStep.runMs);
    };
    QString failed;
    if (RunSmartCut(AJob.ffmpeg, AJob.input, *AJob.index, AJob.ranges, AJob.target.writing(), env,
                    failed, AJob.keptMs, onStep)) {
        AJob.meter.finishRun();
        return {};
    }
    // The copies that may follow show their progress afresh; a join stopped or failed part way
    // leaves a partial output, which is not the user's file.
    AJob.meter.restart();
    AJob.target.discardPartial();
    if (AJob.stopRequested())
        return {PlanResult::Stopped, {}, {}, {}};
    return {PlanResult::Failed, failed, {}, {}};
}

} // namespace halvora
