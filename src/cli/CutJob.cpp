#include "CliJobs.h"
#include "ClipExport.h"
#include "ClipOutputNames.h"
#include "ClipTime.h"
#include "ConsoleExportView.h"
#include "CutList.h"
#include "ExitCodes.h"
#include "FrameClock.h"
#include "MediaIndex.h"
#include "MediaProbe.h"
#include "StopSignals.h"

#include <QFileInfo>
#include <atomic>

namespace halvora::cli {

namespace {

// The stretches to delete: those typed with --delete, or a saved cut list (--cuts), which must
// still belong to this video. Empty when handed over, else the reason.
QString HandOverStretches(const CliOptions& AOptions, const ClipEnv& AEnv, ExportRequest& ARequest,
                          MediaIndex& AIndex) {
    ARequest.separateFiles = AOptions.separate;
    for (const TimeRange& r : AOptions.deletes)
        ARequest.rows << DeleteSegment{r.startMs / 1000.0, r.endMs / 1000.0};
    if (AOptions.cutsFile.isEmpty())
        return {};
    CutList list;
    QString error;
    if (!ReadCutList(AOptions.cutsFile, &list, &error))
        return AOptions.cutsFile + QStringLiteral(": ") + error;
    // The length as the clip editor saved it: up to the end of the last frame.
    AIndex = ReadMediaIndex(ARequest.inFile, AEnv);
    ARequest.index = &AIndex;
    const std::int64_t lengthMs = VideoLengthMs(AIndex, ARequest.duration);
    // A list saved for a video of another length would delete the wrong stretches.
    if (ToMs(list.videoDuration) != lengthMs)
        return QStringLiteral("%1 was saved for a video of %2, this one is %3 long")
            .arg(AOptions.cutsFile, FormatMarkTime(list.videoDuration),
                 FormatMarkTime(FromMs(lengthMs)));
    ARequest.rows = list.segments;
    return {};
}

} // namespace

int RunCut(const CliOptions& AOptions, ProgressPrinter& APrinter) {
    ExportRequest request;
    request.inFile = AOptions.input;
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
    MediaIndex index;
    const QString refused = HandOverStretches(AOptions, env, request, index);
    if (!refused.isEmpty()) {
        APrinter.message(BoxKind::Error, refused);
        return kExitFailed;
    }
    QStringList written;
    if (ExportClip(request, view, env, &written)) {
        for (const QString& path : written)
            PrintPath(path);
        return kExitDone;
    }
    return signalled ? kExitSignalled : kExitFailed;
}

} // namespace halvora::cli
