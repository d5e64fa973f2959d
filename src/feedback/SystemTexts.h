#pragma once

#include <QString>

namespace halvora {

// "%d.%d.%d.%d" of the program's own version.
QString AppVersionText();

// The running system: "Linux <kernel release> <PRETTY_NAME of os-release> <machine>", for
// example "Linux 6.1.0-18-amd64 Debian GNU/Linux 12 (bookworm) x86_64".
QString OSVersionText();
// The same from uname's release and machine and the text of an os-release file; parts that
// are missing are left out.
QString OSVersionTextFrom(const QByteArray& ARelease, const QByteArray& AOsRelease,
                          const QByteArray& AMachine);
// The PRETTY_NAME of an os-release text, its quoting undone; empty when there is none.
QString OsPrettyName(const QByteArray& AOsRelease);

// Identifies this machine without revealing its id: HMAC-SHA256 of /etc/machine-id (else
// /var/lib/dbus/machine-id) keyed with "Halvora", lower-case hex. Empty when neither is readable.
QString MachineIdText();
// The same from a given machine-id file; empty when it can't be read or holds nothing.
QString MachineIdTextFrom(const QString& AFile);

} // namespace halvora
