#include "SystemTexts.h"

#include "AppPaths.h"

#include <QFile>
#include <QList>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/utsname.h>

namespace halvora {

namespace {

// Leading decimal digits of APart, 0 when there are none (or too many to matter).
int LeadingNumber(const QByteArray& APart) {
    int value = 0;
    for (char c : APart) {
        if (c < '0' || c > '9')
            break;
        if (value > 100000000)
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

QString AppVersionText() {
    return FileVersionText();
}

QString OSVersionTextFrom(const QByteArray& ARelease) {
    const QList<QByteArray> parts = ARelease.split('.');
    const auto number = [&](qsizetype i) { return i < parts.size() ? LeadingNumber(parts[i]) : 0; };
    return QStringLiteral("Windows %1.%2 build %3 x64")
        .arg(number(0))
        .arg(number(1))
        .arg(number(2));
}

QString OSVersionText() {
    struct utsname info {};
    if (uname(&info) != 0)
        return OSVersionTextFrom({});
    return OSVersionTextFrom(QByteArray(info.release));
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
