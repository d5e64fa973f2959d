#include "Conversion.h"

#include "Links.h"
#include "OwnedFiles.h"
#include "StreamFetch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <atomic>

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

ConversionOutcome ConversionFlow::fetchStream(const QString& AFFmpeg, StreamInputs& AIn,
                                              const QString& ASaveTo, int* AMissing,
                                              bool* ASubtitlesLost, FetchPath* APath) {
    *APath = FetchPath::None;
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
    std::atomic<bool> recorderEnded{false};
    StreamFetch fetch(
        rules, dir, [this, &recorderEnded] { return recorderEnded || stopRequested(); },
        [this](const FetchTally& ATally) { FView.setStatus(FetchProgressText(ATally)); });
    QStringList urls{AIn.video};
    if (!AIn.audio.isEmpty())
        urls << AIn.audio;
    StreamFetchResult r;
    if (!fetch.open(urls, &r)) {
        if (!existed)
            QDir(dir).removeRecursively();
        return OutcomeOf(ConversionResult::Done);
    }
    FWorkDir = dir;
    if (r.live) {
        *APath = FetchPath::Recorded;
        // A crash keeps the recording, which holds what this copy would give.
        OwnFile(dir, OwnedKind::WorkFolder);
        LiveCopy copy{fetch, r.playlists, recorderEnded};
        return recordLive(copy, AFFmpeg, AIn, ASaveTo, AMissing, ASubtitlesLost);
    }
    r = fetch.run();
    *APath = FetchPath::Fetched;
    FWorkSegments = r.segments - r.missing;
    AIn.video = r.playlists.value(0);
    if (!AIn.audio.isEmpty())
        AIn.audio = r.playlists.value(1);
    *AMissing = r.missing;
    FWorkResumable = r.kind != StreamFetchResult::Complete;
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

void ConversionFlow::dropWorkFolder() {
    if (!FWorkDir.isEmpty())
        QDir(FWorkDir).removeRecursively();
    FWorkDir.clear();
}

} // namespace halvora
