// The export of each kept stretch as a file of its own.
#include "AppPaths.h"
#include "ClipTime.h"
#include "ExportSteps.h"
#include "MediaProbe.h"

#include <QFileInfo>

namespace halvora {

QString PartName(const QString& AOutput, int AN) {
    const QFileInfo fi(AOutput);
    const QString suffix = fi.suffix().isEmpty() ? QStringLiteral("mp4") : fi.suffix();
    return fi.path() + QLatin1Char('/') + fi.completeBaseName() +
           QStringLiteral("-%1.").arg(AN, 2, 10, QLatin1Char('0')) + suffix;
}

bool ExportSeparately(const ExportRequest& ARequest, const QString& AOutput, ExportView& AView,
                      const ClipEnv& AEnv, QStringList* AWritten) {
    const QVector<KeptRange> ranges = KeptRanges(ARequest.rows, ARequest.duration);
    if (ranges.isEmpty()) {
        AView.message(BoxKind::Warning, QStringLiteral("No segments left (all deleted?)"),
                      BoxButtons::Ok);
        return false;
    }
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty()) {
        AView.message(BoxKind::Error, QStringLiteral("ffmpeg not found"), BoxButtons::Ok);
        return false;
    }
    MediaIndex ownIndex;
    const MediaIndex* index = ARequest.index;
    if (!index) {
        ownIndex = ReadMediaIndex(ARequest.inFile, AEnv);
        index = &ownIndex;
    }
    AView.setStatus(QStringLiteral("Exporting..."));
    QStringList written;
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        const KeptRange& r = ranges[i];
        const std::int64_t keptMs = ToMs((r.tail ? ARequest.duration : r.to) - r.from);
        ExportMeter meter(AView, keptMs);
        // Parts never replace a file: each takes the first free name.
        ExportTarget target(PartName(AOutput, static_cast<int>(i) + 1), true, false);
        ExportJob job{ARequest.inFile, ffmpeg, Trimmed(ARequest.cropText),
                      AEnv.dir(),      {r},    ARequest.duration,
                      keptMs,          index,  AEnv,
                      AView,           meter,  target};
        if (!ReportOutcome(job, RunPlans(job), false))
            return false;
        written << target.result();
    }
    AView.setStatus(QStringLiteral("Export complete: ") + written.join(QStringLiteral(", ")));
    AView.message(BoxKind::Information,
                  QStringLiteral("Export complete!\r\n") + written.join(QStringLiteral("\r\n")),
                  BoxButtons::Ok);
    if (AWritten)
        *AWritten = written;
    return true;
}

} // namespace halvora
