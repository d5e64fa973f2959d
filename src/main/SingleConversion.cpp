#include "Conversion.h"

#include "AppPaths.h"
#include "ConversionMessages.h"
#include "FFmpegLog.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace halvora {

int ConversionFlow::ConvertLinkTs(const QString& ATs, const QString& AMp4, QStringList* ALeftOut,
                                  QList<SubtitleFile>& ASubs, QStringList* ALost) {
    const QString label = QStringLiteral("Converting ") + FileNameOf(ATs);
    int c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut, ASubs);
    if (c != 0 && c != kRunStopped && !stopRequested() && !ASubs.isEmpty()) {
        // The video matters more than its subtitles.
        for (const SubtitleFile& f : ASubs)
            *ALost << f.name;
        ASubs.clear();
        c = ConvertFileAs(ATs, AMp4, label, nullptr, ALeftOut);
    }
    return c;
}

void ConversionFlow::ConvertInput() {
    const QString input = Trimmed(FView.inputText());
    if (input.isEmpty()) {
        FView.setStatus(QStringLiteral("Please enter M3U8 URL"));
        FView.showMessage(BoxKind::Warning,
                          QStringLiteral("Please enter M3U8 URL (local file or http link)"),
                          BoxButtons::Ok);
        return;
    }
    if (FFinder().isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        FView.showMessage(BoxKind::Error, kFFmpegNotFoundBox, BoxButtons::Ok);
        return;
    }
    const bool url = IsUrl(input);

    QString out = Trimmed(FView.outputText());
    if (out.isEmpty()) {
        const QString docs = DocumentsDir();
        const QString question =
            QStringLiteral("The output folder is empty.\r\n\r\nYes    - use your Documents "
                           "folder:\r\n         ") +
            docs + QStringLiteral("\r\n") + QStringLiteral("No     - choose another folder") +
            QStringLiteral("\r\n") + QStringLiteral("Cancel - stop");
        const BoxAnswer answer =
            FView.showMessage(BoxKind::Confirmation, question, BoxButtons::YesNoCancel);
        if (answer == BoxAnswer::Yes) {
            out = docs;
            FView.setOutputText(out);
        } else if (answer == BoxAnswer::No) {
            out = FView.pickFolder(QStringLiteral("Select output directory (download + MP4)"));
            if (out.isEmpty()) {
                FView.setStatus(QStringLiteral("Please select output directory"));
                return;
            }
            FView.setOutputText(out);
        } else {
            FView.setStatus(QStringLiteral("Please select output directory"));
            return;
        }
    }

    if (!QFileInfo(out).isDir() && !QDir().mkpath(out) && !QFileInfo(out).isDir()) {
        FView.setStatus(QStringLiteral("Cannot create output directory"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Cannot create output directory:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }
    if (!QFileInfo(out).isDir()) {
        FView.setStatus(QStringLiteral("Output directory does not exist"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Output directory does not exist:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }

    const QString name = OutputName(input);
    QString mp4 = JoinPath(out, name);
    // ANotes: sentences about streams that were not kept (empty ones are skipped).
    auto done = [&](const QStringList& ANotes) {
        QString status = QStringLiteral("Conversion complete: ") + mp4;
        QString box = QStringLiteral("Conversion complete!\r\n") + mp4;
        for (const QString& note : ANotes)
            if (!note.isEmpty()) {
                status += QStringLiteral(". ") + note;
                box += QStringLiteral("\r\n\r\n") + note;
            }
        FView.setStatus(status);
        FView.showMessage(BoxKind::Information, box, BoxButtons::Ok);
    };

    if (url) {
        FView.setStatus(QStringLiteral("Downloading stream..."));
        FView.setProgressMax(100);
        FBarBase = 0;
        if (FView.closed())
            return;
        // The TS and its MP4 share one number, so output (2).ts becomes output (2).mp4.
        const QStringList names =
            reserveOutputs({JoinPath(out, ReplaceExtension(name, QStringLiteral(".ts"))), mp4});
        if (names.isEmpty())
            return;
        const QString ts = names[0];
        mp4 = names[1];
        // A run that dies keeps what the TS recorded (a live stream cannot be fetched again).
        OwnFile(ts, OwnedKind::Recording);
        const DisownAtEnd owned({ts, mp4});
        int missing = 0;
        bool subtitlesLost = false;
        QList<HlsRendition> renditions;
        const int d = DownloadStream(input, ts, &missing, &subtitlesLost, &renditions);
        // The subtitle renditions are read once the video is saved, into files that live until
        // the conversion has taken them.
        OwnedTempDir subsDir;
        QStringList subsLost;
        const auto saveSubtitles = [&](qint64 ALimitMs) {
            if (renditions.isEmpty())
                return QList<SubtitleFile>();
            if (!subsDir.isValid()) {
                for (const HlsRendition& r : renditions)
                    subsLost << r.name;
                return QList<SubtitleFile>();
            }
            return SaveSubtitles(renditions, ALimitMs, subsDir.path(), &subsLost, FFetch,
                                 FInputStartPts);
        };
        // Not lost silently, though MP4 is not what stands in the way.
        const auto subtitlesNote = [&](qsizetype AKept) {
            return SubtitlesNote(QStringLiteral("The link's subtitle tracks could not be saved "
                                                "and were not kept"),
                                 subsLost, AKept, subtitlesLost);
        };
        if (FView.closed()) { // the window went while the variant was being chosen
            DropUnwritten(ts);
            DropUnwritten(mp4);
            return;
        }
        // Stop is how a live stream's recording ends: ffmpeg has finished the TS, which is
        // converted as usual (a second stop ends that conversion).
        if (d == kRunStopped || (d == 0 && stopRequested())) {
            const QString at = ClockText(FLastMs);
            if (QFileInfo(ts).size() <= 0) {
                QFile::remove(ts);
                DropUnwritten(mp4);
                FView.setStatus(QStringLiteral("Recording stopped before anything was recorded"));
                return;
            }
            const qint64 recordedMs = FLastMs;
            ResetStop();
            FView.setStatus(QStringLiteral("Recording stopped at %1, converting...").arg(at));
            if (FView.closed())
                return;
            // Only what was recorded: no cue from where the recording stopped.
            QList<SubtitleFile> subs = saveSubtitles(std::max<qint64>(recordedMs, 1));
            QStringList leftOut;
            const int c = ConvertLinkTs(ts, mp4, &leftOut, subs, &subsLost);
            FView.setProgress(100);
            if (c != 0)
                DropUnwritten(mp4);
            // The TS stays: unlike a saved playlist, a live stream cannot be fetched again.
            if (c == 0) {
                QStringList notes{LeftOutSentence(leftOut), subtitlesNote(subs.size())};
                notes.removeAll(QString());
                const QString note = notes.join(QStringLiteral(". "));
                FView.setStatus(
                    QStringLiteral("Recording stopped at %1. Conversion complete: ").arg(at) + mp4 +
                    (note.isEmpty() ? QString() : QStringLiteral(". ") + note));
                FView.showMessage(
                    BoxKind::Information,
                    QStringLiteral("Recording stopped at %1.\r\nConversion "
                                   "complete!\r\n")
                            .arg(at) +
                        mp4 + (note.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + note),
                    BoxButtons::Ok);
            } else if (c == kRunStopped) {
                FView.setStatus(QStringLiteral("Recording stopped at %1; conversion stopped. TS "
                                               "kept: %2")
                                    .arg(at, ts));
            } else {
                FView.setStatus(
                    QStringLiteral("Recording stopped at %1; conversion failed (exit=%2)")
                        .arg(at)
                        .arg(c));
                FView.showMessage(BoxKind::Error,
                                  QStringLiteral("Recording stopped at %1.\r\nConversion failed "
                                                 "(exit=%2). TS kept: %3")
                                      .arg(at)
                                      .arg(c)
                                      .arg(ts),
                                  BoxButtons::Ok);
            }
            return;
        }
        if (d != 0) {
            // What a failed download wrote stays; a reservation it never wrote into does not.
            DropUnwritten(ts);
            DropUnwritten(mp4);
            // The bar went on during a download that then failed: nothing was converted.
            if (FBarMoved)
                FView.setProgress(0);
            const bool kept = QFileInfo(ts).size() > 0;
            const QString keptStatus =
                kept ? QStringLiteral("Partial TS kept") : QStringLiteral("Nothing was saved");
            const QString keptLine =
                kept ? QStringLiteral("Partial TS kept (may be playable): ") + ts
                     : QStringLiteral("Nothing was saved");
            QString status;
            QString text;
            if (d == kSegmentsMissing) {
                status = QStringLiteral("Download incomplete: %1 segment(s) missing. %2")
                             .arg(QString::number(missing), keptStatus);
                text = QStringLiteral("Download incomplete: %1 segment(s) of the playlist could "
                                      "not be fetched.\r\n%2")
                           .arg(QString::number(missing), keptLine);
            } else if (d == kDownloadStalled) {
                const QString secs = QString::number((FStallMs + 999) / 1000);
                status =
                    QStringLiteral("Download stalled (no data for %1 s). %2").arg(secs, keptStatus);
                text = QStringLiteral("Download stalled: nothing arrived for %1 s, so it was "
                                      "stopped.\r\n%2")
                           .arg(secs, keptLine);
            } else {
                status = QStringLiteral("Download failed (exit=%1). %2")
                             .arg(QString::number(d), keptStatus);
                text = QStringLiteral("Download failed (exit=%1).\r\n%2")
                           .arg(QString::number(d), keptLine);
            }
            FView.setStatus(status);
            FView.showMessage(
                BoxKind::Error,
                text + QStringLiteral("\r\nFix the network and click Convert again to retry."),
                BoxButtons::Ok);
            return;
        }
        QList<SubtitleFile> subs = saveSubtitles(0);
        QStringList leftOut;
        const int c = ConvertLinkTs(ts, mp4, &leftOut, subs, &subsLost);
        if (c == 0) {
            QFile::remove(ts);
            done({LeftOutSentence(leftOut), subtitlesNote(subs.size())});
        } else if (c == kRunStopped) {
            FView.setStatus(QStringLiteral("Conversion stopped. TS kept: ") + ts);
        } else {
            DropUnwritten(mp4);
            FView.setStatus(QStringLiteral("Conversion failed (exit=%1)").arg(c));
            FView.showMessage(
                BoxKind::Error,
                QStringLiteral("Conversion failed (exit=%1). TS kept: %2").arg(c).arg(ts),
                BoxButtons::Ok);
        }
        FView.setProgress(100);
        return;
    }

    // ffmpeg would truncate its own input before reading it.
    if (SameFile(input, mp4)) {
        FView.setStatus(QStringLiteral("Input and output are the same file"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("The MP4 would overwrite its own input:\r\n%1\r\nChoose "
                                         "another output folder.")
                              .arg(mp4),
                          BoxButtons::Ok);
        return;
    }
    FView.setStatus(QStringLiteral("Converting..."));
    FView.setProgressMax(100);
    FBarBase = 0;
    if (FView.closed())
        return;
    mp4 = reserveOutputs({mp4}).value(0);
    if (mp4.isEmpty())
        return;
    const DisownAtEnd owned({mp4});
    int missing = 0;
    QStringList leftOut;
    QString subtitlesNote;
    const int c = ConvertFile(input, mp4, &missing, &leftOut, &subtitlesNote);
    if (c != 0)
        DropUnwritten(mp4);
    if (c == kRunStopped) {
        FView.setProgress(0);
        FView.setStatus(QStringLiteral("Conversion stopped"));
        return;
    }
    FView.setProgress(100);
    if (c == 0) {
        done({LeftOutSentence(leftOut), subtitlesNote});
    } else if (c == kSegmentsMissing) {
        FView.setStatus(
            QStringLiteral("Conversion incomplete: %1 segment(s) missing").arg(missing));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Conversion incomplete: %1 segment(s) of the playlist "
                                         "could not be read.\r\nThe MP4 lacks them: %2")
                              .arg(missing)
                              .arg(mp4),
                          BoxButtons::Ok);
    } else {
        FView.setStatus(QStringLiteral("Conversion failed (exit=%1)").arg(c));
        FView.showMessage(
            BoxKind::Error,
            QStringLiteral("Conversion failed (exit=%1). Please check the URL").arg(c),
            BoxButtons::Ok);
    }
}
} // namespace halvora
