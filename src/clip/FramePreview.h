#pragma once

#include "ClipEnv.h"
#include "Command.h"
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
Command FrameGrabCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t ASec,
                         const QString& AJpegPath);

// "frame_%d.jpg" in the working folder.
QString FrameFileName(std::int32_t ASec);

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
    void setVideo(const QString& AInFile) { FInFile = AInFile; }
    const QString& video() const { return FInFile; }
    // Where the timer reads the second to grab (the track bar's position).
    void setPositionSource(std::function<std::int32_t()> ASource) {
        FPosition = std::move(ASource);
    }
    void setInterval(int AMs) { FTimer.setInterval(AMs); }

    // Runs ffmpeg for the frame at ASec of video() and shows it. A failed run or an unreadable
    // picture keeps the previous picture. True when a new picture is shown.
    bool GrabFrame(std::int32_t ASec);
    // Restarts the debounce (disable, then enable): one grab after the interval without a change.
    void arm();
    // Disables the debounce; a grab the timer asked for and that has not started is dropped.
    void disarm() {
        FTimer.stop();
        FPendingSec.reset();
    }
    bool armed() const { return FTimer.isActive(); }
    // The timer's handler: disables the timer, then grabs the position if a video is loaded.
    // The grab runs on a worker (one at a time; a newer position waits for the running one)
    // and its picture is shown when it arrives.
    void TimerTick();
    // Grabs ASec of video() on the worker as the timer does (after a running grab, replacing
    // one that waits); the picture is shown when it arrives.
    void GrabSoon(std::int32_t ASec);
    // A grab started by the timer or GrabSoon is still running.
    bool grabbing() const { return FGrabJob.running(); }

    const QImage& image() const { return FImage; }
    void clearImage();
    QTimer& timer() { return FTimer; }

signals:
    void imageChanged(const QImage& AImage);
    // After every grab that ran ffmpeg: the second and whether a new picture is shown.
    void grabbed(std::int32_t ASec, bool AShown);

private:
    void startGrab(std::int32_t ASec);
    void grabDone(std::int32_t ASec, const QString& AVideo, const QImage& AImage);
    void show(std::int32_t ASec, QImage AImage);

    ClipEnv FEnv;
    QString FInFile;
    std::function<std::int32_t()> FPosition;
    QTimer FTimer;
    QImage FImage;
    // The timer's grabs: the worker reaches this object only through the gate.
    WorkerJob FGrabJob;
    std::optional<std::int32_t> FPendingSec;
};

} // namespace halvora
