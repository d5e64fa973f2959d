#include "FreeName.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora {

namespace {

// Far beyond any folder a person keeps; ends the search in a folder that fills up meanwhile.
constexpr int kMaxNumber = 9999;

enum class Created { Yes, Exists, Failed };

Created CreateExclusive(const QString& APath, QString* AErr) {
    const int fd =
        ::open(QFile::encodeName(APath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        return Created::Yes;
    }
    if (errno == EEXIST)
        return Created::Exists;
    if (AErr)
        *AErr = QString::fromLocal8Bit(std::strerror(errno));
    return Created::Failed;
}

} // namespace

QString NumberedName(const QString& APath, int AN) {
    if (AN < 2)
        return APath;
    const qsizetype slash = APath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = APath.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(AN);
    // ".hidden" is a name, not an extension.
    if (dot <= slash + 1)
        return APath + number;
    return APath.left(dot) + number + APath.mid(dot);
}

QStringList ReserveFreeNames(const QStringList& APaths, QString* AErr) {
    if (AErr)
        AErr->clear();
    for (int n = 1; n <= kMaxNumber; ++n) {
        QStringList made;
        bool taken = false;
        for (const QString& path : APaths) {
            const QString name = NumberedName(path, n);
            const Created c = CreateExclusive(name, AErr);
            if (c == Created::Yes) {
                made << name;
                continue;
            }
            // Only files made here a moment ago are removed: nobody else can own them yet.
            for (const QString& m : made)
                QFile::remove(m);
            if (c == Created::Failed) {
                if (AErr)
                    *AErr = name + QStringLiteral(": ") + *AErr;
                return {};
            }
            taken = true;
            break;
        }
        if (!taken)
            return made;
    }
    if (AErr)
        *AErr = QStringLiteral("no free name for ") + APaths.value(0);
    return {};
}

QString ReserveFreeName(const QString& APath, QString* AErr) {
    return ReserveFreeNames({APath}, AErr).value(0);
}

void DropUnwritten(const QString& APath) {
    struct stat st {};
    if (::lstat(QFile::encodeName(APath).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0)
        QFile::remove(APath);
}

} // namespace halvora
