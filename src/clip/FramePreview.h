#pragma once

#include "ClipEnv.h"
#include "Command.h"
#include "KeyframePictures.h"
#include "WorkerJob.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace halvora {

// The grab command: one frame at ASec scaled to 480 wide, seeking before the input, written to
// exactly AJpegPath (never read as a numbered-file pattern).
Command FrameGrabCommand(const QString& AFFmpeg, const QString& AInput, double ASec,
                         const QString& AJpegPath);

// The quick picture while the thumb moves: the keyframe at or before ASec, the only frame
// decoded, so it costs about one start of ffmpeg whatever the keyframe interval.
Command KeyframeGlimpseCommand(const QString& AFFmpeg, const QString& AInput, double ASec,
                               const QString& AJpegPath);

// "frame_%d.jpg" in the working folder.
QString FrameFileName(double ASec);

// Still-frame preview of the clip window: grabs, decodes and holds the picture, and owns the
// debounce timer (FTimer). The window shows image() whenever imageChanged is emitted.
class FramePreview : public QObject {
    Q_OBJECT
public:
    static constexpr int kDebounceMs = 500;

    explicit FramePreview(QObject* AParent = nullptr);
    ~FramePreview() override;

    void setEnv(const ClipEnv& AEnv) { FEnv = AEnv; } // working folder etc.
    const ClipEnv& env() const { return FEnv; }
    // The loaded video (FInFile); empty while none is loaded: the timer then grabs nothing.
    void setVideo(const QString& AInFile);
    // The loaded video's keyframes (seconds): their pictures are made in the background and
    // shown while the thumb moves.
    void setKeyframes(const QVector<double>& ASecs);
    const KeyframePictures& keyPictures() const { return FKeys; }
    const QString& video() const { return FInFile; }
    // Where the timer reads the second to grab (the track bar's position).
    void setPositionSource(std::function<double()> ASource) { FPosition = std::move(ASource); }
    void setInterval(int AMs) { FTimer.setInterval(AMs); }

    // Runs ffmpeg for the frame at ASec of video() and shows it. A failed run or an unreadable
    // picture keeps the previous picture. True when a new picture is shown.
    bool GrabFrame(double ASec);
    // Restarts the debounce (disable, then enable): one grab after the interval without a change.
    void arm();
    // The thumb moved to ASec: a quick keyframe picture now (after the one running, replacing
    // one that waits), and the exact frame once the thumb rests (arm).
    void Follow(double ASec);
    // Disables the debounce; a grab the timer asked for and that has not started is dropped.
    void disarm() {
        FTimer.stop();
        FPendingSec.reset();
        FPendingGlimpse.reset();
    }
    bool armed() const { return FTimer.isActive(); }
    // The timer's handler: disables the timer, then grabs the position if a video is loaded.
    // The grab runs on a worker (one at a time; a newer position waits for the running one)
    // and its picture is shown when it arrives.
    void TimerTick();
    // Grabs ASec of video() on the worker as the timer does (after a running grab, replacing
    // one that waits); the picture is shown when it arrives.
    void GrabSoon(double ASec);
    // A grab started by the timer or GrabSoon is still running.
    bool grabbing() const { return FGrabJob.running(); }
    // A quick picture asked for by Follow is still being made.
    bool glimpsing() const { return FGlimpseJob.running(); }

    const QImage& image() const { return FImage; }
    void clearImage();
    QTimer& timer() { return FTimer; }

signals:
    void imageChanged(const QImage& AImage);
    // After every grab that ran ffmpeg: the second and whether a new picture is shown.
    void grabbed(double ASec, bool AShown);
    // A quick keyframe picture for ASec is shown (before the exact frame).
    void glimpsed(double ASec);

private:
    void startGrab(double ASec);
    void grabDone(double ASec, const QString& AVideo, const QImage& AImage);
    void show(double ASec, QImage AImage);
    void startGlimpse(double ASec);
    bool showKeyPicture(double ASec);
    void showQuick(double ASec, QImage AImage); // a quick picture, before the exact frame
    void glimpseDone(double ASec, quint64 ARequest, const QString& AVideo, const QImage& AImage);

    ClipEnv FEnv;
    QString FInFile;
    std::function<double()> FPosition;
    QTimer FTimer;
    QImage FImage;
    // The timer's grabs: the worker reaches this object only through the gate.
    WorkerJob FGrabJob;
    std::optional<double> FPendingSec;
    // The quick pictures have a worker of their own, so they never hold up an exact grab.
    WorkerJob FGlimpseJob;
    std::optional<double> FPendingGlimpse;
    KeyframePictures FKeys;
    // Requests are numbered: a quick picture is shown only when no exact grab was asked for
    // after it, so it never covers the exact frame.
    quint64 FRequests = 0;
    quint64 FExactRequest = 0;
    quint64 FLastQuickRequest = 0; // of the last picture shown from the keyframe pictures
};

} // namespace halvora
