#include "Conversion.h"

#include "AppPaths.h"
#include "ConversionMessages.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QDir>
#include <QFileInfo>

namespace halvora {

void ConversionFlow::ConvertInput() {
    FJob = {};
    const QString input = Trimmed(FView.inputText());
    if (input.isEmpty()) {
        tell(BoxKind::Warning, NoInputNotice());
        return;
    }
    if (FFinder().isEmpty()) {
        tell(BoxKind::Error, {kFFmpegNotFound, kFFmpegNotFoundBox});
        return;
    }
    const bool url = IsUrl(input);
    const QString out = outputFolder();
    if (out.isEmpty() || !checkOutputFolder(out))
        return;
    const QString chosen = FView.outputName();
    const QString mp4 = JoinPath(out, chosen.isEmpty() ? OutputName(input) : chosen);
    if (url)
        convertLink(input, out, mp4);
    else
        convertLocalFile(input, mp4);
}

QString ConversionFlow::outputFolder() {
    QString out = Trimmed(FView.outputText());
    if (!out.isEmpty())
        return out;
    const QString docs = DocumentsDir();
    const BoxAnswer answer = FView.showMessage(
        BoxKind::Confirmation, OutputFolderQuestion(docs).box, BoxButtons::YesNoCancel);
    if (answer == BoxAnswer::Yes) {
        out = docs;
    } else if (answer == BoxAnswer::No) {
        out = FView.pickFolder(QStringLiteral("Select output directory (download + MP4)"));
        if (out.isEmpty()) {
            FView.setStatus(kNoOutputFolder);
            return {};
        }
    } else {
        FView.setStatus(kNoOutputFolder);
        return {};
    }
    FView.setOutputText(out);
    return out;
}

bool ConversionFlow::checkOutputFolder(const QString& AOut) {
    if (!QFileInfo(AOut).isDir() && !QDir().mkpath(AOut) && !QFileInfo(AOut).isDir()) {
        tell(BoxKind::Error, CannotCreateFolderNotice(AOut));
        return false;
    }
    if (!QFileInfo(AOut).isDir()) {
        tell(BoxKind::Error, MissingFolderNotice(AOut));
        return false;
    }
    return true;
}

void ConversionFlow::convertLocalFile(const QString& AInput, const QString& AMp4) {
    // ffmpeg would truncate its own input before reading it.
    if (SameFile(AInput, AMp4)) {
        tell(BoxKind::Error, SameFileNotice(AMp4));
        return;
    }
    FView.setStatus(QStringLiteral("Converting..."));
    FView.setProgressMax(100);
    FBarBase = 0;
    if (FView.closed())
        return;
    const QString mp4 = reserveOutputs({AMp4}).value(0);
    if (mp4.isEmpty())
        return;
    const DisownAtEnd owned({mp4});
    int missing = 0;
    QStringList leftOut;
    QString subtitlesNote;
    const ConversionOutcome c = ConvertFile(AInput, mp4, &missing, &leftOut, &subtitlesNote);
    if (!c.done())
        DropUnwritten(mp4);
    if (c.is(ConversionResult::Stopped)) {
        FJob.end = JobEnd::Stopped;
        FView.setProgress(0);
        FView.setStatus(QStringLiteral("Conversion stopped"));
        return;
    }
    FView.setProgress(100);
    if (c.done()) {
        FJob = {JobEnd::Done, {mp4}, {}};
        tell(BoxKind::Information, DoneNotice(mp4, {LeftOutSentence(leftOut), subtitlesNote}));
    } else if (c.is(ConversionResult::SegmentsMissing)) {
        FJob = {JobEnd::DownloadIncomplete, {}, mp4};
        tell(BoxKind::Error, FileIncompleteNotice(missing, mp4));
    } else {
        tell(BoxKind::Error, FileConversionFailedNotice(c.code));
    }
}

} // namespace halvora
