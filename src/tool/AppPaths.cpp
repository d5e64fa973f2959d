#include "AppPaths.h"

#include "halvora_version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace halvora {

QString AppDir() {
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir = QFileInfo(QStringLiteral("/proc/self/exe"))
                  .canonicalFilePath()
                  .section(QLatin1Char('/'), 0, -2);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString Trimmed(const QString& AText) {
    qsizetype b = 0;
    qsizetype e = AText.size();
    while (b < e && AText[b].unicode() <= 0x20)
        ++b;
    while (e > b && AText[e - 1].unicode() <= 0x20)
        --e;
    return AText.mid(b, e - b);
}

bool SameFile(const QString& AA, const QString& AB) {
    const QFileInfo a(AA);
    const QFileInfo b(AB);
    if (QDir::cleanPath(a.absoluteFilePath()) == QDir::cleanPath(b.absoluteFilePath()))
        return true;
    if (!a.exists() || !b.exists())
        return false;
    if (a.canonicalFilePath() == b.canonicalFilePath())
        return true;
    // Two hard links name one file too: writing the output would truncate the input.
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(AA).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(AB).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

QString FileVersionText() {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HALVORA_VERSION_MAJOR)
        .arg(HALVORA_VERSION_MINOR)
        .arg(HALVORA_VERSION_PATCH)
        .arg(HALVORA_VERSION_TWEAK);
}

} // namespace halvora
