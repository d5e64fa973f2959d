#include "SiteFiles.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::publish {

namespace {

const char kTempPrefix[] = ".publish-";

// AFill writes the new content to ADir/.publish-PID-NAME; it is then made durable and renamed
// to ADir/NAME, so readers see either the old file or the whole new one.
bool WriteBeside(const QString& ADir, const QString& AName, mode_t AMode,
                 const std::function<bool(const QString&, QString&)>& AFill, QString& AErr) {
    const QString temp = ADir + QLatin1Char('/') + kTempPrefix + QString::number(::getpid()) +
                         QLatin1Char('-') + AName;
    const QString target = ADir + QLatin1Char('/') + AName;
    ::unlink(Path(temp).constData());
    bool ok = AFill(temp, AErr);
    if (ok) {
        const int fd = ::open(Path(temp).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        ok = fd >= 0 && ::fchmod(fd, AMode) == 0 && ::fsync(fd) == 0;
        if (!ok)
            AErr = QStringLiteral("cannot write %1: %2").arg(temp, ErrnoText());
        if (fd >= 0)
            ::close(fd);
    }
    if (ok && ::rename(Path(temp).constData(), Path(target).constData()) != 0) {
        AErr = QStringLiteral("cannot put %1 in place: %2").arg(target, ErrnoText());
        ok = false;
    }
    if (!ok)
        ::unlink(Path(temp).constData());
    return ok;
}

} // namespace

QByteArray Path(const QString& APath) {
    return QFile::encodeName(APath);
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

void SyncFolder(const QString& ADir) {
    const int fd = ::open(Path(ADir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool CopyFileInto(const QString& ASource, const QString& ADir, const QString& AName, mode_t AMode,
                  QString& AErr) {
    return WriteBeside(
        ADir, AName, AMode,
        [&](const QString& ATemp, QString& AFillErr) {
            std::error_code ec;
            std::filesystem::copy_file(Path(ASource).toStdString(), Path(ATemp).toStdString(), ec);
            if (ec)
                AFillErr = QStringLiteral("cannot copy %1: %2")
                               .arg(ASource, QString::fromLocal8Bit(ec.message()));
            return !ec;
        },
        AErr);
}

bool WriteTextInto(const QString& ADir, const QString& AName, const QByteArray& AText,
                   QString& AErr) {
    return WriteBeside(
        ADir, AName, 0644,
        [&](const QString& ATemp, QString& AFillErr) {
            QFile f(ATemp);
            const bool ok = f.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                            f.write(AText) == AText.size() && f.flush();
            if (!ok)
                AFillErr = QStringLiteral("cannot write %1: %2").arg(ATemp, f.errorString());
            return ok;
        },
        AErr);
}

// Temporary files of publishers that were stopped half-way.
void RemoveStaleTemps(const QString& ADir) {
    DIR* dir = ::opendir(Path(ADir).constData());
    if (!dir)
        return;
    QStringList stale;
    while (dirent* e = ::readdir(dir))
        if (std::strncmp(e->d_name, kTempPrefix, sizeof(kTempPrefix) - 1) == 0)
            stale << ADir + QLatin1Char('/') + QFile::decodeName(e->d_name);
    ::closedir(dir);
    for (const QString& s : stale)
        ::unlink(Path(s).constData());
}

} // namespace halvora::publish
