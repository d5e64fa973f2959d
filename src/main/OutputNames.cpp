#include "OutputNames.h"

#include "AppPaths.h"
#include "Links.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>

namespace halvora {

namespace {

const QString kSep = QStringLiteral("/");

} // namespace

QString FileNameOf(const QString& APath) {
    return APath.mid(APath.lastIndexOf(QLatin1Char('/')) + 1);
}

QString ExtensionOf(const QString& AName) {
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : AName.mid(dot);
}

QString ReplaceExtension(const QString& AName, const QString& AExt) {
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? AName : AName.left(dot)) + AExt;
}

QStringList ListFolder(const QString& ADir) {
    QStringList names;
    QDirIterator it(ADir, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        names << it.fileName();
    }
    return names;
}

QString DocumentsDir() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = qEnvironmentVariable("HOME");
    if (dir.isEmpty())
        dir = AppDir();
    return dir;
}

QString FindLocalFile(const QString& ADir) {
    const QString dir = ADir.endsWith(kSep) ? ADir : ADir + kSep;
    const QFileInfo m3u8(dir + QStringLiteral("local.m3u8"));
    if (m3u8.exists() && !m3u8.isDir())
        return m3u8.filePath();
    QDirIterator it(dir, {QStringLiteral("local.*")},
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot |
                        QDir::CaseSensitive);
    if (!it.hasNext())
        return {};
    it.next();
    if (it.fileInfo().isDir())
        return {};
    return dir + it.fileName();
}

QString OutputName(const QString& AInput) {
    if (IsUrl(AInput))
        return QStringLiteral("output.mp4");
    const QString name = ReplaceExtension(FileNameOf(AInput), QStringLiteral(".mp4"));
    return name == QLatin1String(".mp4") ? QStringLiteral("output.mp4") : name;
}

QString JoinPath(const QString& ADir, const QString& AName) {
    return ADir.endsWith(kSep) ? ADir + AName : ADir + kSep + AName;
}

} // namespace halvora
