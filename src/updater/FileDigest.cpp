#include "FileDigest.h"

#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace halvora {

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

QString FileSha256(const QString& APath, QString& AErr) {
    AErr.clear();
    const int fd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        AErr = QString::fromLocal8Bit(std::strerror(errno));
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
            AErr = QString::fromLocal8Bit(std::strerror(errno));
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

} // namespace halvora
