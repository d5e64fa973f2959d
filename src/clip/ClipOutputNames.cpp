#include "ClipOutputNames.h"

#include <QFileInfo>

namespace halvora {

namespace {

QString CutExtension(const QString& AFileName) {
    const qsizetype dot = AFileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? AFileName : AFileName.left(dot);
}

} // namespace

QString DefaultClipOutput(const QString& AInFile) {
    const qsizetype slash = AInFile.lastIndexOf(QLatin1Char('/'));
    return AInFile.left(slash + 1) + CutExtension(AInFile.mid(slash + 1)) +
           QStringLiteral("cit.mp4");
}

QString EditedClipOutput(const QString& AFolder, const QString& AInFile) {
    QString out = AFolder;
    if (!out.endsWith(QLatin1Char('/')))
        out += QLatin1Char('/');
    return out + CutExtension(QFileInfo(AInFile).fileName()) + QStringLiteral("_edited.mp4");
}

} // namespace halvora
