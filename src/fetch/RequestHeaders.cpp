#include "RequestHeaders.h"

#include <QFile>

namespace halvora {

namespace {

// RFC 9110 token characters.
bool IsTokenChar(QChar AChar) {
    const char16_t c = AChar.unicode();
    if (c >= 0x7F || c <= 0x20)
        return false;
    return QStringView(u"\"(),/:;<=>?@[\\]{}").indexOf(AChar) < 0;
}

bool IsToken(QStringView AText) {
    if (AText.isEmpty())
        return false;
    for (QChar c : AText)
        if (!IsTokenChar(c))
            return false;
    return true;
}

// A value may hold tabs but no other control character: CR or LF would start a header (or a
// request) of their own.
bool IsFieldValue(QStringView AText) {
    for (QChar c : AText) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || u == 0x7F)
            return false;
    }
    return true;
}

} // namespace

QList<QPair<QByteArray, QByteArray>> RequestHeaders::pairs() const {
    QList<QPair<QByteArray, QByteArray>> out;
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        out.append({line.left(colon).trimmed().toUtf8(), line.mid(colon + 1).trimmed().toUtf8()});
    }
    return out;
}

QString ReadHeaderLines(const QString& AText, RequestHeaders* AHeaders) {
    QStringList lines;
    const QStringList raw = AText.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QString line = raw[i];
        if (line.endsWith(QLatin1Char('\r'))) // a pasted CRLF line ending
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QString number = QString::number(i + 1);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0 || !IsToken(QStringView(line).left(colon)))
            return QStringLiteral("Header line %1 is not \"Name: value\" (a name of letters, "
                                  "digits and !#$%&'*+-.^_`|~ before the colon): %2")
                .arg(number, line.left(80));
        if (!IsFieldValue(QStringView(line).mid(colon + 1)))
            return QStringLiteral("Header line %1 holds a line break or another control "
                                  "character in its value: %2")
                .arg(number, line.left(colon));
        lines << line.left(colon) + QStringLiteral(": ") + line.mid(colon + 1).trimmed();
    }
    if (AHeaders)
        AHeaders->lines = lines;
    return {};
}

QString CheckCookieFile(const QString& ACookieFile) {
    if (ACookieFile.isEmpty())
        return {};
    QFile f(ACookieFile);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("The cookies file cannot be read: %1 (%2)")
            .arg(ACookieFile, f.errorString());
    // Netscape's format: seven tab-separated fields a line; comments start with '#'
    // (curl's "#HttpOnly_" lines are cookies).
    while (!f.atEnd()) {
        const QByteArray line = f.readLine(1 << 16).trimmed();
        if (line.isEmpty() || (line.startsWith('#') && !line.startsWith("#HttpOnly_")))
            continue;
        if (line.split('\t').size() != 7)
            return QStringLiteral("%1 is not a cookies.txt file (Netscape format: seven "
                                  "tab-separated fields a line)")
                .arg(ACookieFile);
    }
    return {};
}

} // namespace halvora
