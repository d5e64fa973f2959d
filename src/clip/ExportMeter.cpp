#include "ExportMeter.h"

#include <algorithm>

namespace halvora {

ExportMeter::ExportMeter(ExportView& AView, std::int64_t ATotalMs)
    : FView(AView), FTotalMs(ATotalMs) {
    FText.start();
}

void ExportMeter::begin(const QString& ALabel, std::int64_t ABaseMs, std::int64_t AShareMs,
                        std::int64_t ARunMs) {
    FLabel = ALabel;
    FBaseMs = ABaseMs;
    FShareMs = AShareMs;
    FRunMs = ARunMs < 0 ? AShareMs : ARunMs;
}

void ExportMeter::onProgress(const FFmpegProgress& AProgress) {
    if (FTotalMs <= 0)
        return;
    const std::int64_t t = std::clamp<std::int64_t>(AProgress.timeMs(), 0, FRunMs);
    const std::int64_t in = FRunMs > 0 ? t * FShareMs / FRunMs : FShareMs;
    const std::int64_t done = std::max(FShownMs, FBaseMs + in);
    FShownMs = done;
    FView.progressAt(done, FTotalMs);
    FView.setStatus(FText.known(FLabel, done, FTotalMs));
}

void ExportMeter::finishRun() {
    if (FTotalMs <= 0 || FShareMs <= 0 || FShownMs >= FBaseMs + FShareMs)
        return;
    FShownMs = FBaseMs + FShareMs;
    FView.progressAt(FShownMs, FTotalMs);
    FView.setStatus(FText.known(FLabel, FShownMs, FTotalMs));
}

void ExportMeter::restart() {
    FShownMs = 0;
    FText.start();
}

} // namespace halvora
