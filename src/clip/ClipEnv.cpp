#include "ClipEnv.h"

#include "FFmpegLocator.h"

#include <QDir>
#include <QFile>

namespace halvora {

QString ClipWorkDir() {
    QString base = QFile::decodeName(qgetenv("TEMP"));
    if (base.isEmpty())
        base = QDir::tempPath();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/Halvora_clip/");
}

QString MakeClipWorkDir() {
    const QString dir = ClipWorkDir();
    QDir().mkpath(dir);
    return dir;
}

QString ClipEnv::dir() const {
    if (workDir.isEmpty())
        return ClipWorkDir();
    return workDir.endsWith(QLatin1Char('/')) ? workDir : workDir + QLatin1Char('/');
}

QString ClipEnv::ffmpeg() const {
    return findFFmpeg ? findFFmpeg() : FindFFmpeg();
}

RunOptions ClipEnv::exportRunOptions() const {
    RunOptions o;
    o.stallMs = stallMs;
    o.stop = stop;
    o.stopGraceMs = kDiscardStopGraceMs;
    o.onProgress = onProgress;
    return o;
}

} // namespace halvora
