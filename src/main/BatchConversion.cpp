#include "Conversion.h"

#include "AppPaths.h"
#include "ConversionMessages.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QFileInfo>

namespace halvora {

// What a batch has done so far.
struct ConversionFlow::BatchTally {
    int total = 0;
    int index = 0;
    int successes = 0;
    int failures = 0;
    bool stopped = false;
    QStringList renamed;     // file names of the outputs written under a new name
    QStringList wantedNames; // and the names they would have had
    QStringList leftOut;     // over every item, each kind named once
    QStringList subsLost;    // the folders whose playlist's subtitles were not kept
};

namespace {

int CountSavedStreams(const QString& ARoot) {
    int total = 0;
    for (const QString& name : ListFolder(ARoot))
        if (!FindLocalFile(JoinPath(ARoot, name)).isEmpty())
            ++total;
    return total;
}

} // namespace

void ConversionFlow::ConvertBatch() {
    FJob = {};
    const QString root = Trimmed(FView.rootText());
    if (root.isEmpty()) {
        tell(BoxKind::Warning, NoRootNotice());
        return;
    }
    if (!QFileInfo(root).isDir()) {
        const QString text = QStringLiteral("Root folder does not exist: ") + root;
        tell(BoxKind::Error, {text, text});
        return;
    }
    if (FFinder().isEmpty()) {
        tell(BoxKind::Error, {kFFmpegNotFound, kFFmpegNotFoundBox});
        return;
    }
    QString out = Trimmed(FView.outputText());
    if (out.isEmpty())
        out = root;
    // Every item would fail against a folder that cannot exist: say so once instead.
    if (!ensureFolder(out)) {
        tell(BoxKind::Error, CannotCreateFolderNotice(out));
        return;
    }
    BatchTally tally;
    tally.total = CountSavedStreams(root);
    if (tally.total == 0) {
        tell(BoxKind::Information, NoSavedStreamNotice());
        return;
    }
    // The bar runs over 100 steps per folder: finished folders plus the current one's share.
    FView.setProgressMax(tally.total * 100);
    for (const QString& name : ListFolder(root)) {
        const QString input = FindLocalFile(JoinPath(root, name));
        if (input.isEmpty())
            continue;
        // Closed meanwhile: the application is ending, the remaining items are left alone.
        if (!convertBatchItem(tally, input, name, out))
            return;
        if (tally.stopped)
            break;
    }
    reportBatch(tally, out);
}

bool ConversionFlow::convertBatchItem(BatchTally& ATally, const QString& AInput,
                                      const QString& AName, const QString& AOut) {
    ++ATally.index;
    const QString wanted = JoinPath(AOut, AName + QStringLiteral(".mp4"));
    const QString item =
        QStringLiteral("Converting %1/%2: %3").arg(ATally.index).arg(ATally.total).arg(AName);
    FView.setStatus(item);
    FBarBase = (ATally.index - 1) * 100;
    FView.setProgress(FBarBase);
    if (FView.closed())
        return false;
    if (stopRequested()) {
        ATally.stopped = true;
        return true;
    }
    if (SameFile(AInput, wanted)) {
        ++ATally.failures; // would overwrite its own input
        return true;
    }
    // Two roots may hold folders of one name: the second gets "name (2).mp4".
    const QString output = ReserveFreeName(wanted);
    if (output.isEmpty()) {
        ++ATally.failures;
        return true;
    }
    const DisownAtEnd owned({output});
    QStringList itemLeftOut;
    QString itemSubs;
    const ConversionOutcome c =
        ConvertFileAs(AInput, output, item, nullptr, &itemLeftOut, {}, &itemSubs);
    if (!c.done())
        DropUnwritten(output);
    if (c.is(ConversionResult::Stopped)) {
        ATally.stopped = true;
    } else if (!c.done()) {
        ++ATally.failures;
    } else {
        ++ATally.successes;
        FJob.written << output;
        MergeKinds(ATally.leftOut, itemLeftOut);
        if (!itemSubs.isEmpty())
            ATally.subsLost << AName;
        if (output != wanted) {
            ATally.wantedNames << FileNameOf(wanted);
            ATally.renamed << FileNameOf(output);
        }
    }
    return true;
}

void ConversionFlow::reportBatch(const BatchTally& ATally, const QString& AOut) {
    FJob.end = ATally.stopped        ? JobEnd::Stopped
               : ATally.failures > 0 ? JobEnd::Failed
                                     : JobEnd::Done;
    if (ATally.stopped) {
        const int skipped = ATally.total - ATally.successes - ATally.failures;
        tell(BoxKind::Information,
             BatchStoppedNotice(ATally.successes, ATally.failures, skipped, AOut));
        return;
    }
    FView.setProgress(FView.progressMax());
    tell(BoxKind::Information,
         BatchDoneNotice(ATally.successes, ATally.total, AOut, ATally.wantedNames, ATally.renamed,
                         ATally.leftOut, ATally.subsLost));
}

} // namespace halvora
