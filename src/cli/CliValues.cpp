#include "CliOptions.h"

#include <QRegularExpression>
#include <cmath>

namespace halvora::cli {

std::int64_t ParseTimeMs(const QString& AText) {
    // hh:mm:ss.fff, mm:ss.fff or seconds, each with an optional fraction.
    static const QRegularExpression kTime(
        QStringLiteral(R"(^(?:(?:(\d+):)?(\d+):)?(\d+)(\.\d+)?$)"));
    const QRegularExpressionMatch m = kTime.match(AText);
    if (!m.hasMatch())
        return -1;
    const bool hasHours = m.capturedLength(1) > 0;
    const bool hasMinutes = m.capturedLength(2) > 0;
    const qint64 hours = m.captured(1).toLongLong();
    const qint64 minutes = m.captured(2).toLongLong();
    const qint64 seconds = m.captured(3).toLongLong();
    if ((hasMinutes && seconds >= 60) || (hasHours && minutes >= 60) || m.capturedLength(3) > 9)
        return -1;
    const double fraction = m.capturedLength(4) > 0 ? m.captured(4).toDouble() : 0.0;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + std::llround(fraction * 1000);
}

bool ParseTimeRange(const QString& AText, TimeRange* ARange) {
    const QStringList parts = AText.split(QLatin1Char('-'));
    if (parts.size() != 2)
        return false;
    const std::int64_t start = ParseTimeMs(parts[0].trimmed());
    const std::int64_t end = ParseTimeMs(parts[1].trimmed());
    if (start < 0 || end <= start)
        return false;
    *ARange = {start, end};
    return true;
}

bool IsCropText(const QString& AText) {
    static const QRegularExpression kCrop(QStringLiteral(R"(^([1-9]\d*):([1-9]\d*):\d+:\d+$)"));
    return kCrop.match(AText).hasMatch();
}

bool IsQualityText(const QString& AText) {
    static const QRegularExpression kSize(QStringLiteral(R"(^[1-9]\d*x[1-9]\d*$)"));
    return AText == QLatin1String("best") || AText == QLatin1String("smallest") ||
           kSize.match(AText).hasMatch();
}

} // namespace halvora::cli
