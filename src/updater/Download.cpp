#include "Download.h"

#include "HttpClient.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora {

namespace {

constexpr qint64 kOverrunSlack = 64 * 1024 * 1024;

QString ErrnoText(int AErrno) {
    return QString::fromLocal8Bit(std::strerror(AErrno));
}

bool WriteFully(int AFd, const char* AData, size_t ALen, int& AErrno) {
    while (ALen > 0) {
        const ssize_t n = ::write(AFd, AData, ALen);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            AErrno = errno;
            return false;
        }
        AData += n;
        ALen -= size_t(n);
    }
    return true;
}

// Hidden partial downloads beside the destination whose process has ended.
void RemoveStaleParts(const QString& AFolder, const QString& APrefix) {
    const QDir dir(AFolder);
    for (const QString& name :
         dir.entryList({APrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System)) {
        bool isNumber = false;
        const qint64 pid = name.mid(APrefix.size()).toLongLong(&isNumber);
        if (isNumber && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(dir.filePath(name));
    }
}

// The body goes to a hidden file beside the destination and takes its name only once
// verified: a download stopped half-way (a crash, a kill) never stands under the
// destination's name. The process id in the name tells a later call whose file it was.
QByteArray PartFileFor(const QString& ADestPath) {
    const qsizetype slash = ADestPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : ADestPath.left(slash);
    const QString partPrefix =
        QLatin1Char('.') + ADestPath.mid(slash + 1) + QStringLiteral(".part-");
    RemoveStaleParts(folder, partPrefix);
    return QFile::encodeName(folder + QLatin1Char('/') + partPrefix + QString::number(::getpid()));
}

// Writes the body to the part file as it arrives.
struct BodySink {
    BodySink(int AFd, qint64 AExpected, const std::function<void(qint64)>& AProgress)
        : fd(AFd), expected(AExpected), progress(AProgress) {}

    const int fd;
    const qint64 expected;
    const std::function<void(qint64)>& progress;
    qint64 written = 0;
    int writeErrno = 0;
    bool overran = false;

    bool write(const char* AData, size_t ALen) {
        if (progress)
            progress(written + qint64(ALen));
        // A body longer than announced can never pass: past the expected size it is only
        // counted (for the error text), and a runaway one is cut off.
        const qint64 before = written;
        written += qint64(ALen);
        if (expected > 0 && written > expected) {
            overran = true;
            if (written > expected + kOverrunSlack)
                return false;
            const qint64 keep = qMax<qint64>(0, expected - before);
            return WriteFully(fd, AData, size_t(keep), writeErrno);
        }
        return WriteFully(fd, AData, ALen, writeErrno);
    }

    // Whether the whole body arrived with status 200; AErr says why not.
    bool succeeded(const HttpResult& ARes, QString& AErr) const {
        if (overran) {
            AErr = ARes.status != 200 ? QStringLiteral("HTTP %1").arg(ARes.status)
                                      : QStringLiteral("incomplete download (%1 of %2 bytes)")
                                            .arg(written)
                                            .arg(expected);
            return false;
        }
        if (!ARes.transportOk) {
            AErr = writeErrno ? ErrnoText(writeErrno) : ARes.error;
            return false;
        }
        if (ARes.status != 200) {
            AErr = QStringLiteral("HTTP %1").arg(ARes.status);
            return false;
        }
        return true;
    }
};

// Written data that never reaches the disk (a full disk on close) is a failed write.
bool CloseDurably(int& AFd, QString& AErr) {
    const int synced = ::fsync(AFd);
    const int syncErrno = errno;
    const int closed = ::close(AFd);
    AFd = -1;
    if (synced != 0 || closed != 0) {
        AErr = ErrnoText(synced != 0 ? syncErrno : errno);
        return false;
    }
    return true;
}

bool VerifyPart(const QByteArray& APart, qint64 AExpectedSize, const QString& ASha256,
                QString& AErr) {
    if (AExpectedSize > 0) {
        struct stat fst {};
        const qint64 actual = ::stat(APart.constData(), &fst) == 0 ? qint64(fst.st_size) : -1;
        if (actual != AExpectedSize) {
            AErr = QStringLiteral("incomplete download (%1 of %2 bytes)")
                       .arg(actual)
                       .arg(AExpectedSize);
            return false;
        }
    }
    if (ASha256.isEmpty())
        return true;
    QString readErr;
    const QString digest = FileSha256(QFile::decodeName(APart), readErr);
    if (digest.isEmpty()) {
        AErr = readErr;
        return false;
    }
    if (!SameDigest(ASha256, digest)) {
        AErr = QStringLiteral("integrity check failed");
        return false;
    }
    return true;
}

// Replace, never write through: a link under the destination's name is itself replaced, a
// folder refuses.
bool PutInPlace(const QByteArray& APart, const QByteArray& ADest, QString& AErr) {
    if (::rename(APart.constData(), ADest.constData()) != 0) {
        AErr = ErrnoText(errno);
        return false;
    }
    return true;
}

} // namespace

QString HttpGetText(const QString& AUrl, int ATimeoutMs, QString& AErr,
                    const std::function<bool()>& ACancel) {
    AErr.clear();
    HttpRequest req;
    req.url = AUrl;
    req.connectTimeoutMs = ATimeoutMs;
    req.responseTimeoutMs = ATimeoutMs;
    req.tls13Max = true;
    req.maxBodyBytes = 16 * 1024 * 1024; // a text document; an endless reply must not eat memory
    req.cancel = ACancel;
    const HttpResult res = HttpPerform(req);
    if (!res.transportOk) {
        AErr = res.error;
        return {};
    }
    if (res.status != 200) {
        AErr = QStringLiteral("HTTP %1").arg(res.status);
        return {};
    }
    return QString::fromUtf8(res.body);
}

bool DownloadFile(const QString& AUrl, const QString& ADestPath, const QString& ASha256,
                  qint64 AExpectedSize, QString& AErr, const DownloadTimeouts& ATimeouts,
                  const std::function<bool()>& ACancel, qint64 AMaxBytes,
                  const std::function<void(qint64)>& AProgress) {
    AErr.clear();
    const QByteArray dest = QFile::encodeName(ADestPath);
    const QByteArray part = PartFileFor(ADestPath);
    int fd = -1;
    const bool success = [&] {
        // Created anew, never through a link planted under its name.
        ::unlink(part.constData());
        fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            AErr = ErrnoText(errno);
            return false;
        }
        BodySink body(fd, AExpectedSize, AProgress);
        HttpRequest req;
        req.url = AUrl;
        req.connectTimeoutMs = ATimeouts.connectMs;
        req.responseTimeoutMs = ATimeouts.responseMs;
        req.tls13Max = true;
        req.cancel = ACancel;
        if (AExpectedSize <= 0)
            req.maxBodyBytes = AMaxBytes;
        req.sink = [&body](const char* AData, size_t ALen) { return body.write(AData, ALen); };
        return body.succeeded(HttpPerform(req), AErr) && CloseDurably(fd, AErr) &&
               VerifyPart(part, AExpectedSize, ASha256, AErr) && PutInPlace(part, dest, AErr);
    }();
    if (fd >= 0)
        ::close(fd);
    if (!success) {
        ::unlink(part.constData());
        struct stat st {};
        if (::lstat(dest.constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            ::unlink(dest.constData());
    }
    return success;
}

} // namespace halvora
