#include "FramePreview.h"

#include "ClipTime.h"
#include "JpegImage.h"
#include "Process.h"

#include <QFile>
#include <algorithm>

namespace halvora {

Command FrameGrabCommand(const QString& AFFmpeg, const QString& AInput, double ASec,
                         const QString& AJpegPath) {
    // The seek goes before the input: ffmpeg then jumps to the nearest keyframe instead of
    // decoding everything up to ASec, and still outputs the same frame.
    return Command(AFFmpeg)
        .arg(QStringLiteral("-y"))
        .arg(QStringLiteral("-ss"))
        .arg(SecondsArg(ASec))
        .arg(QStringLiteral("-i"))
        .path(AInput)
        .args({QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-vf"),
               QStringLiteral("scale=480:-1")})
        // One picture under exactly this name: without it the picture writer reads a '%' in
        // the path as a frame-number pattern and writes elsewhere.
        .args({QStringLiteral("-update"), QStringLiteral("1")})
        .path(AJpegPath);
}

Command KeyframeGlimpseCommand(const QString& AFFmpeg, const QString& AInput, double ASec,
                               const QString& AJpegPath) {
    // Without the accurate seek ffmpeg starts at the keyframe before ASec and its first frame
    // is that keyframe: nothing else is decoded.
    return Command(AFFmpeg)
        .args({QStringLiteral("-y"), QStringLiteral("-noaccurate_seek"), QStringLiteral("-ss"),
               SecondsArg(ASec), QStringLiteral("-skip_frame"), QStringLiteral("nokey")})
        .arg(QStringLiteral("-i"))
        .path(AInput)
        .args({QStringLiteral("-an"), QStringLiteral("-sn"), QStringLiteral("-frames:v"),
               QStringLiteral("1"), QStringLiteral("-vf"), QStringLiteral("scale=480:-1"),
               QStringLiteral("-update"), QStringLiteral("1")})
        .path(AJpegPath);
}

QString FrameFileName(double ASec) {
    return QStringLiteral("frame_%1.jpg").arg(SecondsArg(ASec));
}

namespace {

// Runs the grab and reads its picture; a null image when there is none. Any thread.
QImage RunGrab(const Command& ACmd, const QString& APath, int AStallMs,
               std::shared_ptr<const StopToken> AStop) {
    // No time limit: only a grab that neither reports progress nor writes for the stall limit
    // (or one stopped as the window goes) is ended.
    RunOptions o;
    o.stallMs = AStallMs;
    o.watchFile = APath;
    o.stop = std::move(AStop);
    o.stopGraceMs = kDiscardStopGraceMs; // a stopped grab's picture is not shown
    RunCommand(ACmd, o);
    return QFile::exists(APath) ? LoadJpegFile(APath) : QImage();
}

} // namespace

FramePreview::FramePreview(QObject* AParent) : QObject(AParent) {
    FTimer.setInterval(kDebounceMs);
    FTimer.setSingleShot(false);
    connect(&FTimer, &QTimer::timeout, this, &FramePreview::TimerTick);
}

FramePreview::~FramePreview() {
    FGrabJob.stopAndWait();
    FGlimpseJob.stopAndWait();
}

void FramePreview::show(double ASec, QImage AImage) {
    const bool shown = !AImage.isNull();
    if (shown)
        FImage = std::move(AImage);
    emit grabbed(ASec, shown);
    if (shown)
        emit imageChanged(FImage);
}

void FramePreview::startGrab(double ASec) {
    const QString ffmpeg = FEnv.ffmpeg();
    if (ffmpeg.isEmpty())
        return;
    const QString path = FEnv.dir() + FrameFileName(ASec);
    QFile::remove(path);
    const Command cmd = FrameGrabCommand(ffmpeg, FInFile, ASec, path);
    if (FEnv.onRun)
        FEnv.onRun(cmd);
    FExactRequest = ++FRequests;
    FGrabJob.start<QImage>(
        [cmd, path, stall = FEnv.stallMs](const WorkerJob::Context& AContext) {
            return RunGrab(cmd, path, stall, AContext.stop);
        },
        [this, ASec, video = FInFile](const QImage& AImage) { grabDone(ASec, video, AImage); });
}

void FramePreview::grabDone(double ASec, const QString& AVideo, const QImage& AImage) {
    // A picture of a video that is no longer loaded is not shown.
    if (AVideo == FInFile)
        show(ASec, AImage);
    if (FPendingSec && !FInFile.isEmpty()) {
        const double next = *FPendingSec;
        FPendingSec.reset();
        startGrab(next);
    }
}

bool FramePreview::GrabFrame(double ASec) {
    const QString ffmpeg = FEnv.ffmpeg();
    if (ffmpeg.isEmpty())
        return false;
    const QString path = FEnv.dir() + FrameFileName(ASec);
    // Only a picture this run writes may be shown, never one left by an older grab of this
    // second (possibly of another video).
    QFile::remove(path);
    const Command cmd = FrameGrabCommand(ffmpeg, FInFile, ASec, path);
    if (FEnv.onRun)
        FEnv.onRun(cmd);
    QImage img = RunGrab(cmd, path, FEnv.stallMs, nullptr);
    const bool shown = !img.isNull();
    show(ASec, std::move(img));
    return shown;
}

void FramePreview::setVideo(const QString& AInFile) {
    FInFile = AInFile;
    FKeys.clear();
}

void FramePreview::setKeyframes(const QVector<double>& ASecs) {
    FKeys.start(FEnv.ffmpeg(), FInFile, ASecs, FEnv.dir() + QStringLiteral("keys/"), FEnv.stallMs);
}

void FramePreview::Follow(double ASec) {
    arm();
    if (FInFile.isEmpty() || showKeyPicture(ASec))
        return;
    if (FGlimpseJob.running())
        FPendingGlimpse = ASec;
    else
        startGlimpse(ASec);
}

void FramePreview::startGlimpse(double ASec) {
    const QString ffmpeg = FEnv.ffmpeg();
    if (ffmpeg.isEmpty())
        return;
    const QString path = FEnv.dir() + QStringLiteral("glimpse.jpg");
    QFile::remove(path);
    const Command cmd = KeyframeGlimpseCommand(ffmpeg, FInFile, ASec, path);
    const quint64 request = ++FRequests;
    FGlimpseJob.start<QImage>(
        [cmd, path, stall = FEnv.stallMs](const WorkerJob::Context& AContext) {
            // A passing picture leaves no file behind.
            QImage image = RunGrab(cmd, path, stall, AContext.stop);
            QFile::remove(path);
            return image;
        },
        [this, ASec, request, video = FInFile](const QImage& AImage) {
            glimpseDone(ASec, request, video, AImage);
        });
}

bool FramePreview::showKeyPicture(double ASec) {
    const QString path = FKeys.pictureFor(ASec);
    QImage image = path.isEmpty() ? QImage() : LoadJpegFile(path);
    if (image.isNull())
        return false;
    // A quick picture still being made for an earlier position must not cover this one.
    FPendingGlimpse.reset();
    FLastQuickRequest = ++FRequests;
    showQuick(ASec, std::move(image));
    return true;
}

void FramePreview::showQuick(double ASec, QImage AImage) {
    FImage = std::move(AImage);
    emit glimpsed(ASec);
    emit imageChanged(FImage);
}

void FramePreview::glimpseDone(double ASec, quint64 ARequest, const QString& AVideo,
                               const QImage& AImage) {
    if (AVideo == FInFile && ARequest > std::max(FExactRequest, FLastQuickRequest) &&
        !AImage.isNull())
        showQuick(ASec, AImage);
    if (FPendingGlimpse && !FInFile.isEmpty()) {
        const double next = *FPendingGlimpse;
        FPendingGlimpse.reset();
        startGlimpse(next);
    }
}

void FramePreview::arm() {
    FTimer.stop();
    FTimer.start();
}

void FramePreview::TimerTick() {
    FTimer.stop();
    if (FInFile.isEmpty())
        return;
    GrabSoon(FPosition ? FPosition() : 0);
}

void FramePreview::GrabSoon(double ASec) {
    if (FInFile.isEmpty())
        return;
    if (FGrabJob.running())
        FPendingSec = ASec;
    else
        startGrab(ASec);
}

void FramePreview::clearImage() {
    FImage = QImage();
    emit imageChanged(FImage);
}

} // namespace halvora
