#include "SystemTexts.h"

#include "AppPaths.h"

#include <QFile>
#include <QStringList>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/utsname.h>

namespace halvora {

QString AppVersionText() {
    return FileVersionText();
}

QString OsPrettyName(const QByteArray& AOsRelease) {
    // Shell-style assignments: the value may be quoted with " or ', with backslash escapes.
    for (const QByteArray& rawLine : AOsRelease.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("PRETTY_NAME="))
            continue;
        const QByteArray value = line.mid(12);
        QByteArray out;
        char quote = 0;
        for (qsizetype i = 0; i < value.size(); ++i) {
            const char c = value[i];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else if (c == '\\' && quote != '\'' && i + 1 < value.size()) {
                out += value[++i];
            } else {
                out += c;
            }
        }
        return QString::fromUtf8(out).simplified();
    }
    return {};
}

QString OSVersionTextFrom(const QByteArray& ARelease, const QByteArray& AOsRelease,
                          const QByteArray& AMachine) {
    QStringList parts{QStringLiteral("Linux")};
    for (const QString& part : {QString::fromUtf8(ARelease).trimmed(), OsPrettyName(AOsRelease),
                                QString::fromUtf8(AMachine).trimmed()})
        if (!part.isEmpty())
            parts << part;
    return parts.join(QLatin1Char(' '));
}

QString OSVersionText() {
    QByteArray osRelease;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            osRelease = file.read(65536);
            break;
        }
    }
    struct utsname info {};
    if (uname(&info) != 0)
        return OSVersionTextFrom({}, osRelease, {});
    return OSVersionTextFrom(QByteArray(info.release), osRelease, QByteArray(info.machine));
}

QString MachineIdTextFrom(const QString& AFile) {
    QFile file(AFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray id = file.read(4096).trimmed();
    if (id.isEmpty())
        return {};
    static const char kKey[] = "Halvora";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!HMAC(EVP_sha256(), kKey, static_cast<int>(sizeof(kKey) - 1),
              reinterpret_cast<const unsigned char*>(id.constData()),
              static_cast<size_t>(id.size()), digest, &len))
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), len).toHex());
}

QString MachineIdText() {
    QString text = MachineIdTextFrom(QStringLiteral("/etc/machine-id"));
    if (text.isEmpty())
        text = MachineIdTextFrom(QStringLiteral("/var/lib/dbus/machine-id"));
    return text;
}

} // namespace halvora
