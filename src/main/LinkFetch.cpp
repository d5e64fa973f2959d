#include "Conversion.h"

#include "Links.h"
#include "OwnedFiles.h"
#include "StreamFetch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace halvora {

namespace {

// Beside the output, named after the media playlists it copies: the same link (and quality)
// into the same folder finds it again, whatever number the outputs of that run get.
QString WorkFolderFor(const QString& ASaveTo, const StreamInputs& AIn) {
    const QByteArray id = (AIn.video + QLatin1Char('\n') + AIn.audio).toUtf8();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex().left(8));
    const QString base = QFileInfo(ASaveTo).completeBaseName().section(QStringLiteral(" ("), 0, 0);
    return JoinPath(QFileInfo(ASaveTo).absolutePath(),
                    QStringLiteral("%1.%2.parts").arg(base, hash));
}

} // namespace

ConversionOutcome ConversionFlow::fetchStream(StreamInputs& AIn, const QString& ASaveTo,
                                              int* AMissing, bool* AFetched) {
    *AFetched = false;
    *AMissing = 0;
    if (!IsUrl(AIn.video) || (!AIn.audio.isEmpty() && !IsUrl(AIn.audio)))
        return OutcomeOf(ConversionResult::Done);
    const QString dir = WorkFolderFor(ASaveTo, AIn);
    const bool existed = QFileInfo::exists(dir);
    if (!QDir().mkpath(dir))
        return OutcomeOf(ConversionResult::Done); // ffmpeg reads the link as it always could
    // A crash keeps the folder for the next Convert; only its unfinished files go.
    OwnFile(dir, OwnedKind::ResumableFolder);
    const DisownAtEnd owned({dir});
    FetchRules rules = FFetchRules;
    rules.headers = FHeaders;
    StreamFetch fetch(
        rules, dir, [this] { return stopRequested(); },
        [this](const FetchTally& ATally) { showFetchProgress(ATally); });
    QStringList urls{AIn.video};
    if (!AIn.audio.isEmpty())
        urls << AIn.audio;
    const StreamFetchResult r = fetch.run(urls);
    if (r.kind == StreamFetchResult::NotFetched) {
        if (!existed)
            QDir(dir).removeRecursively();
        return OutcomeOf(ConversionResult::Done);
    }
    *AFetched = true;
    FWorkDir = dir;
    FWorkSegments = r.segments - r.missing;
    AIn.video = r.playlists.value(0);
    if (!AIn.audio.isEmpty())
        AIn.audio = r.playlists.value(1);
    *AMissing = r.missing;
    FWorkResumable = !r.live && r.kind != StreamFetchResult::Complete;
    if (r.kind == StreamFetchResult::Stopped)
        return OutcomeOf(ConversionResult::Stopped);
    return OutcomeOf(r.kind == StreamFetchResult::Complete ? ConversionResult::Done
                                                           : ConversionResult::SegmentsMissing);
}

// What ffmpeg made of the fetched copy, with what the fetch could not bring.
ConversionOutcome ConversionFlow::afterFetch(const ConversionOutcome& AFetch,
                                             const ConversionOutcome& ASaved, int AFetchMissing,
                                             int* AMissing) {
    if (AMissing)
        *AMissing += AFetchMissing;
    if (AFetch.is(ConversionResult::Stopped) && (ASaved.done() || FWorkSegments == 0))
        return AFetch; // what was received is converted as a recording
    if (!ASaved.done())
        return ASaved;
    return AFetch;
}

void ConversionFlow::showFetchProgress(const FetchTally& ATally) {
    if (!ATally.live) {
        FView.setStatus(FetchProgressText(ATally));
        return;
    }
    FLastMs = ATally.recordedMs; // where a stop says the recording ended
    FView.setStatus(ProgressText::recording(ATally.recordedMs, ATally.liveBytes));
}

void ConversionFlow::dropWorkFolder() {
    if (!FWorkDir.isEmpty())
        QDir(FWorkDir).removeRecursively();
    FWorkDir.clear();
}

} // namespace halvora
