#include "ClipEditor.h"

#include "AppPaths.h"
#include "ClipOutputNames.h"
#include "ClipTime.h"
#include "MediaProbe.h"
#include "VLCPlayer.h"
#include "VideoOpening.h"

#include <QFileInfo>
#include <algorithm>

namespace halvora {

namespace {

// The window as the export on the worker sees it: the status is queued, boxes wait for their
// answer; once the window is gone, boxes give Closed.
class GatedExportView : public ExportView {
public:
    GatedExportView(ExportView& AWindow, std::shared_ptr<WindowGate> AGate)
        : FWindow(AWindow), FGate(std::move(AGate)) {}
    void setStatus(const QString& AText) override {
        // The window, not this view (it ends with the worker), receives the queued text.
        ExportView* window = &FWindow;
        FGate->Queue([window, AText] { window->setStatus(AText); });
    }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        BoxAnswer answer = BoxAnswer::Closed;
        FGate->RunAndWait([&] { answer = FWindow.message(AKind, AText, AButtons); });
        return answer;
    }

private:
    ExportView& FWindow;
    std::shared_ptr<WindowGate> FGate;
};

} // namespace

namespace {

// The editor's environment for a job on a worker, stopped through the job's own token.
ClipEnv JobEnv(const ClipEnv& AEnv, const WorkerJob::Context& AContext) {
    ClipEnv env = AEnv;
    env.stop = AContext.stop;
    return env;
}

} // namespace

ClipEditor::ClipEditor(ClipView& AView, QObject* AParent)
    : QObject(AParent), FView(AView), FTimer(FPreview.timer()),
      FPlayerFactory([] { return std::make_unique<TVLCPlayer>(); }) {
    FTimer.setInterval(500);
    FTimer.stop();
    FTimerPlay.setInterval(500);
    connect(&FTimerPlay, &QTimer::timeout, this, &ClipEditor::PlayTick);
    FPreview.setPositionSource([this] { return FromMs(FPosMs); });
    connect(&FSegments, &SegmentModel::editRefused, this,
            [this](const QString& AWhy) { FView.setStatus(AWhy); });
    connect(&FSegments, &SegmentModel::edited, this,
            [this](const QString& AText) { FView.setStatus(AText); });
    connect(&FSegments, &SegmentModel::segmentsChanged, this, &ClipEditor::SaveCutList);
}

ClipEditor::~ClipEditor() {
    // Nothing the workers hand over runs from now on; they stop at once.
    FExportJob.stopAndWait();
    FLoadJob.stopAndWait();
}

void ClipEditor::UseWorkDir(const QString& ADir) {
    FTempDir = ADir;
    FEnv.workDir = FTempDir;
    FPreview.setEnv(FEnv);
}

void ClipEditor::SetClipEnv(const ClipEnv& AEnv) {
    FEnv = AEnv;
    FEnv.workDir = FTempDir;
    FPreview.setEnv(FEnv);
}

void ClipEditor::ChooseAndOpen() {
    // Only a player that is actually playing is paused for the dialog, and only then resumed:
    // libVLC's pause toggles, so "pausing" a paused player would start it.
    const bool paused = FPlaying && FVLC && FVLC->IsPlaying();
    if (paused)
        FVLC->Pause();
    const QString path =
        FView.openFile(QStringLiteral("Select MP4 file"),
                       QStringLiteral("Video files (*.mp4 *.ts *.mkv);;All files (*)"));
    // The dialog accepts existing files only.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        if (paused && FPlaying && FVLC)
            FVLC->Play();
        return;
    }
    OpenChosenFile(path);
}

void ClipEditor::OpenChosenFile(const QString& APath) {
    FView.setFileText(APath);
    UseWorkDir(MakeClipWorkDir());
    StartLoad(APath, true);
}

void ClipEditor::StartLoad(const QString& Fn, bool APlay) {
    // The export works on the loaded video (a file dropped meanwhile is not opened).
    if (FExportJob.running() || FClosed)
        return;
    // Called directly (not through the open dialog) the working folder still has to exist.
    if (FTempDir.isEmpty())
        UseWorkDir(MakeClipWorkDir());
    FView.SetEditingEnabled(false);
    FInFile.clear();
    FDuration = 0;
    FPosMs = 0;
    FClock = FrameClock();
    FIndex = MediaIndex();
    FView.setKeyframeTicks({});
    FPreview.setVideo(QString());
    FPreview.disarm();
    FView.setStatus(QStringLiteral("Reading ") + QFileInfo(Fn).fileName() + QStringLiteral("..."));
    StopPlayback();
    if (FVLC)
        FVLC->Reset();
    FLoadFile = Fn;
    FView.setLoading(true);
    if (FLoadJob.running()) {
        // The running one ends at once; its results are dropped and this one starts then.
        FLoadJob.requestStop();
        FPendingLoad = PendingLoad{Fn, APlay};
        return;
    }
    BeginLoadJob(Fn, APlay);
}

