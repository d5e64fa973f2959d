#include "Download.h"

#include "HttpClient.h"

#include <QDir>
#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

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

} // namespace

bool SameDigest(const QString& AExpected, const QString& AActual) {
    if (AExpected.size() != AActual.size())
        return false;
    for (qsizetype i = 0; i < AExpected.size(); ++i) {
        char16_t a = AExpected[i].unicode(), b = AActual[i].unicode();
        if (a >= u'A' && a <= u'Z')
            a = char16_t(a + 32);
        if (b >= u'A' && b <= u'Z')
            b = char16_t(b + 32);
        if (a != b)
            return false;
    }
    return true;
}

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

QString FileSha256(const QString& APath, QString& AErr) {
    AErr.clear();
    const int fd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        AErr = ErrnoText(errno);
        return {};
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buf(1 << 20);
    while (ok) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            AErr = ErrnoText(errno);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        ok = EVP_DigestUpdate(ctx.get(), buf.data(), size_t(n)) == 1;
    }
    ::close(fd);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (ok)
        ok = EVP_DigestFinal_ex(ctx.get(), md, &mdLen) == 1;
    if (!ok) {
        if (AErr.isEmpty())
            AErr = QStringLiteral("SHA-256 computation failed");
        return {};
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(md), mdLen).toHex());
}

bool DownloadFile(const QString& AUrl, const QString& ADestPath, const QString& ASha256,
                  qint64 AExpectedSize, QString& AErr, const DownloadTimeouts& ATimeouts,
                  const std::function<bool()>& ACancel, qint64 AMaxBytes,
                  const std::function<void(qint64)>& AProgress) {
    AErr.clear();
    bool success = false;
    const QByteArray dest = QFile::encodeName(ADestPath);
    // The body goes to a hidden file beside the destination and takes its name only once
    // verified: a download stopped half-way (a crash, a kill) never stands under the
    // destination's name. The process id in the name tells a later call whose file it was.
    const qsizetype slash = ADestPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : ADestPath.left(slash);
    const QString partPrefix =
        QLatin1Char('.') + ADestPath.mid(slash + 1) + QStringLiteral(".part-");
    RemoveStaleParts(folder, partPrefix);
    const QByteArray part =
        QFile::encodeName(folder + QLatin1Char('/') + partPrefix + QString::number(::getpid()));
    int fd = -1;

    [&] {
        // Created anew, never through a link planted under its name.
        ::unlink(part.constData());
        fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            AErr = ErrnoText(errno);
            return;
        }

        int writeErrno = 0;
        qint64 written = 0;
        bool overran = false;
        HttpRequest req;
        req.url = AUrl;
        req.connectTimeoutMs = ATimeouts.connectMs;
        req.responseTimeoutMs = ATimeouts.responseMs;
        req.tls13Max = true;
        req.cancel = ACancel;
        if (AExpectedSize <= 0)
            req.maxBodyBytes = AMaxBytes;
        req.sink = [&](const char* AData, size_t ALen) {
            if (AProgress)
                AProgress(written + qint64(ALen));
            // A body longer than announced can never pass: past the expected size it is only
            // counted (for the error text), and a runaway one is cut off.
            const qint64 before = written;
            written += qint64(ALen);
            if (AExpectedSize > 0 && written > AExpectedSize) {
                overran = true;
                if (written > AExpectedSize + kOverrunSlack)
                    return false;
                const qint64 keep = qMax<qint64>(0, AExpectedSize - before);
                return WriteFully(fd, AData, size_t(keep), writeErrno);
            }
            return WriteFully(fd, AData, ALen, writeErrno);
        };
        const HttpResult res = HttpPerform(req);
        if (overran) {
            AErr = res.status != 200 ? QStringLiteral("HTTP %1").arg(res.status)
                                     : QStringLiteral("incomplete download (%1 of %2 bytes)")
                                           .arg(written)
                                           .arg(AExpectedSize);
            return;
        }
        if (!res.transportOk) {
            AErr = writeErrno ? ErrnoText(writeErrno) : res.error;
            return;
        }
        if (res.status != 200) {
            AErr = QStringLiteral("HTTP %1").arg(res.status);
            return;
        }
        // Written data that never reaches the disk (a full disk on close) is a failed write.
        const int synced = ::fsync(fd);
        const int syncErrno = errno;
        const int closed = ::close(fd);
        fd = -1;
        if (synced != 0 || closed != 0) {
            AErr = ErrnoText(synced != 0 ? syncErrno : errno);
            return;
        }
        if (AExpectedSize > 0) {
            struct stat fst {};
            const qint64 actual = ::stat(part.constData(), &fst) == 0 ? qint64(fst.st_size) : -1;
            if (actual != AExpectedSize) {
                AErr = QStringLiteral("incomplete download (%1 of %2 bytes)")
                           .arg(actual)
                           .arg(AExpectedSize);
                return;
            }
        }
        if (!ASha256.isEmpty()) {
            QString readErr;
            const QString digest = FileSha256(QFile::decodeName(part), readErr);
            if (digest.isEmpty()) {
                AErr = readErr;
                return;
            }
            if (!SameDigest(ASha256, digest)) {
                AErr = QStringLiteral("integrity check failed");
                return;
            }
        }
        // Replace, never write through: a link under the destination's name is itself
        // replaced, a folder refuses.
        if (::rename(part.constData(), dest.constData()) != 0) {
            AErr = ErrnoText(errno);
            return;
        }
        success = true;
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
