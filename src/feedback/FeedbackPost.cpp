#include "FeedbackPost.h"

#include "JsonReader.h"

namespace halvora {

namespace {

bool IsKept(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9'))
        return true;
    switch (c) {
    case U'!':
    case U'$':
    case U'\'':
    case U'(':
    case U')':
    case U'*':
    case U'-':
    case U'.':
    case U'@':
    case U'_':
        return true;
    default:
        return false;
    }
}

void AppendPercent(QByteArray& AOut, unsigned char AByte) {
    static const char kHex[] = "0123456789ABCDEF";
    AOut += '%';
    AOut += kHex[AByte >> 4];
    AOut += kHex[AByte & 0x0F];
}

void AppendUtf8Percent(QByteArray& AOut, char32_t c) {
    if (c < 0x80) {
        AppendPercent(AOut, static_cast<unsigned char>(c));
    } else if (c < 0x800) {
        AppendPercent(AOut, static_cast<unsigned char>(0xC0 | (c >> 6)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        AppendPercent(AOut, static_cast<unsigned char>(0xE0 | (c >> 12)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else {
        AppendPercent(AOut, static_cast<unsigned char>(0xF0 | (c >> 18)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
        AppendPercent(AOut, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

QStringList FeedbackFields(const QString& AEmail, const QString& AMessage, const QString& AVersion,
                           const QString& AOs, const QString& AMachine) {
    return {
        QStringLiteral("name=") + AEmail,      QStringLiteral("email=") + AEmail,
        QStringLiteral("message=") + AMessage, QStringLiteral("ver=") + AVersion,
        QStringLiteral("os=") + AOs,           QStringLiteral("mc=") + AMachine,
        QStringLiteral("src=Halvora"),
    };
}

QByteArray FormEncode(const QString& AText) {
    QByteArray out;
    out.reserve(AText.size() * 3);
    const qsizetype n = AText.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = AText[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && AText[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(AText[i], AText[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD; // a lone half of a pair has no UTF-8 form
        }
        if (IsKept(c))
            out += static_cast<char>(c);
        else if (c == U' ')
            out += '+';
        else
            AppendUtf8Percent(out, c);
    }
    return out;
}

QByteArray FormBody(const QStringList& AItems) {
    QByteArray body;
    for (const QString& item : AItems) {
        if (!body.isEmpty())
            body += '&';
        const qsizetype eq = item.indexOf(u'=');
        if (eq < 0) {
            body += FormEncode(item) + '=';
        } else {
            body += FormEncode(item.left(eq));
            body += '=';
            body += FormEncode(item.mid(eq + 1));
        }
    }
    return body;
}

FeedbackReply ReadFeedbackReply(const QString& AReply) {
    const JsonDocument doc(AReply.toUtf8());
    const JsonValue reply = doc.root();
    FeedbackReply out;
    out.accepted = reply.member("ok").isTrue();
    const JsonValue error = reply.member("error");
    if (error.isTrue())
        out.error = QStringLiteral("true");
    else if (error.isFalse())
        out.error = QStringLiteral("false");
    else
        out.error = error.text();
    return out;
}

QString ServerErrorText(const QString& AReply) {
    return ReadFeedbackReply(AReply).error;
}

bool IsReplyAccepted(const QString& AReply) {
    return ReadFeedbackReply(AReply).accepted;
}

} // namespace halvora