void ClipEditor::BeginLoadJob(const QString& Fn, bool APlay) {
    FLoadJob.start<OpenedVideo>(
        [env = FEnv, Fn, APlay](const WorkerJob::Context& AContext) {
            OpenedVideo result;
            result.file = Fn;
            result.play = APlay;
            ReadOpenedVideo(result, JobEnv(env, AContext));
            return result;
        },
        [this](const OpenedVideo& AResult) { LoadDone(AResult); });
}

void ClipEditor::LoadDone(const OpenedVideo& AResult) {
    if (FPendingLoad) {
        const PendingLoad next = *FPendingLoad;
        FPendingLoad.reset();
        BeginLoadJob(next.file, next.play);
        return;
    }
    FView.setLoading(false);
    if (FClosed) {
        emit loadFinished();
        return;
    }
    const QString& Fn = AResult.file;
    const QString name = QFileInfo(Fn).fileName();
    if (AResult.stopped) {
        FView.setVideoSizeText(QStringLiteral("Video: -"));
        FView.setAudioTracksText(QStringLiteral("Audio: -"));
        // Named as the user last asked for it (a newer open may have replaced this one).
        FView.setStatus(QStringLiteral("Reading %1 stopped").arg(QFileInfo(FLoadFile).fileName()));
        emit loadFinished();
        return;
    }
    FView.setVideoSizeText(QStringLiteral("Video: ") + AResult.size);
    FDuration = AResult.duration;
    FView.setAudioTracksText(FDuration > 0 ? AudioTracksText(AResult.audio)
                                           : QStringLiteral("Audio: -"));
    if (FDuration <= 0) {
        FView.setStatus(QStringLiteral("Cannot read this file: ") + name);
        FView.message(BoxKind::Error,
                      QStringLiteral("Cannot read this video file (no playable stream?):\r\n") + Fn,
                      BoxButtons::Ok);
        emit loadFinished();
        return;
    }

    UseIndex(Fn, AResult.index);
    FView.setTrackMaximum(FDuration);
    FView.setTrackPosition(0);
    FPosMs = 0;
    FView.setTimeText(QStringLiteral("00:00 / %1").arg(FormatTime(FDuration)));
    FView.setClockText(FormatClock(0));
    FView.setStatus(QStringLiteral("Loaded %1 (duration %2)").arg(name, FormatTime(FDuration)));
    FDefaultOut = DefaultClipOutput(Fn);
    FView.setOutputText(FDefaultOut);
    // The first still comes from the preview's own worker, after any grab still running.
    FPreview.GrabSoon(0);
    // The still frame is the preview whenever a video is loaded and not playing.
    FView.setPreviewVisible(true);
    FView.SetEditingEnabled(true);
    OfferCutList();
    if (AResult.play)
        TogglePlayback();
    emit loadFinished();
}

// The opened video's frames and keyframes: the clock, the ticks, the preview's pictures.
void ClipEditor::UseIndex(const QString& Fn, const MediaIndex& AIndex) {
    FIndex = AIndex;
    FClock = FrameClock(FIndex, VideoLengthMs(FIndex, FDuration));
    FSegments.setLength(FromMs(FClock.endMs()));
    const QVector<double> keyframes = KeyframeSeconds(FIndex);
    FView.setKeyframeTicks(keyframes);
    FInFile = Fn;
    FVideoSize = QFileInfo(Fn).size();
    FPreview.setVideo(Fn);
    FPreview.setKeyframes(keyframes);
}

void ClipEditor::ChooseOutputFolder() {
    const QString dir = FView.pickFolder(QStringLiteral("Select output directory"));
    if (dir.isEmpty())
        return;
    FDefaultOut = EditedClipOutput(dir, FInFile);
    FView.setOutputText(FDefaultOut);
}

