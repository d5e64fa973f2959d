#include "ClipTime.h"

#include "MediaProbe.h"

#include <QRegularExpression>
#include <cmath>

namespace halvora {

double RoundToMs(double ASeconds) {
    return FromMs(ToMs(ASeconds));
}

std::int64_t ToMs(double ASeconds) {
    return std::llround(ASeconds * 1000.0);
}

QString SecondsArg(double ASeconds) {
    const std::int64_t ms = ToMs(ASeconds);
    if (ms % 1000 == 0)
        return QString::number(ms / 1000);
    QString text = QString::number(std::abs(ms) / 1000) + QLatin1Char('.') +
                   QStringLiteral("%1").arg(std::abs(ms) % 1000, 3, 10, QLatin1Char('0'));
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    return ms < 0 ? QLatin1Char('-') + text : text;
}

QString FormatMarkTime(double ASeconds) {
    const std::int64_t ms = ToMs(ASeconds);
    const QString whole = FormatTime(static_cast<std::int32_t>(ms / 1000));
    if (ms % 1000 == 0)
        return whole;
    return whole + QStringLiteral(".%1").arg(std::abs(ms) % 1000, 3, 10, QLatin1Char('0'));
}

QString FormatClock(std::int64_t AMs) {
    const std::int64_t ms = std::max<std::int64_t>(AMs, 0);
    auto two = [](std::int64_t AValue) {
        return QStringLiteral("%1").arg(AValue, 2, 10, QLatin1Char('0'));
    };
    return QStringLiteral("%1:%2:%3.%4")
        .arg(two(ms / 3600000), two(ms / 60000 % 60), two(ms / 1000 % 60))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

bool ParseClock(const QString& AText, std::int64_t* AMs) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(?:(?:(\\d+):)?(\\d{1,2}):)?(\\d+)(?:\\.(\\d{1,3}))?\\s*$"));
    const QRegularExpressionMatch m = re.match(AText);
    if (!m.hasMatch())
        return false;
    const bool minutes = m.capturedLength(2) > 0;
    const std::int64_t h = m.captured(1).toLongLong();
    const std::int64_t min = m.captured(2).toLongLong();
    const std::int64_t s = m.captured(3).toLongLong();
    // With minutes given, seconds are at most two digits below 60.
    if (minutes && (min >= 60 || s >= 60 || m.capturedLength(3) > 2))
        return false;
    QString frac = m.captured(4);
    while (frac.size() < 3)
        frac += QLatin1Char('0');
    *AMs = ((h * 60 + min) * 60 + s) * 1000 + frac.toLongLong();
    return true;
}

} // namespace halvora
