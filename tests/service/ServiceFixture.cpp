#include "ServiceFixture.h"

#include "FeedbackPost.h"
#include "FeedbackStore.h"
#include "SystemTexts.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <httplib.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace halvora::test {

UpdateSite::UpdateSite() : root(NewTempDir("site")), db(NewTempDir("db") + "/feedback.db") {
    QDir().mkpath(root + "/update/components");
    WriteAll(root + "/update/components.json", R"({"components":[]})");
    WriteAll(root + "/update/components/a.tar.gz", QByteArray(100000, 'x'));
}

namespace {

QString AppDir() {
    QString dir = qEnvironmentVariable("HALVORA_TEST_APP_DIR");
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace

QString ServiceProgram() {
    return AppDir() + QStringLiteral("halvora-service");
}

QString PublishProgram() {
    return AppDir() + QStringLiteral("halvora-publish");
}

int RunPublish(const QString& ARelease, const QString& ASite, QString* AOutput,
               const QByteArray& AKillAt) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!AKillAt.isEmpty())
        env.insert(QStringLiteral("HALVORA_PUBLISH_TEST_KILL_AT"), QString::fromUtf8(AKillAt));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(PublishProgram(), {ARelease, ASite});
    p.waitForFinished(120000);
    if (AOutput)
        *AOutput = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

ServiceProcess::ServiceProcess(const QString& ASite, const QString& ADb, const QStringList& AExtra,
                               bool ATls)
    : FLog(NewTempDir(QStringLiteral("servicelog")) + QStringLiteral("/service.log")), FTls(ATls) {
    // A client still sending a body the service refused must see an error, not die.
    std::signal(SIGPIPE, SIG_IGN);
    FProc.setStandardErrorFile(FLog);
    FProc.setStandardOutputFile(QProcess::nullDevice());
    QStringList args{"--site", ASite, "--db", ADb, "--listen", "127.0.0.1:0"};
    if (ATls)
        args << "--tls-cert" << TestHttpServer::serverCertFile() << "--tls-key"
             << TestHttpServer::serverKeyFile();
    FProc.start(ServiceProgram(), args + AExtra);
    if (!FProc.waitForStarted(10000))
        return;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    (void)QTest::qWaitFor(
        [&] {
            const auto m = listening.match(QString::fromUtf8(log()));
            if (m.hasMatch())
                FPort = m.captured(1).toInt();
            return FPort > 0 || FProc.state() != QProcess::Running;
        },
        20000);
}

ServiceProcess::~ServiceProcess() {
    if (FProc.state() != QProcess::NotRunning)
        kill();
}

QString ServiceProcess::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(FTls ? "https" : "http").arg(FPort);
}

QByteArray ServiceProcess::log() const {
    QFile f(FLog);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::unique_ptr<httplib::SSLClient> ServiceProcess::client() const {
    auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", FPort);
    c->set_ca_cert_path(QFile::encodeName(TestHttpServer::caFile()).constData());
    c->enable_server_certificate_verification(true);
    c->set_url_encode(false);
    c->set_connection_timeout(10);
    c->set_read_timeout(30);
    return c;
}

int ServiceProcess::terminate() {
    ::kill(pid_t(FProc.processId()), SIGTERM);
    FProc.waitForFinished(30000);
    return FProc.exitStatus() == QProcess::NormalExit ? FProc.exitCode() : -1;
}

void ServiceProcess::kill() {
    FProc.kill();
    FProc.waitForFinished(30000);
}

ResumingPoster::ResumingPoster(int APort) : FPort(APort), FCtx(SSL_CTX_new(TLS_client_method())) {
    SSL_CTX_set_verify(FCtx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_load_verify_locations(FCtx, QFile::encodeName(TestHttpServer::caFile()).constData(),
                                  nullptr);
}

ResumingPoster::~ResumingPoster() {
    SSL_SESSION_free(FSession);
    SSL_CTX_free(FCtx);
}

bool ResumingPoster::Post(const QByteArray& ABody) {
    FResumed = false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(FPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SSL* ssl = SSL_new(FCtx);
    std::string reply;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ssl &&
              SSL_set_fd(ssl, fd) == 1 && SSL_set1_host(ssl, "127.0.0.1") == 1;
    if (ok && FSession)
        SSL_set_session(ssl, FSession);
    ok = ok && SSL_connect(ssl) == 1;
    if (ok) {
        FResumed = SSL_session_reused(ssl) == 1;
        const QByteArray request =
            "POST /halvora/feedback HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
            "Content-Length: " +
            QByteArray::number(ABody.size()) + "\r\nConnection: close\r\n\r\n" + ABody;
        ok = SSL_write(ssl, request.constData(), int(request.size())) == int(request.size());
        char buf[4096];
        int n = 0;
        while (ok && (n = SSL_read(ssl, buf, sizeof buf)) > 0)
            reply.append(buf, size_t(n));
        // A session ticket of TLS 1.3 arrives after the handshake; the last one read is kept.
        if (SSL_SESSION* s = SSL_get1_session(ssl); s && SSL_SESSION_is_resumable(s)) {
            SSL_SESSION_free(FSession);
            FSession = s;
        } else {
            SSL_SESSION_free(s);
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ::close(fd);
    return ok && reply.rfind("HTTP/1.1 200 ", 0) == 0 && reply.size() >= 11 &&
           reply.compare(reply.size() - 11, 11, "{\"ok\":true}") == 0;
}

QByteArray FeedbackBody(const QString& AEmail, const QString& AMessage) {
    return FormBody(FeedbackFields(
        AEmail, AMessage, QStringLiteral("1.0.31.6"),
        OSVersionTextFrom("6.1.0-28-amd64", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
                          "x86_64"),
        QString(64, QLatin1Char('a'))));
}

QString IntegrityCheck(const QString& ADb) {
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(ADb).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

QStringList StoredMessages(const QString& ADb) {
    QList<service::StoredFeedback> posts;
    QString err;
    service::ReadFeedback(ADb, {}, posts, err);
    QStringList out;
    for (const auto& p : posts)
        out << p.post.message;
    return out;
}

} // namespace halvora::test
