#pragma once

#include <QString>

namespace halvora {

// "%d.%d.%d.%d" of the program's own version.
QString AppVersionText();

// "Windows %d.%d build %d x64", the service's format, filled with the running kernel's
// major, minor and patch numbers.
QString OSVersionText();
// The same from a kernel release text such as "6.1.0-28-amd64" (missing numbers are 0).
QString OSVersionTextFrom(const QByteArray& ARelease);

// Identifies this machine without revealing its id: HMAC-SHA256 of /etc/machine-id (else
// /var/lib/dbus/machine-id) keyed with "Halvora", lower-case hex. Empty when neither is readable.
QString MachineIdText();
// The same from a given machine-id file; empty when it can't be read or holds nothing.
QString MachineIdTextFrom(const QString& AFile);

} // namespace halvora
