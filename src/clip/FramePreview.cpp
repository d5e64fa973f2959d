#include "FramePreview.h"

#include "JpegImage.h"
#include "Process.h"

#include <QFile>

namespace halvora {

Command FrameGrabCommand(const QString& AFFmpeg, const QString& AInput, std::int32_t ASec,
                         const QString& AJpegPath) {
    // The seek goes before the input: ffmpeg then jumps to the nearest keyframe instead of
    // decoding everything up to ASec, and still outputs the same frame.
    return Command(AFFmpeg)
        .arg(QStringLiteral("-y"))
        .arg(QStringLiteral("-ss"))
        .arg(QString::number(ASec))
        .arg(QStringLiteral("-i"))
        .path(AInput)
        .args({QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-vf"),
               QStringLiteral("scale=480:-1")})
        // One picture under exactly this name: without it the picture writer reads a '%' in
        // the path as a frame-number pattern and writes elsewhere.
        .args({QStringLiteral("-update"), QStringLiteral("1")})
        .path(AJpegPath);
}

QString FrameFileName(std::int32_t ASec) {
    return QStringLiteral("frame_%1.jpg").arg(ASec);
}

FramePreview::FramePreview(QObject* AParent) : QObject(AParent) {
    FTimer.setInterval(kDebounceMs);
    FTimer.setSingleShot(false);
    connect(&FTimer, &QTimer::timeout, this, &FramePreview::TimerTick);
}

bool FramePreview::GrabFrame(std::int32_t ASec) {
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
    RunProcessTimed(cmd, QString(), FEnv.timeoutMs);
    bool shown = false;
    if (QFile::exists(path)) {
        QImage img = LoadJpegFile(path);
        if (!img.isNull()) {
            FImage = std::move(img);
            shown = true;
        }
    }
    emit grabbed(ASec, shown);
    if (shown)
        emit imageChanged(FImage);
    return shown;
}

void FramePreview::arm() {
    FTimer.stop();
    FTimer.start();
}

void FramePreview::TimerTick() {
    FTimer.stop();
    if (FInFile.isEmpty())
        return;
    GrabFrame(FPosition ? FPosition() : 0);
}

void FramePreview::clearImage() {
    FImage = QImage();
    emit imageChanged(FImage);
}

} // namespace halvora
