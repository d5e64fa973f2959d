// What the service's two documents say: the component list and the update manifest.
#include "UpdateManifests.h"

#include "JsonReader.h"

#include <limits>

namespace halvora {

bool IsPlainFileName(const QString& AName) {
    return !AName.isEmpty() && AName != QStringLiteral(".") && AName != QStringLiteral("..") &&
           !AName.contains(QLatin1Char('/')) && !AName.contains(QLatin1Char('\\')) &&
           !AName.contains(QChar(0));
}

std::int64_t WholeNumberOr0(const QString& AText) {
    qsizetype i = 0;
    bool negative = false;
    if (i < AText.size() && (AText[i] == QLatin1Char('+') || AText[i] == QLatin1Char('-'))) {
        negative = AText[i] == QLatin1Char('-');
        ++i;
    }
    if (i == AText.size())
        return 0;
    std::uint64_t value = 0;
    const std::uint64_t limit = negative
                                    ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                    : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    for (; i < AText.size(); ++i) {
        const char16_t c = AText[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const std::uint64_t digit = c - u'0';
        if (value > (limit - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

bool ParseUpdateManifest(const QByteArray& AJson, UpdateManifest& AOut) {
    AOut = {};
    const JsonDocument doc(AJson);
    const JsonValue m = doc.root();
    if (!m.isObject())
        return false;
    AOut.version = m.member("version").text();
    AOut.url = m.member("url").text();
    AOut.hasUrl = m.member("url").isPresent();
    AOut.size = WholeNumberOr0(m.member("size").text());
    AOut.sha256 = m.member("sha256").text();
    AOut.notes = m.member("notes").text();
    AOut.hasNotes = m.member("notes").isPresent();
    return true;
}

ComponentListStatus ParseComponentList(const QByteArray& AJson, QList<ComponentEntry>& AOut) {
    AOut.clear();
    const JsonDocument doc(AJson);
    if (!doc.root().isObject())
        return ComponentListStatus::Unreadable;
    const JsonValue list = doc.root().member("components");
    if (!list.isArray())
        return ComponentListStatus::Empty;
    for (int i = 0; i < list.size(); ++i) {
        const JsonValue item = list.at(i);
        if (!item.isObject())
            continue;
        ComponentEntry e;
        e.file = item.member("file").text();
        e.sha256 = item.member("sha256").text();
        e.id = item.member("id").text();
        e.name = item.member("name").text();
        e.size = WholeNumberOr0(item.member("size").text());
        if (!e.file.isEmpty())
            AOut.append(e);
    }
    return ComponentListStatus::Ok;
}

} // namespace halvora
