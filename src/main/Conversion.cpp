#include "Conversion.h"

#include "AppPaths.h"
#include "ConversionMessages.h"
#include "FFmpegLocator.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QDir>
#include <QFileInfo>

namespace halvora {

ConversionFlow::ConversionFlow(ConvertView& AView, ProcessRunner ARunner, FFmpegFinder AFinder,
                               ProcessRunner AProbeRunner)
    : FView(AView), FRunner(std::move(ARunner)), FFinder(std::move(AFinder)),
      FProbeRunner(std::move(AProbeRunner)) {
    const ProcessRunner direct = [](const Command& ACmd, const RunOptions& AOptions) {
        return RunCommand(ACmd, AOptions);
    };
    if (!FRunner)
        FRunner = direct;
    if (!FProbeRunner)
        FProbeRunner = direct;
    if (!FFinder)
        FFinder = [] { return FindFFmpeg(); };
    // Stop ends a transfer of a playlist or subtitle segment too.
    FFetch = [this](const QString& AUrlOrPath) {
        return FetchPlaylist(
            AUrlOrPath, [this] { return stopRequested(); }, FHeaders);
    };
}

void ConversionFlow::RequestStop() {
    std::lock_guard<std::mutex> g(FStopLock);
    FStop->request();
}

void ConversionFlow::ResetStop() {
    std::lock_guard<std::mutex> g(FStopLock);
    FStop = std::make_shared<StopToken>();
}

bool ConversionFlow::stopRequested() const {
    return stopToken()->requested();
}

std::shared_ptr<StopToken> ConversionFlow::stopToken() const {
    std::lock_guard<std::mutex> g(FStopLock);
    return FStop;
}

void ConversionFlow::report(const QString& ALabel, const FFmpegProgress& AProgress,
                            const ProgressText& AText) {
    FLastMs = std::max<std::int64_t>(AProgress.timeMs(), 0);
    FView.progressAt(FLastMs, AProgress.durationMs());
    if (AProgress.durationMs() > 0) {
        FView.setStatus(AText.known(ALabel, AProgress.timeMs(), AProgress.durationMs()));
        FView.setProgress(FBarBase + AProgress.permille() / 10);
        FBarMoved = true;
    } else {
        FView.setStatus(ProgressText::recording(AProgress.timeMs(), AProgress.sizeBytes()));
    }
}

void ConversionFlow::tell(BoxKind AKind, const Notice& ANotice) {
    FView.setStatus(ANotice.status);
    FView.showMessage(AKind, ANotice.box, BoxButtons::Ok);
}

QStringList ConversionFlow::reserveOutputs(const QStringList& APaths) {
    QString err;
    const QStringList names = ReserveFreeNames(APaths, &err);
    if (names.isEmpty())
        tell(BoxKind::Error, CannotCreateOutputNotice(err));
    return names;
}

bool ConversionFlow::ensureFolder(const QString& ADir) {
    if (!QFileInfo(ADir).isDir())
        QDir().mkpath(ADir);
    return QFileInfo(ADir).isDir();
}
} // namespace halvora
