#include "PrivateFolder.h"

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace halvora {

// The download folder lies in the shared temporary folder, and the helper may read what is
// there with root's rights: only a real folder of this user that nobody else may write to is
// used, so nobody else can swap a verified file before it is unpacked or installed.
bool PrivateFolder(const QString& ADir, QString& AErr) {
    const QByteArray path = QFile::encodeName(ADir);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        AErr = QStringLiteral("the download folder %1 is not a folder of this user").arg(ADir);
        return false;
    }
    if ((st.st_mode & 022) != 0 && ::chmod(path.constData(), st.st_mode & 0755) != 0) {
        AErr = QStringLiteral("the download folder %1 is open to other users").arg(ADir);
        return false;
    }
    return true;
}

} // namespace halvora
