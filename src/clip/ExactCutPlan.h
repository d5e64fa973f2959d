#pragma once

#include "ExportPlan.h"

namespace halvora {

// Re-encodes only the pictures between each mark and the keyframe a copy can start on.
class ExactCutPlan : public ExportPlan {
public:
    PlanOutcome run(ExportJob& AJob) override;
};

} // namespace halvora
