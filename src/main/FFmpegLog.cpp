#include "FFmpegLog.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace halvora {

qint64 ListedStartPts(const QString& AText) {
    static const QRegularExpression start(
        QStringLiteral("^\\s*Duration: [^,]*, start: (-?[0-9]+(?:\\.[0-9]+)?)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch s = start.match(AText);
    return s.hasMatch() ? std::max<qint64>(std::llround(s.captured(1).toDouble() * 90000), 0) : -1;
}

} // namespace halvora