void ClipEditor::PositionChanged() {
    if (FInFile.isEmpty() || FSeeking)
        return;
    // The arrow keys and the mouse move by whole seconds, as they always have.
    if (!FSyncing)
        FPosMs = static_cast<std::int64_t>(FView.trackPosition()) * 1000;
    ShowPosition(!FSyncing);
}

void ClipEditor::ShowPosition(bool AFollow) {
    const auto secs = static_cast<std::int32_t>(FPosMs / 1000);
    FView.setTimeText(QStringLiteral("%1 / %2").arg(FormatTime(secs), FormatTime(FDuration)));
    FView.setClockText(FormatClock(FPosMs));
    if (!AFollow)
        return;
    if (FPlaying) {
        if (FVLC && FVLC->IsOpen())
            FVLC->SetTime(FPosMs);
    } else {
        FPreview.Follow(FromMs(FPosMs));
    }
}

void ClipEditor::SeekMs(std::int64_t AMs) {
    if (FInFile.isEmpty())
        return;
    FPosMs = FClock.frameAt(std::clamp<std::int64_t>(AMs, 0, FClock.endMs()));
    {
        FSeeking = true;
        const auto secs = static_cast<int>(FPosMs / 1000);
        FView.setTrackPosition(secs);
        FSeeking = false;
    }
    ShowPosition(true);
}

void ClipEditor::StepFrames(int ACount) {
    if (!FInFile.isEmpty())
        SeekMs(FClock.step(FPosMs, ACount));
}

void ClipEditor::StepSeconds(int ASeconds) {
    SeekMs(FPosMs + static_cast<std::int64_t>(ASeconds) * 1000);
}

void ClipEditor::JumpKeyframe(int ADirection) {
    if (!FInFile.isEmpty())
        SeekMs(FClock.keyframe(FPosMs, ADirection));
}

void ClipEditor::SeekToText(const QString& AText) {
    if (FInFile.isEmpty())
        return;
    std::int64_t ms = 0;
    if (!ParseClock(AText, &ms)) {
        FView.setStatus(
            QStringLiteral("Cannot read \"%1\" as a time: type hh:mm:ss.mmm").arg(AText.trimmed()));
        FView.setClockText(FormatClock(FPosMs));
        return;
    }
    if (ms > FClock.endMs())
        FView.setStatus(QStringLiteral("%1 is after the end of the video (%2)")
                            .arg(FormatClock(ms), FormatClock(FClock.endMs())));
    SeekMs(ms);
}

void ClipEditor::Undo() {
    const QString text = FSegments.undo();
    FView.setStatus(text.isEmpty() ? QStringLiteral("Nothing to undo") : text);
}

void ClipEditor::Redo() {
    const QString text = FSegments.redo();
    FView.setStatus(text.isEmpty() ? QStringLiteral("Nothing to redo") : text);
}

void ClipEditor::TogglePlayback() {
    if (FClosed)
        return;
    if (FInFile.isEmpty()) {
        FView.message(BoxKind::Warning, QStringLiteral("Please open a video first"),
                      BoxButtons::Ok);
        return;
    }
    if (!FVLC) {
        FVLC = FPlayerFactory();
        if (!FVLC->Load()) {
            FView.message(
                BoxKind::Error,
                QStringLiteral("VLC runtime (libvlc.so.5) not found. Please install VLC."),
                BoxButtons::Ok);
            return;
        }
    }
    if (FPlaying) {
        // libVLC takes a new state over asynchronously: the label follows the state the toggle
        // asked for, not a query made at once.
        const bool wasPlaying = FVLC->IsPlaying();
        FVLC->Toggle();
        FView.setPlayText(wasPlaying ? QStringLiteral("Play") : QStringLiteral("Stop"));
        return;
    }
    if (!FVLC->IsOpen()) {
        FView.setPreviewVisible(true);
        if (!FVLC->Open(FView.previewWindow(), FInFile)) {
            FView.message(BoxKind::Error, QStringLiteral("Failed to open video in VLC player"),
                          BoxButtons::Ok);
            return;
        }
    }
    // libVLC ignores a seek until playback has begun, so the seek follows the start.
    FVLC->Play();
    FVLC->SetTime(FPosMs / 1000 < FDuration ? FPosMs : 0);
    FPlaying = true;
    FView.setPlayText(QStringLiteral("Stop"));
    FTimerPlay.start();
}

