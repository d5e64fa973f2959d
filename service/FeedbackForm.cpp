#include "FeedbackForm.h"

#include "AppPaths.h"
#include "EmailCheck.h"
#include "RequestChecks.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <map>

namespace halvora::service {

namespace {

// Strict form decoding: '+' is a blank, '%' must be followed by two hex digits, and the result
// must be UTF-8.
bool Decode(const std::string& AText, QString& AOut) {
    QByteArray bytes;
    bytes.reserve(qsizetype(AText.size()));
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '+') {
            bytes += ' ';
        } else if (c == '%') {
            if (i + 2 >= AText.size() || HexValue(AText[i + 1]) < 0 || HexValue(AText[i + 2]) < 0)
                return false;
            bytes += char(HexValue(AText[i + 1]) * 16 + HexValue(AText[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    AOut = utf8.decode(bytes);
    return !utf8.hasError();
}

// Each request thread keeps its compiled patterns.
bool Matches(const QString& AText, const char* APattern) {
    thread_local std::map<const char*, QRegularExpression> compiled;
    auto it = compiled.find(APattern);
    if (it == compiled.end())
        it = compiled
                 .emplace(APattern, QRegularExpression(QRegularExpression::anchoredPattern(
                                        QString::fromLatin1(APattern))))
                 .first;
    return it->second.match(AText).hasMatch();
}

// Only line breaks and tabs: other control characters (escape sequences above all) would
// reach the maker's terminal or spreadsheet.
bool HasControl(const QString& AText) {
    return std::any_of(AText.cbegin(), AText.cend(), [](QChar c) {
        return c.category() == QChar::Other_Control && c != QLatin1Char('\r') &&
               c != QLatin1Char('\n') && c != QLatin1Char('\t');
    });
}

const char* const kKeys[] = {"name", "email", "message", "ver", "os", "mc", "src"};

// The body's items by key: each known, once, and well encoded.
bool ReadFields(const std::string& ABody, std::map<std::string, QString>& fields, QString& AErr) {
    size_t pos = 0;
    while (pos <= ABody.size()) {
        size_t end = ABody.find('&', pos);
        if (end == std::string::npos)
            end = ABody.size();
        const std::string item = ABody.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            AErr = QStringLiteral("malformed form body");
            return false;
        }
        QString key, value;
        if (!Decode(item.substr(0, eq), key) || !Decode(item.substr(eq + 1), value)) {
            AErr = QStringLiteral("malformed form body");
            return false;
        }
        const std::string k = key.toStdString();
        if (std::find(std::begin(kKeys), std::end(kKeys), k) == std::end(kKeys)) {
            AErr = QStringLiteral("unexpected field: ") + key.left(40);
            return false;
        }
        if (!fields.emplace(k, value).second) {
            AErr = QStringLiteral("field given twice: ") + key;
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseFeedbackForm(const std::string& ABody, FeedbackPost& AOut, QString& AErr) {
    AOut = {};
    std::map<std::string, QString> fields;
    if (!ReadFields(ABody, fields, AErr))
        return false;
    for (const char* k : kKeys) {
        if (!fields.count(k)) {
            AErr = QStringLiteral("missing field: ") + QLatin1String(k);
            return false;
        }
        if (HasControl(fields[k])) {
            AErr = QStringLiteral("control character in field: ") + QLatin1String(k);
            return false;
        }
    }
    AOut.name = fields["name"];
    AOut.email = fields["email"];
    AOut.message = fields["message"];
    AOut.ver = fields["ver"];
    AOut.os = fields["os"];
    AOut.mc = fields["mc"];
    AOut.src = fields["src"];

    if (AOut.email != Trimmed(AOut.email) || !IsValidEmail(AOut.email)) {
        AErr = QStringLiteral("invalid email address");
        return false;
    }
    if (AOut.name != AOut.email) {
        AErr = QStringLiteral("invalid name");
        return false;
    }
    if (Trimmed(AOut.message).isEmpty()) {
        AErr = QStringLiteral("empty message");
        return false;
    }
    if (!Matches(AOut.ver, "[0-9]{1,5}\\.[0-9]{1,5}\\.[0-9]{1,5}\\.[0-9]{1,5}")) {
        AErr = QStringLiteral("invalid ver");
        return false;
    }
    // Windows builds send "Windows a.b build c x64"; Linux builds send uname's and os-release's
    // truth, whose distribution name is free text.
    const bool windowsOs =
        Matches(AOut.os, "Windows [0-9]{1,10}\\.[0-9]{1,10} build [0-9]{1,10} x64");
    const bool linuxOs = Matches(AOut.os, "Linux \\S+ .*\\S") && AOut.os.size() <= 256 &&
                         std::none_of(AOut.os.cbegin(), AOut.os.cend(),
                                      [](QChar c) { return c.category() == QChar::Other_Control; });
    if (!windowsOs && !linuxOs) {
        AErr = QStringLiteral("invalid os");
        return false;
    }
    if (!Matches(AOut.mc, "([0-9a-f]{64})?")) {
        AErr = QStringLiteral("invalid mc");
        return false;
    }
    if (AOut.src != QStringLiteral("Halvora")) {
        AErr = QStringLiteral("invalid src");
        return false;
    }
    return true;
}

} // namespace halvora::service
