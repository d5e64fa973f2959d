#pragma once

#include "ClipEnv.h"
#include "ExportMeter.h"
#include "ExportTarget.h"
#include "ExportView.h"
#include "MediaIndex.h"
#include "SegmentModel.h"

#include <QString>
#include <QVector>
#include <cstdint>

namespace halvora {

// How a plan of an export ended; the export turns each into what the user reads.
enum class PlanResult {
    Complete,
    Stopped,
    NotPossible,   // this plan can't make this video (detail: why); another one may
    Failed,        // a step failed (detail: which); another plan may still make it
    CannotReserve, // detail: the system's reason
    CutFailed,     // the cut of range failed
    NoSegments,
    JoinFailed,
};

struct PlanOutcome {
    PlanResult result = PlanResult::Complete;
    QString detail;
    KeptRange range;
    QString lost; // what the output could not keep, as a sentence
};

// What every plan of one export works with.
struct ExportJob {
    QString input;
    QString ffmpeg;
    QString crop;
    QString dir; // the working folder
    QVector<KeptRange> ranges;
    double duration = 0; // seconds
    std::int64_t keptMs = 0;
    const MediaIndex* index = nullptr; // null when unknown
    const ClipEnv& env;
    ExportView& view;
    ExportMeter& meter;
    ExportTarget& target;

    bool stopRequested() const { return env.stop && env.stop->requested(); }
};

// One way of making the export's video from the kept stretches: an exact cut, or copies from
// the keyframes (re-encoded cuts with a crop) joined.
class ExportPlan {
public:
    virtual ~ExportPlan() = default;
    virtual PlanOutcome run(ExportJob& AJob) = 0;
};

} // namespace halvora
