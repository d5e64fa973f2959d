#include "InputItems.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>

namespace halvora {

namespace {

bool IsWebLink(const QUrl& AUrl) {
    const QString scheme = AUrl.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !AUrl.host().isEmpty();
}

} // namespace

InputChoice ChooseInput(const QList<QUrl>& AItems, InputTarget ATarget,
                        const std::function<bool(const QString&)>& AIsFolder) {
    InputChoice choice;
    if (AItems.isEmpty())
        return choice;
    const QUrl& first = AItems.first();
    const auto isFolder = [&](const QString& APath) {
        return AIsFolder ? AIsFolder(APath) : QFileInfo(APath).isDir();
    };
    if (first.isLocalFile()) {
        const QString path = first.toLocalFile();
        if (path.isEmpty())
            return choice;
        choice.text = path;
        if (isFolder(path))
            choice.action =
                ATarget == InputTarget::ClipWindow ? InputAction::None : InputAction::FillRoot;
        else if (ATarget == InputTarget::ClipWindow)
            choice.action = InputAction::OpenClip;
        else if (ATarget == InputTarget::CommandLine &&
                 path.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive))
            choice.action = InputAction::OpenClip;
        else
            choice.action = InputAction::FillInput;
    } else if (IsWebLink(first) && ATarget != InputTarget::ClipWindow) {
        choice.text = first.toString(QUrl::FullyEncoded);
        choice.action = InputAction::FillInput;
    }
    if (choice.action == InputAction::None)
        choice.text.clear();
    else
        choice.ignored = static_cast<int>(AItems.size() - 1);
    return choice;
}

QList<QUrl> ArgumentItems(const QStringList& AArgs, const QString& ACurrentDir) {
    QList<QUrl> items;
    const QDir dir(ACurrentDir);
    for (const QString& arg : AArgs) {
        const QUrl url(arg, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                              scheme == QLatin1String("file")))
            items << url;
        else
            items << QUrl::fromLocalFile(QDir::cleanPath(dir.absoluteFilePath(arg)));
    }
    return items;
}

QList<QUrl> MimeItems(const QMimeData& AMime) {
    if (AMime.hasUrls())
        return AMime.urls();
    if (!AMime.hasText())
        return {};
    const QString line = AMime.text().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.startsWith(QLatin1Char('/')))
        return {QUrl::fromLocalFile(line)};
    const QUrl url(line, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        return {url};
    return {};
}

QString IgnoredItemsText(int AIgnored) {
    if (AIgnored <= 0)
        return {};
    if (AIgnored == 1)
        return QStringLiteral("Took the first of 2 items; the other was ignored.");
    return QStringLiteral("Took the first of %1 items; the other %2 were ignored.")
        .arg(AIgnored + 1)
        .arg(AIgnored);
}

} // namespace halvora
