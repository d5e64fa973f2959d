#pragma once

#include "ClipEnv.h"
#include "ClipExport.h"
#include "ClipOutputNames.h"
#include "ClipPlayer.h"
#include "FrameClock.h"
#include "FramePreview.h"
#include "MediaIndex.h"
#include "SegmentModel.h"
#include "VideoOpening.h"
#include "WorkerJob.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace halvora {

// What the clip window's logic needs of the window (the status line and boxes come from
// ExportView).
class ClipView : public ExportView {
public:
    // The open dialog ("" when cancelled) and the folder dialog ("" when cancelled).
    virtual QString openFile(const QString& ATitle, const QString& AFilter) = 0;
    virtual QString pickFolder(const QString& ATitle) = 0;
    // The save dialog ("" when cancelled).
    virtual QString saveFile(const QString& ATitle, const QString& AStart, const QString& AFilter) {
        (void)ATitle;
        (void)AStart;
        (void)AFilter;
        return {};
    }
    virtual void setFileText(const QString& AText) = 0; // EdtClip
    virtual int trackPosition() = 0;
    virtual void setTrackMaximum(int AMax) = 0;
    // Raises PositionChanged when the position changes, as a move by the user does.
    virtual void setTrackPosition(int APos) = 0;
    virtual void setTimeText(const QString& AText) = 0; // LblTime
    // The time field (EdtTime), "hh:mm:ss.mmm".
    virtual void setClockText(const QString& AText) { (void)AText; }
    virtual void setVideoSizeText(const QString& AText) = 0;   // LblVideoSize
    virtual void setAudioTracksText(const QString& AText) = 0; // LblAudio
    virtual QString outputText() = 0;                          // EdtOut
    virtual void setOutputText(const QString& AText) = 0;
    virtual QString cropText() = 0; // EdtCrop
    // ChkParts: each kept stretch exported as its own file.
    virtual bool separateFiles() { return false; }
    virtual int selectedSegment() = 0; // -1: no row selected
    virtual void SetEditingEnabled(bool On) = 0;
    virtual void setPreviewVisible(bool AVisible) = 0; // PanelPreview
    // The X11 window the player draws into (the preview panel's native window).
    virtual quintptr previewWindow() = 0;
    virtual void setPlayText(const QString& AText) = 0; // BtnPlay
    // Small ticks under the track bar at the keyframes (seconds from the start; none: empty).
    virtual void setKeyframeTicks(const QVector<double>& ASeconds) = 0;
    // An export runs: nothing that starts work or changes its inputs is available, Stop is.
    virtual void setExporting(bool AOn) { (void)AOn; }
    // A video is being opened on the worker: Stop is available (Open stays so too: a newer
    // open replaces it); editing is off until it has loaded.
    virtual void setLoading(bool AOn) { (void)AOn; }
};

// The clip window's behaviour behind its view: loading, marks, export, still preview and
// playback mode with the 500 ms play timer.
class ClipEditor : public QObject {
    Q_OBJECT
public:
    using PlayerFactory = std::function<std::unique_ptr<ClipPlayer>()>;

    explicit ClipEditor(ClipView& AView, QObject* AParent = nullptr);
    ~ClipEditor() override;

    // How the player is made at the first Play (default: a TVLCPlayer with the standard list).
    void SetPlayerFactory(PlayerFactory AFactory) { FPlayerFactory = std::move(AFactory); }
    // The ffmpeg environment; the working folder is still chosen when a file is opened.
    void SetClipEnv(const ClipEnv& AEnv);

