#include "ReleaseDescription.h"

#include "JsonReader.h"
#include "Updater.h"

#include <QFile>

namespace halvora::publish {

bool IsPublishableName(const QString& AName) {
    if (!IsPlainFileName(AName) || AName.startsWith(QLatin1Char('.')) || AName.size() > 200)
        return false;
    for (QChar c : AName) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || u == u'.' || u == u'-' || u == u'_' ||
                        u == u'+' || u == u'~';
        if (!ok)
            return false;
    }
    return true;
}

bool ReadReleaseDescription(const QString& AReleaseDir, ReleaseDescription& AOut, QString& AErr) {
    AOut = {};
    const QString path = AReleaseDir + QStringLiteral("/release.json");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        AErr = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    // Read as every JSON the program reads: the first of a repeated key counts.
    const JsonDocument doc(f.read(1 << 20));
    const JsonValue o = doc.root();
    if (!o.isObject()) {
        AErr = QStringLiteral("%1 is not a JSON object").arg(path);
        return false;
    }
    static const QStringList known{QStringLiteral("version"), QStringLiteral("program"),
                                   QStringLiteral("url_base"), QStringLiteral("notes"),
                                   QStringLiteral("components")};
    QString unknown;
    o.forEachMember([&](const QString& AKey, const JsonValue&) {
        if (unknown.isEmpty() && !known.contains(AKey))
            unknown = AKey;
    });
    if (!unknown.isEmpty()) {
        AErr = QStringLiteral("%1: unknown key \"%2\"").arg(path, unknown);
        return false;
    }
    AOut.version = o.member("version").text();
    AOut.program = o.member("program").text();
    AOut.urlBase = o.member("url_base").text();
    while (AOut.urlBase.endsWith(QLatin1Char('/')))
        AOut.urlBase.chop(1);
    AOut.notes = o.member("notes").text();
    const JsonValue comps = o.member("components");
    if (!comps.isArray()) {
        AErr = QStringLiteral("%1: \"components\" must be an array").arg(path);
        return false;
    }
    for (int i = 0; i < comps.size(); ++i) {
        const JsonValue c = comps.at(i);
        if (!c.isObject()) {
            AErr = QStringLiteral("%1: every component must be an object").arg(path);
            return false;
        }
        AOut.components.append(
            {c.member("id").text(), c.member("name").text(), c.member("file").text()});
    }
    return true;
}

} // namespace halvora::publish
