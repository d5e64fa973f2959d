#include "Links.h"

namespace halvora {

namespace {

// ASCII only: Qt::CaseInsensitive would also fold letters such as U+017F (long s) to 's'.
bool StartsWithAsciiFolded(const QString& AText, QLatin1String APrefix) {
    if (AText.size() < APrefix.size())
        return false;
    for (qsizetype i = 0; i < APrefix.size(); ++i) {
        char16_t c = AText[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + (u'a' - u'A'));
        if (c != char16_t(APrefix[i].unicode()))
            return false;
    }
    return true;
}

} // namespace

bool IsUrl(const QString& AText) {
    return StartsWithAsciiFolded(AText, QLatin1String("http://")) ||
           StartsWithAsciiFolded(AText, QLatin1String("https://"));
}

} // namespace halvora
