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

void ConversionFlow::ConvertBatch() {
    const QString root = Trimmed(FView.rootText());
    if (root.isEmpty()) {
        FView.setStatus(QStringLiteral("Please enter root folder path"));
        FView.showMessage(
            BoxKind::Warning,
            QStringLiteral("Please enter root folder path (batch scan all subfolders)"),
            BoxButtons::Ok);
        return;
    }
    if (!QFileInfo(root).isDir()) {
        const QString text = QStringLiteral("Root folder does not exist: ") + root;
        FView.setStatus(text);
        FView.showMessage(BoxKind::Error, text, BoxButtons::Ok);
        return;
    }
    if (FFinder().isEmpty()) {
        FView.setStatus(kFFmpegNotFound);
        FView.showMessage(BoxKind::Error, kFFmpegNotFoundBox, BoxButtons::Ok);
        return;
    }
    QString out = Trimmed(FView.outputText());
    if (out.isEmpty())
        out = root;
    // Every item would fail against a folder that cannot exist: say so once instead.
    if (!ensureFolder(out)) {
        FView.setStatus(QStringLiteral("Cannot create output directory"));
        FView.showMessage(BoxKind::Error,
                          QStringLiteral("Cannot create output directory:\r\n") + out,
                          BoxButtons::Ok);
        return;
    }

    int total = 0;
    for (const QString& name : ListFolder(root))
        if (!FindLocalFile(JoinPath(root, name)).isEmpty())
            ++total;
    if (total == 0) {
        FView.setStatus(QStringLiteral("No subfolder with local.* found"));
        FView.showMessage(BoxKind::Information,
                          QStringLiteral("No subfolder containing local.* files under root"),
                          BoxButtons::Ok);
        return;
    }

    int index = 0;
    int successes = 0;
    QStringList renamed;     // file names of the outputs written under a new name
    QStringList wantedNames; // and the names they would have had
    QStringList leftOut;     // over every item, each kind named once
    QStringList subsLost;    // the folders whose playlist's subtitles were not kept
    int failures = 0;
    bool stopped = false;
    // The bar runs over 100 steps per folder: finished folders plus the current one's share.
    FView.setProgressMax(total * 100);
    for (const QString& name : ListFolder(root)) {
        const QString input = FindLocalFile(JoinPath(root, name));
        if (input.isEmpty())
            continue;
        ++index;
        const QString wanted = JoinPath(out, name + QStringLiteral(".mp4"));
        const QString item = QStringLiteral("Converting %1/%2: %3").arg(index).arg(total).arg(name);
        FView.setStatus(item);
        FBarBase = (index - 1) * 100;
        FView.setProgress(FBarBase);
        // Closed meanwhile: the application is ending, the remaining items are left alone.
        if (FView.closed())
            return;
        if (stopRequested()) {
            stopped = true;
            break;
        }
        if (SameFile(input, wanted)) {
            ++failures; // would overwrite its own input
            continue;
        }
        // Two roots may hold folders of one name: the second gets "name (2).mp4".
        const QString output = ReserveFreeName(wanted);
        if (output.isEmpty()) {
            ++failures;
            continue;
        }
        const DisownAtEnd owned({output});
        QStringList itemLeftOut;
        QString itemSubs;
        const int c = ConvertFileAs(input, output, item, nullptr, &itemLeftOut, {}, &itemSubs);
        if (c != 0)
            DropUnwritten(output);
        if (c == kRunStopped) {
            stopped = true;
            break;
        }
        if (c != 0) {
            ++failures;
            continue;
        }
        ++successes;
        MergeKinds(leftOut, itemLeftOut);
        if (!itemSubs.isEmpty())
            subsLost << name;
        if (output != wanted) {
            wantedNames << FileNameOf(wanted);
            renamed << FileNameOf(output);
        }
    }
    if (stopped) {
        const int skipped = total - successes - failures;
        FView.setStatus(QStringLiteral("Batch stopped: %1 converted, %2 failed, %3 skipped, "
                                       "output: %4")
                            .arg(successes)
                            .arg(failures)
                            .arg(skipped)
                            .arg(out));
        FView.showMessage(BoxKind::Information,
                          QStringLiteral("Batch conversion stopped. %1 converted, %2 failed, %3 "
                                         "skipped\r\nOutput dir: %4")
                              .arg(successes)
                              .arg(failures)
                              .arg(skipped)
                              .arg(out),
                          BoxButtons::Ok);
        return;
    }
    FView.setProgress(FView.progressMax());
    QString status = QStringLiteral("Batch done: %1/%2 succeeded, output: %3")
                         .arg(successes)
                         .arg(total)
                         .arg(out);
    QString box = QStringLiteral("Batch conversion complete! %1/%2 succeeded\r\nOutput dir: %3")
                      .arg(successes)
                      .arg(total)
                      .arg(out);
    if (!renamed.isEmpty()) {
        status += QStringLiteral("; renamed: ") + renamed.join(QStringLiteral(", "));
        box += QStringLiteral("\r\n\r\nSaved under a new name (the name was taken):");
        for (qsizetype i = 0; i < renamed.size(); ++i)
            box += QStringLiteral("\r\n") + wantedNames[i] + QStringLiteral(" -> ") + renamed[i];
    }
    if (!leftOut.isEmpty()) {
        status += QStringLiteral(". ") + LeftOutSentence(leftOut);
        box += QStringLiteral("\r\n\r\n") + LeftOutSentence(leftOut);
    }
    if (!subsLost.isEmpty()) {
        const QString note = (subsLost.size() == 1 ? kPlaylistSubtitlesLost
                                                   : QStringLiteral("The playlists' subtitle "
                                                                    "tracks could not be saved "
                                                                    "and were not kept")) +
                             QStringLiteral(": ") + subsLost.join(QStringLiteral(", "));
        status += QStringLiteral(". ") + note;
        box += QStringLiteral("\r\n\r\n") + note;
    }
    FView.setStatus(status);
    FView.showMessage(BoxKind::Information, box, BoxButtons::Ok);
}
} // namespace halvora
