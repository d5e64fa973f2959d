#include "RawClient.h"

#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace halvora::test {

RawClient::RawClient(int APort, bool ATls, const char* ASource, bool AHandshake) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, ASource, &from.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(uint16_t(APort));
    // Each write goes out at once, as a browser's or curl's would.
    const int one = 1;
    ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const timeval tv{10, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    FOk = FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
          ::connect(FFd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (FOk && ATls && AHandshake) {
        FCtx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(FCtx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_load_verify_locations(FCtx, QFile::encodeName(TestHttpServer::caFile()).constData(),
                                      nullptr);
        FSsl = SSL_new(FCtx);
        SSL_set_mode(FSsl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        FOk = SSL_set_fd(FSsl, FFd) == 1 && SSL_set1_host(FSsl, "127.0.0.1") == 1 &&
              SSL_connect(FSsl) == 1;
    }
    if (FFd >= 0)
        ::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) | O_NONBLOCK);
}

RawClient::~RawClient() {
    SSL_free(FSsl);
    SSL_CTX_free(FCtx);
    if (FFd >= 0)
        ::close(FFd);
}

int RawClient::Read(char* ABuf, int ASize) {
    if (!FSsl) {
        const ssize_t n = ::recv(FFd, ABuf, size_t(ASize), 0);
        return n > 0 ? int(n) : n == 0 ? 0 : (errno == EAGAIN || errno == EINTR) ? -1 : 0;
    }
    ERR_clear_error();
    const int n = SSL_read(FSsl, ABuf, ASize);
    if (n > 0)
        return n;
    const int e = SSL_get_error(FSsl, n);
    return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? -1 : 0;
}

int RawClient::Write(const char* AData, int ASize) {
    if (!FSsl) {
        const ssize_t n = ::send(FFd, AData, size_t(ASize), MSG_NOSIGNAL);
        return n > 0 ? int(n) : (n < 0 && (errno == EAGAIN || errno == EINTR)) ? -1 : 0;
    }
    ERR_clear_error();
    const int n = SSL_write(FSsl, AData, ASize);
    if (n > 0)
        return n;
    const int e = SSL_get_error(FSsl, n);
    return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? -1 : 0;
}

bool RawClient::Wait(short AEvents, int AMs) {
    if (FSsl && (AEvents & POLLIN) && SSL_pending(FSsl) > 0)
        return true;
    pollfd p{FFd, AEvents, 0};
    return ::poll(&p, 1, AMs) > 0;
}

bool RawClient::Send(const QByteArray& AData, QByteArray* AReceived, int ATimeoutMs) {
    QElapsedTimer t;
    t.start();
    qsizetype pos = 0;
    char buf[65536];
    while (FOk && pos < AData.size() && t.elapsed() < ATimeoutMs) {
        Wait(POLLIN | POLLOUT, 50);
        if (AReceived) {
            int n = 0;
            while ((n = Read(buf, sizeof buf)) > 0)
                AReceived->append(buf, n);
            if (n == 0)
                return false;
        }
        const int n =
            Write(AData.constData() + pos, int(std::min<qsizetype>(AData.size() - pos, 65536)));
        if (n == 0)
            return false;
        if (n > 0)
            pos += n;
    }
    return pos == AData.size();
}

bool RawClient::ReadToClose(QByteArray& AOut, int ATimeoutMs) {
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (FOk && t.elapsed() < ATimeoutMs) {
        Wait(POLLIN, 50);
        int n = 0;
        while ((n = Read(buf, sizeof buf)) > 0)
            AOut.append(buf, n);
        if (n == 0)
            return true;
    }
    return !FOk;
}

void RawClient::ReadResponses(QByteArray& AOut, int ACount, int ATimeoutMs) {
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (FOk && ResponseStatuses(AOut).size() < ACount && t.elapsed() < ATimeoutMs) {
        Wait(POLLIN, 50);
        int n = 0;
        while ((n = Read(buf, sizeof buf)) > 0)
            AOut.append(buf, n);
        if (n == 0)
            return;
    }
}

bool RawClient::PeerClosed() {
    char buf[4096];
    int n = 0;
    while ((n = Read(buf, sizeof buf)) > 0) {
    }
    return n == 0;
}

QList<int> ResponseStatuses(const QByteArray& AStream) {
    QList<int> out;
    qsizetype pos = 0;
    while (AStream.mid(pos, 9).startsWith("HTTP/1.")) {
        const qsizetype end = AStream.indexOf("\r\n\r\n", pos);
        if (end < 0)
            break;
        const QByteArray head = AStream.mid(pos, end - pos).toLower();
        qsizetype length = 0;
        const qsizetype cl = head.indexOf("\r\ncontent-length:");
        if (cl >= 0)
            length =
                head.mid(cl + 17, head.indexOf("\r\n", cl + 2) - cl - 17).trimmed().toLongLong();
        if (end + 4 + length > AStream.size())
            break;
        out << AStream.mid(pos + 9, 3).toInt();
        pos = end + 4 + length;
    }
    return out;
}

} // namespace halvora::test
