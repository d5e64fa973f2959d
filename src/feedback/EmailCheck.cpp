#include "EmailCheck.h"

#include "AppPaths.h"

#include <array>

namespace halvora {

namespace {

constexpr std::array<const char*, 7> kReservedNames = {
    "example.com", "example.net", "example.org", "example.edu", // documentation and examples
    "test.com",    "test.org",                                  // commonly typed for tests
    "localhost",
};

constexpr std::array<const char*, 3> kReservedSuffixes = {
    ".local",   // link-local (multicast DNS)
    ".invalid", // invalid by definition
    ".test",    // for testing
};

// Disposable and temporary mail services, plus one free general-purpose provider that is
// mostly seen in throw-away sign-ups.
constexpr std::array<const char*, 74> kBlockedDomains = {
    "mailinator.com",
    "mailinator.net",
    "mailinator2.com",
    "guerrillamail.com",
    "guerrillamail.net",
    "guerrillamail.org",
    "guerrillamail.biz",
    "guerrillamail.de",
    "guerrillamailblock.com",
    "sharklasers.com",
    "grr.la",
    "pokemail.net",
    "spam4.me",
    "10minutemail.com",
    "10minutemail.net",
    "temp-mail.org",
    "temp-mail.io",
    "tempmail.com",
    "tempmail.net",
    "tempmailo.com",
    "tempail.com",
    "throwawaymail.com",
    "trashmail.com",
    "trashmail.de",
    "trashmail.net",
    "trashmail.me",
    "yopmail.com",
    "yopmail.fr",
    "yopmail.net",
    "getnada.com",
    "nada.email",
    "dispostable.com",
    "maildrop.cc",
    "mailnesia.com",
    "mintemail.com",
    "mohmal.com",
    "mytemp.email",
    "fakeinbox.com",
    "spamgourmet.com",
    "spambox.us",
    "mailcatch.com",
    "emailondeck.com",
    "getairmail.com",
    "discard.email",
    "discardmail.com",
    "discardmail.de",
    "spamex.com",
    "einrot.com",
    "armyspy.com",
    "cuvox.de",
    "dayrep.com",
    "fleckens.hu",
    "gustr.com",
    "jourrapide.com",
    "rhyta.com",
    "superrito.com",
    "teleworm.us",
    "moakt.com",
    "tempr.email",
    "tempinbox.com",
    "burnermail.io",
    "emailfake.com",
    "fakemail.net",
    "harakirimail.com",
    "incognitomail.org",
    "inboxkitten.com",
    "mailpoof.com",
    "33mail.com",
    "spamdecoy.net",
    "mailsac.com",
    "anonbox.net",
    "throwam.com",
    "mail.tm",
    "airmail.cc",
};

bool IsForbidden(char16_t c) {
    switch (c) {
    case u'\t':
    case u'\n':
    case u'\r':
    case u' ':
    case u'"':
    case u'(':
    case u')':
    case u',':
    case u';':
    case u'<':
    case u'>':
    case u'[':
    case u'\\':
    case u']':
        return true;
    default:
        return false;
    }
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsLabelChar(char16_t c) {
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
}

// Neither begins nor ends with '.' and holds no "..".
bool DotsWellPlaced(QStringView APart) {
    return !APart.startsWith(u'.') && !APart.endsWith(u'.') && !APart.contains(u"..");
}

bool LabelsValid(QStringView ADomain) {
    const qsizetype n = ADomain.size();
    qsizetype labelLen = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = ADomain[i].unicode();
        if (c == u'.') {
            if (labelLen < 1 || labelLen > 63)
                return false;
            labelLen = 0;
            continue;
        }
        if (!IsLabelChar(c))
            return false;
        if (c == u'-' && (labelLen == 0 || i == n - 1 || ADomain[i + 1] == u'.'))
            return false;
        ++labelLen;
    }
    // The last label is bounded only by the length of the whole domain.
    return labelLen > 0;
}

bool TopLevelValid(QStringView ADomain) {
    const qsizetype dot = ADomain.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QStringView top = ADomain.mid(dot + 1);
    if (top.size() < 2)
        return false;
    for (QChar c : top)
        if (!IsAsciiLetter(c.unicode()))
            return false;
    return true;
}

QString AsciiLower(QStringView AText) {
    QString out = AText.toString();
    for (QChar& c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return out;
}

} // namespace

std::span<const char* const> ReservedDomainNames() {
    return kReservedNames;
}
std::span<const char* const> ReservedDomainSuffixes() {
    return kReservedSuffixes;
}
std::span<const char* const> BlockedMailDomains() {
    return kBlockedDomains;
}

bool IsValidEmail(const QString& AAddress) {
    const QString address = Trimmed(AAddress);
    if (address.isEmpty())
        return false;
    for (QChar c : address)
        if (IsForbidden(c.unicode()))
            return false;

    const qsizetype at = address.indexOf(u'@');
    if (at < 1 || at >= address.size() - 1)
        return false;
    if (address.indexOf(u'@', at + 1) >= 0)
        return false;

    const QStringView local = QStringView(address).left(at);
    const QStringView domain = QStringView(address).mid(at + 1);
    if (!DotsWellPlaced(local) || !DotsWellPlaced(domain))
        return false;
    if (!LabelsValid(domain))
        return false;
    if (domain.size() > 253)
        return false;
    if (!TopLevelValid(domain))
        return false;

    const QString lower = AsciiLower(domain);
    for (const char* name : kReservedNames)
        if (lower == QLatin1StringView(name))
            return false;
    for (const char* suffix : kReservedSuffixes)
        if (lower.endsWith(QLatin1StringView(suffix)))
            return false;
    for (const char* blocked : kBlockedDomains) {
        const QLatin1StringView entry(blocked);
        if (lower == entry)
            return false;
        if (lower.size() > entry.size() && lower.endsWith(entry) &&
            lower[lower.size() - entry.size() - 1] == u'.')
            return false;
    }
    return true;
}

} // namespace halvora