void ClipEditor::PlayTick() {
    if (!FPlaying || !FVLC || !FVLC->IsOpen())
        return;
    const std::int64_t length = FVLC->GetLength();
    if (length <= 0)
        return;
    const std::int64_t t = FVLC->GetTime();
    const auto secs = static_cast<std::int32_t>(t / 1000);
    {
        // Cleared again however the move ends.
        struct Unsync {
            bool& flag;
            ~Unsync() { flag = false; }
        };
        FSyncing = true;
        const Unsync guard{FSyncing};
        FPosMs = t;
        FView.setTrackPosition(secs);
    }
    ShowPosition(false);
    if (!FVLC->IsPlaying() && t >= length - 800)
        StopPlayback();
}

void ClipEditor::StopPlayback() {
    const bool wasPlaying = FPlaying;
    FTimerPlay.stop();
    FPlaying = false;
    FView.setPlayText(QStringLiteral("Play"));
    // Once libVLC lets go of the panel, the still frame shows again.
    const bool still = !FInFile.isEmpty() && !FClosed;
    FView.setPreviewVisible(still);
    if (FVLC) {
        // Detaching alone would leave the old video playing, heard but not seen.
        if (FVLC->IsOpen())
            FVLC->Stop();
        FVLC->Reset();
    }
    // The still shown is of the second where playback stopped, not the one before it began.
    if (wasPlaying && still)
        FPreview.arm();
}

QString ClipEditor::KeyframeNote(double ASecond) const {
    return IsOnKeyframe(FIndex, ASecond) ? QStringLiteral("on a keyframe")
                                         : QStringLiteral("between keyframes");
}

double ClipEditor::MarkTime() const {
    return FromMs(FClock.frameAt(FPosMs));
}

void ClipEditor::MarkStart() {
    if (FInFile.isEmpty())
        return;
    const double pos = MarkTime();
    QString text = FSegments.markStart(pos);
    // Where copies can start matters to the user: a mark off a keyframe is re-encoded up to it.
    if (FIndex.ok)
        text += QStringLiteral(" - ") + KeyframeNote(pos);
    FView.setStatus(text);
}

void ClipEditor::MarkEnd() {
    if (FInFile.isEmpty())
        return;
    const double start = FSegments.markA();
    const double pos = MarkTime();
    QString text = FSegments.markEnd(pos);
    const bool added = start >= 0 && FSegments.markA() < 0;
    if (FIndex.ok && added)
        text += QStringLiteral(" - start %1, end %2").arg(KeyframeNote(start), KeyframeNote(pos));
    FView.setStatus(text);
}

void ClipEditor::RemoveMarks() {
    const QString text = FSegments.removeSegment(FView.selectedSegment());
    if (!text.isEmpty())
        FView.setStatus(text);
}

void ClipEditor::ClearSegments() {
    FView.setStatus(FSegments.clearAll());
}

void ClipEditor::StartExport() {
    if (FExportJob.running() || FLoadJob.running() || FClosed)
        return;
    ExportRequest req;
    req.inFile = FInFile;
    req.outText = FView.outputText();
    req.freeName = !FDefaultOut.isEmpty() && Trimmed(req.outText) == FDefaultOut;
    req.cropText = FView.cropText();
    req.separateFiles = FView.separateFiles();
    req.rows = FSegments.segments();
    req.duration = FDuration;
    // Playback would compete with the export for the disk and the processor.
    StopPlayback();
    FPreview.disarm();
    FView.setExporting(true);
    // The worker keeps its own copy of the keyframe index: the window's may change meanwhile.
    FExportJob.start<bool>(
        [this, req, env = FEnv, index = FIndex](const WorkerJob::Context& AContext) mutable {
            req.index = &index;
            GatedExportView view(FView, AContext.gate);
            return ExportClip(req, view, JobEnv(env, AContext));
        },
        [this](bool) {
            FView.setExporting(false);
            emit exportFinished();
        });
}

void ClipEditor::StopExport() {
    FExportJob.requestStop();
}

void ClipEditor::StopWork() {
    if (FExportJob.running()) {
        StopExport();
    } else if (FLoadJob.running()) {
        FPendingLoad.reset();
        FLoadJob.requestStop();
    }
}

void ClipEditor::WindowClosing() {
    FClosed = true;
    // An opening still running ends now; the window going away waits for it (no child left).
    FPendingLoad.reset();
    FLoadJob.requestStop();
    StopPlayback();
    FPreview.disarm();
    FVLC.reset();
}

} // namespace halvora
