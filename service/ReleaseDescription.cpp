#include "ReleaseDescription.h"

#include "Updater.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(1 << 20), &perr);
    if (perr.error != QJsonParseError::NoError || !doc.isObject()) {
        AErr = QStringLiteral("%1 is not a JSON object (%2)").arg(path, perr.errorString());
        return false;
    }
    const QJsonObject o = doc.object();
    for (const QString& key : o.keys()) {
        static const QStringList known{QStringLiteral("version"), QStringLiteral("program"),
                                       QStringLiteral("url_base"), QStringLiteral("notes"),
                                       QStringLiteral("components")};
        if (!known.contains(key)) {
            AErr = QStringLiteral("%1: unknown key \"%2\"").arg(path, key);
            return false;
        }
    }
    AOut.version = o.value(QStringLiteral("version")).toString();
    AOut.program = o.value(QStringLiteral("program")).toString();
    AOut.urlBase = o.value(QStringLiteral("url_base")).toString();
    while (AOut.urlBase.endsWith(QLatin1Char('/')))
        AOut.urlBase.chop(1);
    AOut.notes = o.value(QStringLiteral("notes")).toString();
    const QJsonValue comps = o.value(QStringLiteral("components"));
    if (!comps.isArray()) {
        AErr = QStringLiteral("%1: \"components\" must be an array").arg(path);
        return false;
    }
    for (const QJsonValue& v : comps.toArray()) {
        if (!v.isObject()) {
            AErr = QStringLiteral("%1: every component must be an object").arg(path);
            return false;
        }
        const QJsonObject c = v.toObject();
        AOut.components.append({c.value(QStringLiteral("id")).toString(),
                                c.value(QStringLiteral("name")).toString(),
                                c.value(QStringLiteral("file")).toString()});
    }
    return true;
}

} // namespace halvora::publish
