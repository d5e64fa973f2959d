#include "ConversionMessages.h"

#include "StreamList.h"

namespace halvora {

QString SubtitlesNote(const QString& ASentence, const QStringList& ALost, qsizetype AKept,
                      bool AAllLost) {
    if (AAllLost || (!ALost.isEmpty() && AKept == 0))
        return ASentence;
    return ALost.isEmpty() ? QString() : ASentence + QStringLiteral(": ") + ALost.join(u", ");
}

Notice NoInputNotice() {
    return {QStringLiteral("Please enter M3U8 URL"),
            QStringLiteral("Please enter M3U8 URL (local file or http link)")};
}

Notice OutputFolderQuestion(const QString& ADocuments) {
    return {QString(),
            QStringLiteral("The output folder is empty.\r\n\r\nYes    - use your Documents "
                           "folder:\r\n         ") +
                ADocuments + QStringLiteral("\r\n") +
                QStringLiteral("No     - choose another folder") + QStringLiteral("\r\n") +
                QStringLiteral("Cancel - stop")};
}

Notice CannotCreateFolderNotice(const QString& AFolder) {
    return {QStringLiteral("Cannot create output directory"),
            QStringLiteral("Cannot create output directory:\r\n") + AFolder};
}

Notice MissingFolderNotice(const QString& AFolder) {
    return {QStringLiteral("Output directory does not exist"),
            QStringLiteral("Output directory does not exist:\r\n") + AFolder};
}

Notice CannotCreateOutputNotice(const QString& AError) {
    return {QStringLiteral("Cannot create output file"),
            QStringLiteral("Cannot create output file:\r\n") + AError};
}

Notice SameFileNotice(const QString& AMp4) {
    return {QStringLiteral("Input and output are the same file"),
            QStringLiteral("The MP4 would overwrite its own input:\r\n%1\r\nChoose "
                           "another output folder.")
                .arg(AMp4)};
}

Notice DoneNotice(const QString& AMp4, const QStringList& ANotes) {
    Notice n{QStringLiteral("Conversion complete: ") + AMp4,
             QStringLiteral("Conversion complete!\r\n") + AMp4};
    for (const QString& note : ANotes)
        if (!note.isEmpty()) {
            n.status += QStringLiteral(". ") + note;
            n.box += QStringLiteral("\r\n\r\n") + note;
        }
    return n;
}

Notice RecordingDoneNotice(const QString& AAt, const QString& AMp4, const QString& ANote) {
    return {QStringLiteral("Recording stopped at %1. Conversion complete: ").arg(AAt) + AMp4 +
                (ANote.isEmpty() ? QString() : QStringLiteral(". ") + ANote),
            QStringLiteral("Recording stopped at %1.\r\nConversion "
                           "complete!\r\n")
                    .arg(AAt) +
                AMp4 + (ANote.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + ANote)};
}

QString RecordingConversionStoppedStatus(const QString& AAt, const QString& ATs) {
    return QStringLiteral("Recording stopped at %1; conversion stopped. TS "
                          "kept: %2")
        .arg(AAt, ATs);
}

Notice RecordingConversionFailedNotice(const QString& AAt, int ACode, const QString& ATs) {
    return {
        QStringLiteral("Recording stopped at %1; conversion failed (exit=%2)").arg(AAt).arg(ACode),
        QStringLiteral("Recording stopped at %1.\r\nConversion failed "
                       "(exit=%2). TS kept: %3")
            .arg(AAt)
            .arg(ACode)
            .arg(ATs)};
}

QString FetchedKeptSentence(const QString& AWorkDir) {
    return QStringLiteral("The segments fetched so far are kept in %1: click Convert again on "
                          "the same link and folder to fetch only the rest")
        .arg(AWorkDir);
}

Notice DownloadFailedNotice(const ConversionOutcome& AOutcome, int AMissing, int AStallMs,
                            const QString& ATs, bool AKept, const QString& AWorkDir) {
    const QString keptStatus =
        AKept ? QStringLiteral("Partial TS kept") : QStringLiteral("Nothing was saved");
    const QString keptLine = AKept ? QStringLiteral("Partial TS kept (may be playable): ") + ATs
                                   : QStringLiteral("Nothing was saved");
    Notice n;
    if (AOutcome.is(ConversionResult::SegmentsMissing)) {
        n.status = QStringLiteral("Download incomplete: %1 segment(s) missing. %2")
                       .arg(QString::number(AMissing), keptStatus);
        n.box = QStringLiteral("Download incomplete: %1 segment(s) of the playlist could "
                               "not be fetched.\r\n%2")
                    .arg(QString::number(AMissing), keptLine);
    } else if (AOutcome.is(ConversionResult::Stalled)) {
        const QString secs = QString::number((AStallMs + 999) / 1000);
        n.status = QStringLiteral("Download stalled (no data for %1 s). %2").arg(secs, keptStatus);
        n.box = QStringLiteral("Download stalled: nothing arrived for %1 s, so it was "
                               "stopped.\r\n%2")
                    .arg(secs, keptLine);
    } else {
        n.status = QStringLiteral("Download failed (exit=%1). %2")
                       .arg(QString::number(AOutcome.code), keptStatus);
        n.box = QStringLiteral("Download failed (exit=%1).\r\n%2")
                    .arg(QString::number(AOutcome.code), keptLine);
    }
    n.box += AWorkDir.isEmpty()
                 ? QStringLiteral("\r\nFix the network and click Convert again to retry.")
                 : QStringLiteral("\r\n") + FetchedKeptSentence(AWorkDir) + QLatin1Char('.');
    return n;
}

Notice LinkConversionFailedNotice(int ACode, const QString& ATs) {
    return {QStringLiteral("Conversion failed (exit=%1)").arg(ACode),
            QStringLiteral("Conversion failed (exit=%1). TS kept: %2").arg(ACode).arg(ATs)};
}

Notice FileIncompleteNotice(int AMissing, const QString& AMp4) {
    return {QStringLiteral("Conversion incomplete: %1 segment(s) missing").arg(AMissing),
            QStringLiteral("Conversion incomplete: %1 segment(s) of the playlist "
                           "could not be read.\r\nThe MP4 lacks them: %2")
                .arg(AMissing)
                .arg(AMp4)};
}

Notice FileConversionFailedNotice(int ACode) {
    return {QStringLiteral("Conversion failed (exit=%1)").arg(ACode),
            QStringLiteral("Conversion failed (exit=%1). Please check the URL").arg(ACode)};
}

Notice NoRootNotice() {
    return {QStringLiteral("Please enter root folder path"),
            QStringLiteral("Please enter root folder path (batch scan all subfolders)")};
}

Notice NoSavedStreamNotice() {
    return {QStringLiteral("No subfolder with local.* found"),
            QStringLiteral("No subfolder containing local.* files under root")};
}

Notice BatchStoppedNotice(int ASucceeded, int AFailed, int ASkipped, const QString& AOut) {
    return {QStringLiteral("Batch stopped: %1 converted, %2 failed, %3 skipped, "
                           "output: %4")
                .arg(ASucceeded)
                .arg(AFailed)
                .arg(ASkipped)
                .arg(AOut),
            QStringLiteral("Batch conversion stopped. %1 converted, %2 failed, %3 "
                           "skipped\r\nOutput dir: %4")
                .arg(ASucceeded)
                .arg(AFailed)
                .arg(ASkipped)
                .arg(AOut)};
}

Notice BatchDoneNotice(int ASucceeded, int ATotal, const QString& AOut, const QStringList& AWanted,
                       const QStringList& ARenamed, const QStringList& ALeftOut,
                       const QStringList& ASubsLost) {
    Notice n{QStringLiteral("Batch done: %1/%2 succeeded, output: %3")
                 .arg(ASucceeded)
                 .arg(ATotal)
                 .arg(AOut),
             QStringLiteral("Batch conversion complete! %1/%2 succeeded\r\nOutput dir: %3")
                 .arg(ASucceeded)
                 .arg(ATotal)
                 .arg(AOut)};
    if (!ARenamed.isEmpty()) {
        n.status += QStringLiteral("; renamed: ") + ARenamed.join(QStringLiteral(", "));
        n.box += QStringLiteral("\r\n\r\nSaved under a new name (the name was taken):");
        for (qsizetype i = 0; i < ARenamed.size(); ++i)
            n.box += QStringLiteral("\r\n") + AWanted[i] + QStringLiteral(" -> ") + ARenamed[i];
    }
    if (!ALeftOut.isEmpty()) {
        n.status += QStringLiteral(". ") + LeftOutSentence(ALeftOut);
        n.box += QStringLiteral("\r\n\r\n") + LeftOutSentence(ALeftOut);
    }
    if (!ASubsLost.isEmpty()) {
        const QString note = (ASubsLost.size() == 1 ? kPlaylistSubtitlesLost
                                                    : QStringLiteral("The playlists' subtitle "
                                                                     "tracks could not be saved "
                                                                     "and were not kept")) +
                             QStringLiteral(": ") + ASubsLost.join(QStringLiteral(", "));
        n.status += QStringLiteral(". ") + note;
        n.box += QStringLiteral("\r\n\r\n") + note;
    }
    return n;
}

} // namespace halvora
