// The form encoder, checked by a decoder of its own: what the service decodes is what was
// typed (a lone surrogate as U+FFFD), and the encoded text never holds a separator.
#include "FeedbackPost.h"
#include "FuzzInput.h"

namespace {

int Hex(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

QByteArray Decode(const QByteArray& AForm) {
    QByteArray out;
    for (qsizetype i = 0; i < AForm.size(); ++i) {
        const char c = AForm[i];
        halvora::fuzz::Require(c > ' ' && c < 0x7f && c != '&' && c != '=',
                               "only printable ASCII without separators");
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            halvora::fuzz::Require(i + 2 < AForm.size() && Hex(AForm[i + 1]) >= 0 &&
                                       Hex(AForm[i + 2]) >= 0,
                                   "%XX with upper-case hex");
            out += char(Hex(AForm[i + 1]) * 16 + Hex(AForm[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    const QString text = fuzz::Utf16(AData, ASize);
    QString expected;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            expected += text[i];
            expected += text[++i];
        } else {
            expected += text[i].isSurrogate() ? QChar(0xFFFD) : text[i];
        }
    }
    const QByteArray decoded = Decode(FormEncode(text));
    fuzz::Require(decoded == expected.toUtf8(), "the form decodes to the text");
    // A whole body: key and value come apart at the first '=' of each item.
    const QByteArray body = FormBody({QStringLiteral("message=") + text, text});
    const QList<QByteArray> items = body.split('&');
    fuzz::Require(items.size() == 2, "one separator between two items");
    fuzz::Require(items[0].startsWith("message="), "the key stays");
    fuzz::Require(Decode(items[0].mid(8)) == expected.toUtf8(), "the value decodes");
    return 0;
}
