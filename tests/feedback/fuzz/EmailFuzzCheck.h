#pragma once

#include "AppPaths.h"
#include "EmailCheck.h"

#include <QString>

namespace halvora::test {

// Runs the address check on AText and verifies what an accepted address must never hold.
// False when the check accepted something it should not have.
inline bool EmailCheckHolds(const QString& AText) {
    if (!IsValidEmail(AText))
        return true;
    const QString address = Trimmed(AText);
    static const QString kForbidden = QStringLiteral("\t\n\r \"(),;<>[\\]");
    for (QChar c : address)
        if (kForbidden.contains(c))
            return false;
    const qsizetype at = address.indexOf(u'@');
    if (at < 1 || address.count(u'@') != 1)
        return false;
    const QString domain = address.mid(at + 1);
    if (domain.isEmpty() || domain.size() > 253 || !domain.contains(u'.'))
        return false;
    for (QChar c : domain) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || u == u'-' || u == u'_' || u == u'.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace halvora::test
