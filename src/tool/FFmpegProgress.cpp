#include "FFmpegProgress.h"

#include <QRegularExpression>
#include <algorithm>

namespace halvora {

namespace {

// "hh:mm:ss.xx" -> ms; -1 when it is not one.
std::int64_t ParseClock(const QString& AText) {
    static const QRegularExpression re(
        QStringLiteral("^(-?)(\\d+):(\\d{2}):(\\d{2})(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = re.match(AText);
    if (!m.hasMatch() || !m.captured(1).isEmpty())
        return -1;
    std::int64_t ms = (m.captured(2).toLongLong() * 3600 + m.captured(3).toLongLong() * 60 +
                       m.captured(4).toLongLong()) *
                      1000;
    const QString frac = m.captured(5);
    if (!frac.isEmpty())
        ms += static_cast<std::int64_t>((QStringLiteral("0.") + frac).toDouble() * 1000.0 + 0.5);
    return ms;
}

} // namespace

bool FFmpegProgress::feed(const QString& ALine) {
    // Only the first input's duration counts (a second "Duration:" would be another input).
    const qsizetype d = ALine.indexOf(QLatin1String("Duration: "));
    if (d >= 0 && !FDurationSeen) {
        FDurationSeen = true;
        const std::int64_t ms = ParseClock(ALine.mid(d + 10));
        FDurationMs = ms > 0 ? ms : -1;
        return false;
    }
    bool forward = false;
    const qsizetype t = ALine.indexOf(QLatin1String("time="));
    if (t >= 0) {
        const std::int64_t ms = ParseClock(ALine.mid(t + 5));
        if (ms > FTimeMs) {
            forward = ms > 0;
            FTimeMs = ms;
        }
    }
    static const QRegularExpression size(QStringLiteral("size=\\s*(\\d+)\\s*(k|Ki|M|Mi)?B"));
    const QRegularExpressionMatch m = size.match(ALine);
    if (m.hasMatch()) {
        std::int64_t bytes = m.captured(1).toLongLong();
        const QString unit = m.captured(2);
        if (unit.startsWith(QLatin1Char('k')) || unit.startsWith(QLatin1Char('K')))
            bytes *= 1024;
        else if (unit.startsWith(QLatin1Char('M')))
            bytes *= 1024 * 1024;
        if (bytes > FSizeBytes) {
            forward = forward || bytes > 0;
            FSizeBytes = bytes;
        }
    }
    return forward;
}

int FFmpegProgress::permille() const {
    if (FDurationMs <= 0)
        return -1;
    const std::int64_t t = std::max<std::int64_t>(FTimeMs, 0);
    return static_cast<int>(std::min<std::int64_t>(1000, t * 1000 / FDurationMs));
}

QString ClockText(std::int64_t AMs) {
    const std::int64_t s = std::max<std::int64_t>(AMs, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString ShortClockText(std::int64_t AMs) {
    const std::int64_t s = (std::max<std::int64_t>(AMs, 0) + 999) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString SizeText(std::int64_t ABytes) {
    const double b = static_cast<double>(std::max<std::int64_t>(ABytes, 0));
    if (b >= 1e9)
        return QStringLiteral("%1 GB").arg(b / 1e9, 0, 'f', 1);
    if (b >= 1e6)
        return QStringLiteral("%1 MB").arg(static_cast<std::int64_t>(b / 1e6));
    return QStringLiteral("%1 KB").arg(static_cast<std::int64_t>(b / 1e3));
}

QString ProgressText::known(const QString& ALabel, std::int64_t ATimeMs,
                            std::int64_t ADurationMs) const {
    const std::int64_t t = std::clamp<std::int64_t>(ATimeMs, 0, ADurationMs);
    const int percent = ADurationMs > 0 ? static_cast<int>(t * 100 / ADurationMs) : 0;
    QString text = QStringLiteral("%1: %2 / %3 (%4%)")
                       .arg(ALabel, ClockText(t), ClockText(ADurationMs))
                       .arg(percent);
    // An estimate from the first second or first percent would jump about.
    const std::int64_t spent = FClock.isValid() ? FClock.elapsed() : 0;
    if (t > 0 && spent >= 1000 && t * 100 >= ADurationMs) {
        const double left = static_cast<double>(spent) * static_cast<double>(ADurationMs - t) /
                            static_cast<double>(t);
        text +=
            QStringLiteral(", about %1 left").arg(ShortClockText(static_cast<std::int64_t>(left)));
    }
    return text;
}

QString ProgressText::recording(std::int64_t ATimeMs, std::int64_t ASizeBytes) {
    return QStringLiteral("Recording: %1, %2").arg(ClockText(ATimeMs), SizeText(ASizeBytes));
}

} // namespace halvora
