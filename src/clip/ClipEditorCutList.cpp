// The clip editor's cut lists: kept beside the video, offered back, exported as CSV.
#include "ClipEditor.h"

#include "ClipTime.h"
#include "CutList.h"

#include <QDir>
#include <QFileInfo>

namespace halvora {

void ClipEditor::SaveCutList() {
    if (FInFile.isEmpty() || FClosed)
        return;
    CutList list;
    list.videoSize = FVideoSize;
    list.videoDuration = FromMs(FClock.endMs());
    list.segments = FSegments.segments();
    QString err;
    // A folder the user can't write to keeps no list; the editing itself goes on.
    if (!WriteCutList(CutListPath(FInFile), list, &err))
        FView.setStatus(QStringLiteral("Cut list not saved: ") + err);
}

void ClipEditor::OfferCutList() {
    const QString path = CutListPath(FInFile);
    CutList list;
    if (!QFileInfo::exists(path) || !ReadCutList(path, &list, nullptr) || list.segments.isEmpty() ||
        list.segments == FSegments.segments())
        return;
    const double length = FromMs(FClock.endMs());
    if (ToMs(list.videoDuration) != ToMs(length)) {
        FView.message(BoxKind::Warning,
                      QStringLiteral("The saved cut list of %1 was made for a video of length %2; "
                                     "this one is %3 long. The list was not applied.")
                          .arg(QFileInfo(FInFile).fileName(), FormatMarkTime(list.videoDuration),
                               FormatMarkTime(length)),
                      BoxButtons::Ok);
        return;
    }
    const qsizetype n = list.segments.size();
    const QString question =
        n == 1 ? QStringLiteral("Restore the 1 marked stretch from the last session?")
               : QStringLiteral("Restore the %1 marked stretches from the last session?").arg(n);
    if (FView.message(BoxKind::Confirmation, question, BoxButtons::YesNo) != BoxAnswer::Yes)
        return;
    FSegments.replaceAll(list.segments, QStringLiteral("Cut list restored"));
    FView.setStatus(QStringLiteral("Restored %1 marked stretch%2 from %3")
                        .arg(n)
                        .arg(n == 1 ? QString() : QStringLiteral("es"))
                        .arg(QFileInfo(path).fileName()));
}

void ClipEditor::ExportListCsv() {
    if (FSegments.segments().isEmpty()) {
        FView.message(BoxKind::Warning, QStringLiteral("There are no delete segments to export"),
                      BoxButtons::Ok);
        return;
    }
    const QFileInfo video(FInFile);
    const QString start =
        FInFile.isEmpty() ? QString() : video.dir().filePath(video.completeBaseName() + ".csv");
    const QString path = FView.saveFile(QStringLiteral("Export list"), start,
                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString err;
    if (!WriteCutListCsv(path, FSegments.segments(), &err)) {
        FView.message(BoxKind::Error,
                      QStringLiteral("Cannot write the list:\r\n") + path + QStringLiteral(": ") +
                          err,
                      BoxButtons::Ok);
        return;
    }
    FView.setStatus(QStringLiteral("List exported: ") + path);
}

} // namespace halvora
