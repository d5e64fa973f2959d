#pragma once

#include "ExportView.h"
#include "FFmpegProgress.h"

#include <QString>
#include <cstdint>

namespace halvora {

// Progress of the whole export over the total kept time: each run covers its share of it.
class ExportMeter {
public:
    ExportMeter(ExportView& AView, std::int64_t ATotalMs);
    // The next run makes AShareMs of the kept time, after ABaseMs of it are done; it reports
    // times up to ARunMs (when given; else up to its share).
    void begin(const QString& ALabel, std::int64_t ABaseMs, std::int64_t AShareMs,
               std::int64_t ARunMs = -1);
    void onProgress(const FFmpegProgress& AProgress);
    // The current run has ended well: its whole share is done.
    void finishRun();
    // A new pass over the kept time (joining after cutting) starts from nothing, and so does
    // its estimate of the time left.
    void restart();

private:
    ExportView& FView;
    std::int64_t FTotalMs;
    std::int64_t FBaseMs = 0;
    std::int64_t FShareMs = 0;
    std::int64_t FRunMs = 0;
    std::int64_t FShownMs = 0;
    QString FLabel;
    ProgressText FText;
};

} // namespace halvora
