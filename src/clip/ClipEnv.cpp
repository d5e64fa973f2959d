#include "ClipEnv.h"

#include "FFmpegLocator.h"
#include "OwnedFiles.h"
#include "RunOwner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

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
    // A folder of this run's own: two programs at once never share its fixed file names, and
    // what a run that died left there is removed by the next start.
    static std::mutex lock;
    const std::lock_guard<std::mutex> g(lock);
    const QString dir =
        ClipWorkDir() + QStringLiteral("run-") + ThisRun().text() + QLatin1Char('/');
    if (!QFileInfo(dir).isDir()) {
        QDir().mkpath(dir);
        OwnFile(dir, OwnedKind::WorkFolder);
    }
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