    // Opens Fn: the probes, the keyframe index and the first still run on the worker while the
    // window keeps working; a newer open replaces one still running, whose results are dropped.
    void LoadFile(const QString& Fn) { StartLoad(Fn, false); }
    void ChooseAndOpen();
    // Opens APath as a file chosen in the open dialog is opened (also for a dropped file).
    void OpenChosenFile(const QString& APath);
    void ChooseOutputFolder();
    void TogglePlayback();
    void MarkStart();
    void MarkEnd();
    void RemoveMarks();
    void ClearSegments();
    void StartExport();
    void PositionChanged();
    // Frame-exact moves of the position (milliseconds from the file's start): each lands on a
    // frame, within the file, and moves the time line, the time field and the picture.
    void SeekMs(std::int64_t AMs);
    void StepFrames(int ACount);
    void StepSeconds(int ASeconds);
    void JumpKeyframe(int ADirection);
    void GoToStart() { SeekMs(0); }
    void GoToEnd() { SeekMs(FClock.endMs()); }
    // The time field's Enter: to the frame at the typed time, or a status saying why not.
    void SeekToText(const QString& AText);
    // The list's changes taken back and done again.
    void Undo();
    void Redo();
    // "Export list...": the segments as CSV where the user says.
    void ExportListCsv();
    void PlayTick();
    void StopPlayback();
    void WindowClosing();
    // Ends a running export (also Esc in the window); nothing of it is left behind.
    void StopExport();
    // Stop and Esc: ends the export, or the opening of a video, whichever runs.
    void StopWork();
    // An export runs on the worker.
    bool Exporting() const { return FExportJob.running(); }
    // A video is being opened (LoadFile has not finished yet).
    bool Loading() const { return FLoadJob.running(); }

    const QString& InFile() const { return FInFile; }
    std::int32_t Duration() const { return FDuration; }
    // The position: the frame under the thumb, milliseconds.
    std::int64_t PositionMs() const { return FPosMs; }
    const FrameClock& Clock() const { return FClock; }
    // Keyframes and coding parameters of the loaded video, read once when it was opened.
    const MediaIndex& Index() const { return FIndex; }
    bool Playing() const { return FPlaying; }
    ClipPlayer* Player() const { return FVLC.get(); }
    SegmentModel& Segments() { return FSegments; }
    FramePreview& Preview() { return FPreview; }
    QTimer& PlayTimer() { return FTimerPlay; }

signals:
    // The export on the worker has ended (its boxes have been answered).
    void exportFinished();
    // An opening has ended: loaded, unreadable or stopped (one replaced by a newer open gives
    // none of its own).
    void loadFinished();

public:
    // What the worker read of a video being opened.

private:
    void StartLoad(const QString& Fn, bool APlay);
    void BeginLoadJob(const QString& Fn, bool APlay);
    void LoadDone(const OpenedVideo& AResult);
    void UseIndex(const QString& Fn, const MediaIndex& AIndex);
    void UseWorkDir(const QString& ADir);
    // "on a keyframe" / "between keyframes" for a mark at ASecond.
    QString KeyframeNote(double ASecond) const;
    // The cut list beside the video: written whenever the segments change, offered back when
    // the video is opened again (never applied to a video whose length has changed).
    void SaveCutList();
    void OfferCutList();
    // The time label and field for the position; then the picture or the player follows it.
    void ShowPosition(bool AFollow);
    // The frame under the thumb, as a mark takes it.
    double MarkTime() const;

    ClipView& FView;
    QString FInFile;
    std::int32_t FDuration = 0;
    MediaIndex FIndex;
    QString FTempDir;
    // The output name this editor last put into EdtOut; while the field still holds it, export
    // picks a free name instead of replacing a file of that name.
    QString FDefaultOut;
    bool FPlaying = false;
    bool FSyncing = false;
    // Set while SeekMs moves the track bar: its whole second must not replace the exact position.
    bool FSeeking = false;
    std::int64_t FPosMs = 0;
    std::int64_t FVideoSize = 0;
    FrameClock FClock;
    // Set by WindowClosing: a handler still running when the window closed (the load lets messages
    // through) must not start playback into a window that is going away.
    bool FClosed = false;
    std::unique_ptr<ClipPlayer> FVLC;
    ClipEnv FEnv;
    SegmentModel FSegments;
    FramePreview FPreview; // holds the still picture and the debounce timer FTimer
    QTimer& FTimer;
    QTimer FTimerPlay;
    PlayerFactory FPlayerFactory;
    // The export's worker reaches the view only through this gate, closed first when the
    // editor goes.
    WorkerJob FExportJob;
    // The opening on the worker, one at a time: a newer one waits in FPendingLoad while the
    // running one is stopped, and only the last one's results reach the window.
    WorkerJob FLoadJob;
    QString FLoadFile; // the video last asked for
    struct PendingLoad {
        QString file;
        bool play = false;
    };
    std::optional<PendingLoad> FPendingLoad;
};

} // namespace halvora
