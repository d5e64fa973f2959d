#include "FFmpegLocator.h"

#include "AppPaths.h"

#include <QFile>
#include <sys/stat.h>

namespace halvora {

namespace {

bool ExistsNotFolder(const QString& APath) {
    struct stat st {};
    return ::stat(QFile::encodeName(APath).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace

QStringList FFmpegCandidates(const QString& AAppDir) {
    QStringList c{AAppDir + QStringLiteral("ffmpeg"), QStringLiteral("ffmpeg")};
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (!home.isEmpty())
        c << home + QStringLiteral("/.local/bin/ffmpeg");
    c << QStringLiteral("/usr/local/bin/ffmpeg") << QStringLiteral("/usr/bin/ffmpeg");
    return c;
}

QString FindFFmpegIn(const QString& AAppDir) {
    for (const QString& candidate : FFmpegCandidates(AAppDir))
        if (ExistsNotFolder(candidate))
            return candidate;
    return {};
}

QString FindFFmpeg() {
    return FindFFmpegIn(AppDir());
}

} // namespace halvora
