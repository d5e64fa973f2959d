#include "FreeName.h"

#include "OwnedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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
        if (!taken) {
            // Known as this run's until it is done with them, so a run that dies leaves none.
            for (const QString& m : made)
                OwnFile(m, OwnedKind::Reservation);
            return made;
        }
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
    DisownFile(APath);
}

QString ReserveTempBeside(const QString& APath, QString* AErr) {
    if (AErr)
        AErr->clear();
    const qsizetype slash = APath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = APath.lastIndexOf(QLatin1Char('.'));
    const bool hasExt = dot > slash + 1;
    const QString folder = APath.left(slash + 1);
    const QString stem = APath.mid(slash + 1, (hasExt ? dot : APath.size()) - slash - 1);
    const QString ext = hasExt ? APath.mid(dot) : QString();
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString tag;
        for (int i = 0; i < 6; ++i)
            tag += QLatin1Char(kChars[QRandomGenerator::global()->bounded(62)]);
        const QString name = folder + QLatin1Char('.') + stem + QStringLiteral(".tmp-") + tag + ext;
        const Created c = CreateExclusive(name, AErr);
        if (c == Created::Yes) {
            OwnFile(name, OwnedKind::TempFile);
            return name;
        }
        if (c == Created::Failed) {
            if (AErr)
                *AErr = name + QStringLiteral(": ") + *AErr;
            return {};
        }
    }
    if (AErr)
        *AErr = QStringLiteral("no free temporary name beside ") + APath;
    return {};
}

bool ReplaceWithTemp(const QString& ATemp, const QString& ATarget, QString* AErr) {
    const QByteArray temp = QFile::encodeName(ATemp);
    const QByteArray target = QFile::encodeName(ATarget);
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        ::chmod(temp.constData(), st.st_mode & 0777);
    // On disk before the name moves, so a crash cannot leave an empty file in its place.
    const int fd = ::open(temp.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    if (::rename(temp.constData(), target.constData()) == 0) {
        DisownFile(ATemp);
        return true;
    }
    if (AErr)
        *AErr = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace halvora
