#pragma once

#include "ExportPlan.h"

#include <QStringList>

namespace halvora {

// Cuts every kept range into the working folder (copied from the keyframe at or before its
// mark, or re-encoded with the crop), lists the cuts in "list.txt" and joins them by copy, once
// more by re-encoding when that fails.
class KeyframeCopyPlan : public ExportPlan {
public:
    PlanOutcome run(ExportJob& AJob) override;

private:
    PlanOutcome cut(ExportJob& AJob);
    PlanOutcome join(ExportJob& AJob);
    // What a stop leaves: nothing of the export, the current run's file included.
    PlanOutcome stopped(const QString& ACurrent);

    QStringList FCuts;
    QString FListPath;
};

} // namespace halvora
