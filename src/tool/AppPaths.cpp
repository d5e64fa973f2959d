#include "AppPaths.h"

#include "halvora_version.h"

#include <QCoreApplication>
#include <QFileInfo>

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

QString FileVersionText() {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HALVORA_VERSION_MAJOR)
        .arg(HALVORA_VERSION_MINOR)
        .arg(HALVORA_VERSION_PATCH)
        .arg(HALVORA_VERSION_TWEAK);
}

} // namespace halvora
