#include "CliJobs.h"
#include "ClipExport.h"
#include "ClipOutputNames.h"
#include "ConsoleExportView.h"
#include "ExitCodes.h"
#include "MediaProbe.h"
#include "StopSignals.h"

#include <QFileInfo>
#include <atomic>

namespace halvora::cli {

namespace {

// The hand-over of the command line's stretches to the export, in the one place where the
// export's own units meet them. The export marks whole seconds, so a time with a fraction is
// refused rather than moved; saved cut lists (--cuts) and one file per stretch (--separate)
// are not part of this build. Empty when handed over, else the reason.
QString HandOverStretches(const CliOptions& AOptions, ExportRequest& ARequest) {
    if (!AOptions.cutsFile.isEmpty())
        return QStringLiteral("--cuts: not available in this build");
    if (AOptions.separate)
        return QStringLiteral("--separate: not available in this build");
    for (const TimeRange& r : AOptions.deletes) {
        if (r.startMs % 1000 != 0 || r.endMs % 1000 != 0)
            return QStringLiteral("--delete %1-%2: fractions of a second are not available in "
                                  "this build (the cut works in whole seconds)")
                .arg(r.startMs / 1000.0)
                .arg(r.endMs / 1000.0);
        ARequest.rows << DeleteSegment{static_cast<std::int32_t>(r.startMs / 1000),
                                       static_cast<std::int32_t>(r.endMs / 1000)};
    }
    return {};
}

} // namespace

int RunCut(const CliOptions& AOptions, ProgressPrinter& APrinter) {
    ExportRequest request;
    request.inFile = AOptions.input;
    const QString refused = HandOverStretches(AOptions, request);
    if (!refused.isEmpty()) {
        APrinter.message(BoxKind::Error, refused);
        return kExitUsage;
    }
    request.cropText = AOptions.crop;
    // Absolute, so that the path printed at the end holds wherever the caller reads it.
    request.outText =
        QFileInfo(AOptions.output.isEmpty() ? DefaultClipOutput(AOptions.input) : AOptions.output)
            .absoluteFilePath();
    request.freeName = true; // never over an existing file
    auto stop = std::make_shared<StopToken>();
    std::atomic<bool> signalled{false};
    const StopOnSignal onSignal([&] {
        signalled = true;
        stop->request();
    });
    ClipEnv env;
    env.workDir = MakeClipWorkDir();
    env.stop = stop;
    ConsoleExportView view(APrinter);
    request.duration = ProbeDuration(request.inFile, env);
    if (request.duration <= 0 && !signalled) {
        APrinter.message(BoxKind::Error,
                         QStringLiteral("Cannot read the video: ") + request.inFile);
        return kExitFailed;
    }
    QString written;
    if (ExportClip(request, view, env, &written)) {
        PrintPath(written);
        return kExitDone;
    }
    return signalled ? kExitSignalled : kExitFailed;
}

} // namespace halvora::cli
