#pragma once

#include "ExportPlan.h"
#include "ExportView.h"

namespace halvora {

// The steps ExportClip is made of, shared by its stitched and its separate-file exports.

// The exact cut where the video allows one, else keyframe copies.
PlanOutcome RunPlans(ExportJob& AJob);
// What the user reads of how a plan ended: the one place of these texts. AAnnounce false: a
// completed part only takes its place, the caller tells of the whole. True when it was written.
bool ReportOutcome(ExportJob& AJob, const PlanOutcome& AOutcome, bool AAnnounce);

// "/o/movie.mp4", 3 -> "/o/movie-03.mp4".
QString PartName(const QString& AOutput, int AN);
// Each kept stretch as its own file under a free name (PartName); stops at the first that fails.
// AWritten, when given, receives the files written.
bool ExportSeparately(const ExportRequest& ARequest, const QString& AOutput, ExportView& AView,
                      const ClipEnv& AEnv, QStringList* AWritten = nullptr);

} // namespace halvora
