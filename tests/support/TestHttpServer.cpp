#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace halvora::test {

namespace {

// ---- test certificates -------------------------------------------------------------------

void AddExt(X509* ACert, X509* AIssuer, int ANid, const char* AValue) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, AIssuer, ACert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, ANid, AValue);
    if (ext) {
        X509_add_ext(ACert, ext, -1);
        X509_EXTENSION_free(ext);
    }
}

// A certificate for AKey named ACommonName; self-signed when AIssuer is null.
X509* MakeCert(EVP_PKEY* AKey, const char* ACommonName, bool ACa, X509* AIssuer,
               EVP_PKEY* AIssuerKey, long ASerial) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), ASerial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_set_pubkey(x, AKey);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Halvora tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(ACommonName), -1, -1, 0);
    X509* issuer = AIssuer ? AIssuer : x;
    X509_set_issuer_name(x, X509_get_subject_name(issuer));
    AddExt(x, issuer, NID_subject_key_identifier, "hash");
    AddExt(x, issuer, NID_authority_key_identifier, "keyid:always");
    if (ACa) {
        AddExt(x, issuer, NID_basic_constraints, "critical,CA:TRUE");
        AddExt(x, issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExt(x, issuer, NID_basic_constraints, "critical,CA:FALSE");
        AddExt(x, issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExt(x, issuer, NID_ext_key_usage, "serverAuth");
        AddExt(x, issuer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    }
    X509_sign(x, AIssuerKey ? AIssuerKey : AKey, EVP_sha256());
    return x;
}

// Made once per process: the CA, a server certificate it issued, and an unrelated self-signed
// one. The CA's PEM lives in a temporary folder removed at exit.
struct TestPki {
    EVP_PKEY* caKey = nullptr;
    X509* caCert = nullptr;
    EVP_PKEY* serverKey = nullptr;
    X509* serverCert = nullptr;
    EVP_PKEY* rogueKey = nullptr;
    X509* rogueCert = nullptr;
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/halvora-test-ca-XXXXXX")};
    QString caPath, certPath, keyPath;

    TestPki() {
        caKey = EVP_EC_gen("P-256");
        caCert = MakeCert(caKey, "Halvora Test CA", true, nullptr, nullptr, 1);
        serverKey = EVP_EC_gen("P-256");
        serverCert = MakeCert(serverKey, "127.0.0.1", false, caCert, caKey, 2);
        rogueKey = EVP_EC_gen("P-256");
        X509* rogueCa = MakeCert(rogueKey, "Untrusted Test CA", true, nullptr, nullptr, 3);
        rogueCert = MakeCert(rogueKey, "127.0.0.1", false, rogueCa, rogueKey, 4);
        X509_free(rogueCa);
        caPath = dir.path() + QStringLiteral("/test-ca.pem");
        BIO* bio = BIO_new_file(QFile::encodeName(caPath).constData(), "w");
        if (bio) {
            PEM_write_bio_X509(bio, caCert);
            BIO_free(bio);
        }
        // For servers of the tests' own that are separate programs.
        certPath = dir.path() + QStringLiteral("/server-cert.pem");
        keyPath = dir.path() + QStringLiteral("/server-key.pem");
        if ((bio = BIO_new_file(QFile::encodeName(certPath).constData(), "w"))) {
            PEM_write_bio_X509(bio, serverCert);
            BIO_free(bio);
        }
        if ((bio = BIO_new_file(QFile::encodeName(keyPath).constData(), "w"))) {
            PEM_write_bio_PrivateKey(bio, serverKey, nullptr, nullptr, 0, nullptr, nullptr);
            BIO_free(bio);
        }
    }
    ~TestPki() {
        X509_free(caCert);
        X509_free(serverCert);
        X509_free(rogueCert);
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(serverKey);
        EVP_PKEY_free(rogueKey);
    }
};

TestPki& Pki() {
    static TestPki pki;
    return pki;
}

// ---- one connection ----------------------------------------------------------------------

struct Conn {
    int fd = -1;
    SSL* ssl = nullptr;
    std::atomic<qint64>* sent = nullptr; // the server's count of bytes written

    bool write(const char* AData, size_t ALen) {
        while (ALen > 0) {
            ssize_t n;
            if (ssl) {
                n = SSL_write(ssl, AData, static_cast<int>(std::min<size_t>(ALen, 1 << 30)));
                if (n <= 0)
                    return false;
            } else {
                n = ::send(fd, AData, ALen, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return false;
            }
            AData += n;
            ALen -= static_cast<size_t>(n);
            if (sent)
                *sent += n;
        }
        return true;
    }
    bool write(const QByteArray& AData) { return write(AData.constData(), size_t(AData.size())); }
    ssize_t read(char* ABuf, size_t ALen) {
        if (ssl) {
            const int n = SSL_read(ssl, ABuf, static_cast<int>(ALen));
            return n > 0 ? n : -1;
        }
        for (;;) {
            const ssize_t n = ::recv(fd, ABuf, ALen, 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 ? n : -1;
        }
    }
};

QByteArray ReasonPhrase(int AStatus) {
    switch (AStatus) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray ContentTypeFor(const QString& AFile) {
    if (AFile.endsWith(QLatin1String(".m3u8")))
        return "application/vnd.apple.mpegurl";
    if (AFile.endsWith(QLatin1String(".ts")))
        return "video/mp2t";
    if (AFile.endsWith(QLatin1String(".json")))
        return "application/json";
    if (AFile.endsWith(QLatin1String(".mp4")))
        return "video/mp4";
    return "application/octet-stream";
}

} // namespace

QByteArray TestHttpServer::Request::header(const QByteArray& AName) const {
    for (const auto& h : headers)
        if (h.first.compare(AName, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

// A single "bytes=a-b" (or "a-") range within ASize; false for anything else.
bool ReadRange(const QByteArray& AHeader, qint64 ASize, qint64* AOffset, qint64* ALength) {
    if (!AHeader.startsWith("bytes=") || AHeader.contains(','))
        return false;
    const QList<QByteArray> ends = AHeader.mid(6).split('-');
    if (ends.size() != 2 || ends[0].isEmpty())
        return false;
    const qint64 first = ends[0].toLongLong();
    const qint64 last = ends[1].isEmpty() ? ASize - 1 : std::min(ends[1].toLongLong(), ASize - 1);
    if (first < 0 || first > last)
        return false;
    *AOffset = first;
    *ALength = last - first + 1;
    return true;
}

struct TestHttpServer::Impl {
    Mode mode;
    int listenFd = -1;
    quint16 port = 0;
    SSL_CTX* ctx = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<qint64> bytesSent{0};
    std::thread acceptThread;

    mutable std::mutex mutex;
    std::condition_variable stopCv;
    std::map<QByteArray, Reply> routes;
    std::map<QByteArray, QList<Reply>> sequences;
    QList<QPair<QByteArray, QList<QPair<QByteArray, QByteArray>>>> guards;
    qint64 bytesPerSecond = 0;
    QList<QPair<QByteArray, QString>> folders;
    Reply defaultReply = Status(404, "not found");
    QList<Request> recorded;
    std::set<int> openFds;
    std::list<std::thread> workers;

    // Sleeps until the server stops, the peer closes or AMs passed (-1: no limit).
    void waitForStopOrPeer(int AFd, int AMs) {
        int waited = 0;
        while (!stopping && (AMs < 0 || waited < AMs)) {
            pollfd p{AFd, POLLIN, 0};
            const int slice = AMs < 0 ? 50 : std::min(50, AMs - waited);
            const int r = ::poll(&p, 1, slice);
            waited += slice;
            if (r > 0) {
                char c;
                // Data or EOF: only EOF (or an error) ends the wait; stray data is ignored.
                const ssize_t n = ::recv(AFd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
                if (n <= 0)
                    return;
                if (mode == Mode::TlsNeverCompletes || mode == Mode::NeverAnswers) {
                    char buf[4096];
                    if (::recv(AFd, buf, sizeof buf, MSG_DONTWAIT) <= 0)
                        return;
                } else {
                    return;
                }
            }
        }
    }

    bool readRequest(Conn& AConn, Request& AReq) {
        QByteArray buf;
        char chunk[16384];
        int headerEnd = -1;
        while ((headerEnd = buf.indexOf("\r\n\r\n")) < 0) {
            if (buf.size() > 1 << 20)
                return false;
            const ssize_t n = AConn.read(chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buf.append(chunk, n);
        }
        const QList<QByteArray> lines = buf.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() < 2)
            return false;
        AReq.method = first[0];
        AReq.path = first[1];
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                AReq.headers.emplaceBack(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
        }
        const qint64 length = AReq.header("Content-Length").toLongLong();
        if (AReq.header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0 &&
            mode != Mode::NeverAnswers)
            AConn.write(QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
        AReq.body = buf.mid(headerEnd + 4);
        while (AReq.body.size() < length) {
            const ssize_t n = AConn.read(chunk, sizeof chunk);
            if (n <= 0)
                return false;
            AReq.body.append(chunk, n);
        }
        AReq.body.truncate(length);
        return true;
    }

    // A 403 when a guard of the path misses a header; empty otherwise.
    std::optional<Reply> refused(const Request& AReq) const {
        for (const auto& g : guards) {
            if (!AReq.path.startsWith(g.first))
                continue;
            for (const auto& h : g.second)
                if (!AReq.header(h.first).contains(h.second))
                    return Status(403, "forbidden");
        }
        return std::nullopt;
    }

    Reply replyFor(const Request& AReq) {
        std::lock_guard lock(mutex);
        if (const auto no = refused(AReq))
            return *no;
        const QByteArray& APath = AReq.path;
        auto seq = sequences.find(APath);
        if (seq != sequences.end() && !seq->second.isEmpty())
            return seq->second.size() > 1 ? seq->second.takeFirst() : seq->second.first();
        auto it = routes.find(APath);
        if (it != routes.end())
            return it->second;
        QByteArray path = APath;
        const int q = path.indexOf('?');
        if (q >= 0) {
            path.truncate(q);
            it = routes.find(path);
            if (it != routes.end())
                return it->second;
        }
        const QString decoded = QUrl::fromPercentEncoding(path);
        for (const auto& f : folders) {
            if (!decoded.startsWith(QString::fromUtf8(f.first)))
                continue;
            const QString rel = decoded.mid(f.first.size());
            if (rel.isEmpty() || rel.split(QLatin1Char('/')).contains(QStringLiteral("..")))
                continue;
            const QString file = f.second + QLatin1Char('/') + rel;
            if (QFileInfo(file).isFile())
                return File(file);
        }
        return defaultReply;
    }

    // ALimit bytes of the body (from the file's current position), paced when asked to.
    bool sendBody(Conn& AConn, const Reply& AReply, QFile* AFile, qint64 ALimit) {
        const qint64 rate = bytesPerSecond;
        const qint64 chunk = rate > 0 ? std::max<qint64>(1024, rate / 20) : (1 << 18);
        std::vector<char> buf(static_cast<size_t>(chunk));
        const auto begun = std::chrono::steady_clock::now();
        qint64 sent = 0;
        while (sent < ALimit && !stopping) {
            const qint64 want = std::min<qint64>(chunk, ALimit - sent);
            const qint64 n = AFile ? AFile->read(buf.data(), want) : want;
            const char* data = AFile ? buf.data() : AReply.body.constData() + sent;
            if (n <= 0 || !AConn.write(data, size_t(n)))
                return false;
            sent += n;
            if (rate > 0) // the time these bytes take at the rate
                std::this_thread::sleep_until(begun +
                                              std::chrono::microseconds(sent * 1000000 / rate));
        }
        return true;
    }

    void sendReply(Conn& AConn, const Request& AReq, const Reply& AReply) {
        if (AReply.fault == Fault::NoReply) {
            waitForStopOrPeer(AConn.fd, -1);
            return;
        }
        if (AReply.delayMs > 0) {
            std::unique_lock lock(mutex);
            stopCv.wait_for(lock, std::chrono::milliseconds(AReply.delayMs),
                            [this] { return stopping.load(); });
            if (stopping)
                return;
        }
        std::unique_ptr<QFile> file;
        qint64 length = AReply.body.size();
        if (!AReply.file.isEmpty()) {
            file = std::make_unique<QFile>(AReply.file);
            if (!file->open(QIODevice::ReadOnly)) {
                AConn.write(QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Length: "
                                       "0\r\nConnection: close\r\n\r\n"));
                return;
            }
            length = file->size();
        }
        qint64 offset = 0;
        int status = AReply.status;
        QByteArray rangeHead;
        if (file && status == 200 && ReadRange(AReq.header("Range"), length, &offset, &length)) {
            status = 206;
            rangeHead = "Content-Range: bytes " + QByteArray::number(offset) + '-' +
                        QByteArray::number(offset + length - 1) + '/' +
                        QByteArray::number(file->size()) + "\r\n";
            file->seek(offset);
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) +
                          "\r\n" + rangeHead;
        bool hasType = false;
        for (const auto& h : AReply.headers) {
            head += h.first + ": " + h.second + "\r\n";
            hasType = hasType || h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
        }
        if (!hasType && file)
            head += "Content-Type: " + ContentTypeFor(AReply.file) + "\r\n";
        if (AReply.fault != Fault::EndlessBody)
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        head += "Connection: close\r\n\r\n";
        if (!AConn.write(head))
            return;
        if (AReq.method == "HEAD")
            return;
        switch (AReply.fault) {
        case Fault::StallAfterHeaders:
            waitForStopOrPeer(AConn.fd, -1);
            return;
        case Fault::EndlessBody: {
            const QByteArray block(65536, 'x');
            while (!stopping && AConn.write(block)) {
            }
            return;
        }
        default:
            break;
        }
        qint64 limit = length;
        if (AReply.fault == Fault::ShortBody || AReply.fault == Fault::CloseMidBody ||
            AReply.fault == Fault::StallMidBody || AReply.fault == Fault::Reset)
            limit = AReply.faultAfter >= 0 ? std::min(AReply.faultAfter, length) : length / 2;
        if (!sendBody(AConn, AReply, file.get(), limit))
            return;
        if (AReply.fault == Fault::Reset) {
            const linger hard{1, 0}; // close() then sends RST
            ::setsockopt(AConn.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            if (AConn.ssl) { // no close_notify: the peer sees the reset
                SSL_set_quiet_shutdown(AConn.ssl, 1);
                SSL_set_shutdown(AConn.ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
            }
            return;
        }
        if (AReply.fault == Fault::StallMidBody)
            waitForStopOrPeer(AConn.fd, -1);
    }

    void serve(int AFd) {
        Conn conn;
        conn.fd = AFd;
        conn.sent = &bytesSent;
        if (mode == Mode::TlsNeverCompletes) {
            waitForStopOrPeer(AFd, -1);
        } else {
            bool ok = true;
            if (ctx) {
                conn.ssl = SSL_new(ctx);
                SSL_set_fd(conn.ssl, AFd);
                ok = SSL_accept(conn.ssl) == 1;
            }
            Request req;
            if (ok && readRequest(conn, req)) {
                {
                    std::lock_guard lock(mutex);
                    recorded.append(req);
                }
                if (mode == Mode::NeverAnswers)
                    waitForStopOrPeer(AFd, -1);
                else
                    sendReply(conn, req, replyFor(req));
            }
            if (conn.ssl) {
                if (ok)
                    SSL_shutdown(conn.ssl);
                SSL_free(conn.ssl);
            }
        }
        {
            std::lock_guard lock(mutex);
            openFds.erase(AFd);
            ::close(AFd);
        }
    }

    void acceptLoop() {
        while (!stopping) {
            pollfd p{listenFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::lock_guard lock(mutex);
            if (stopping) {
                ::close(fd);
                break;
            }
            openFds.insert(fd);
            workers.emplace_back([this, fd] { serve(fd); });
        }
    }

    bool start() {
        ::signal(SIGPIPE, SIG_IGN);
        if (mode != Mode::Http && mode != Mode::TlsNeverCompletes) {
            TestPki& pki = Pki();
            ctx = SSL_CTX_new(TLS_server_method());
            const bool rogue = mode == Mode::HttpsUntrusted;
            SSL_CTX_use_certificate(ctx, rogue ? pki.rogueCert : pki.serverCert);
            SSL_CTX_use_PrivateKey(ctx, rogue ? pki.rogueKey : pki.serverKey);
            if (mode == Mode::HttpsTls11Only) {
                // The system configuration raises the floor to TLS 1.2 and the security level
                // to 2; an old protocol needs level 0.
                SSL_CTX_set_security_level(ctx, 0);
                SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
                SSL_CTX_set_min_proto_version(ctx, TLS1_1_VERSION);
                SSL_CTX_set_max_proto_version(ctx, TLS1_1_VERSION);
            } else {
                SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
            }
        }
        listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenFd < 0)
            return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd, 64) != 0)
            return false;
        socklen_t len = sizeof addr;
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        acceptThread = std::thread([this] { acceptLoop(); });
        return true;
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            // Wakes workers blocked in reads or writes.
            for (int fd : openFds)
                ::shutdown(fd, SHUT_RDWR);
        }
        stopCv.notify_all();
        if (acceptThread.joinable())
            acceptThread.join();
        std::list<std::thread> all;
        {
            std::lock_guard lock(mutex);
            all.swap(workers);
        }
        for (auto& t : all)
            t.join();
        if (listenFd >= 0)
            ::close(listenFd);
        SSL_CTX_free(ctx);
    }
};

TestHttpServer::TestHttpServer(Mode AMode) : d(std::make_unique<Impl>()) {
    d->mode = AMode;
    if (!d->start()) {
        if (d->listenFd >= 0)
            ::close(d->listenFd);
        d->listenFd = -1;
    }
}

TestHttpServer::~TestHttpServer() {
    d->stop();
}

bool TestHttpServer::isListening() const {
    return d->port != 0;
}
quint16 TestHttpServer::port() const {
    return d->port;
}

QString TestHttpServer::baseUrl() const {
    const bool plain = d->mode == Mode::Http;
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(plain ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(d->port);
}

QString TestHttpServer::url(const QString& APath) const {
    return baseUrl() + APath;
}

QString TestHttpServer::caFile() {
    return Pki().caPath;
}

QString TestHttpServer::serverCertFile() {
    return Pki().certPath;
}

QString TestHttpServer::serverKeyFile() {
    return Pki().keyPath;
}

void TestHttpServer::exportServiceEnv() const {
    qputenv("HALVORA_SERVICE_URL", baseUrl().toUtf8());
    qputenv("HALVORA_CA_FILE", QFile::encodeName(caFile()));
}

void TestHttpServer::serveFolder(const QString& AUrlPrefix, const QString& AFolder) {
    std::lock_guard lock(d->mutex);
    d->folders.emplaceBack(AUrlPrefix.toUtf8(), AFolder);
}

void TestHttpServer::route(const QString& APath, const Reply& AReply) {
    std::lock_guard lock(d->mutex);
    d->routes[APath.toUtf8()] = AReply;
}

void TestHttpServer::routeSequence(const QString& APath, const QList<Reply>& AReplies) {
    std::lock_guard lock(d->mutex);
    d->sequences[APath.toUtf8()] = AReplies;
}

void TestHttpServer::requireHeaders(const QString& APrefix,
                                    const QList<QPair<QByteArray, QByteArray>>& AHeaders) {
    std::lock_guard lock(d->mutex);
    d->guards.append({APrefix.toUtf8(), AHeaders});
}

void TestHttpServer::setBytesPerSecond(qint64 ARate) {
    std::lock_guard lock(d->mutex);
    d->bytesPerSecond = ARate;
}

void TestHttpServer::notFound(const QString& APath) {
    route(APath, Status(404, "not found"));
}

void TestHttpServer::redirect(const QString& APath, const QString& ATarget, int AStatus) {
    Reply r = Status(AStatus);
    r.headers.emplaceBack("Location", ATarget.toUtf8());
    route(APath, r);
}

QString TestHttpServer::redirectChain(const QString& APrefix, int AHops, const QString& ATarget) {
    for (int i = 1; i <= AHops; ++i)
        redirect(APrefix + QLatin1Char('/') + QString::number(i),
                 i == AHops ? ATarget : url(APrefix + QLatin1Char('/') + QString::number(i + 1)));
    return url(APrefix + QStringLiteral("/1"));
}

void TestHttpServer::setDefaultReply(const Reply& AReply) {
    std::lock_guard lock(d->mutex);
    d->defaultReply = AReply;
}

QList<TestHttpServer::Request> TestHttpServer::requests() const {
    std::lock_guard lock(d->mutex);
    return d->recorded;
}

int TestHttpServer::requestCount() const {
    std::lock_guard lock(d->mutex);
    return int(d->recorded.size());
}

qint64 TestHttpServer::bytesSent() const {
    return d->bytesSent;
}

void TestHttpServer::clearRequests() {
    std::lock_guard lock(d->mutex);
    d->recorded.clear();
}

TestHttpServer::Reply TestHttpServer::Json(const QByteArray& ABody, int AStatus) {
    Reply r;
    r.status = AStatus;
    r.body = ABody;
    r.headers.emplaceBack("Content-Type", "application/json");
    return r;
}

TestHttpServer::Reply TestHttpServer::Status(int AStatus, const QByteArray& ABody) {
    Reply r;
    r.status = AStatus;
    r.body = ABody;
    return r;
}

TestHttpServer::Reply TestHttpServer::File(const QString& APath, Fault AFault) {
    Reply r;
    r.file = APath;
    r.fault = AFault;
    return r;
}

} // namespace halvora::test
