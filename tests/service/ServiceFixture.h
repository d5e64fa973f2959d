#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace httplib {
class SSLClient;
}
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;

namespace halvora::test {

// A served folder with an empty component list and one 100 KB archive, and a fresh database.
struct UpdateSite {
    UpdateSite();
    QString root, db;
};

// The built programs (build/bin/halvora-service, build/bin/halvora-publish).
QString ServiceProgram();
QString PublishProgram();

// Runs halvora-publish; gives its exit code (-1 when it died of a signal) and its error output.
int RunPublish(const QString& ARelease, const QString& ASite, QString* AOutput = nullptr,
               const QByteArray& AKillAt = {});

// halvora-service as a separate process on 127.0.0.1, over HTTPS with the test CA's certificate
// (or plain HTTP), its log in a file.
class ServiceProcess {
public:
    ServiceProcess(const QString& ASite, const QString& ADb, const QStringList& AExtra = {},
                   bool ATls = true);
    ~ServiceProcess();
    bool started() const { return FPort > 0; }
    int port() const { return FPort; }
    qint64 pid() const { return FProc.processId(); }
    QString baseUrl() const;
    QByteArray log() const;
    // A client that trusts the test CA and sends paths exactly as given.
    std::unique_ptr<httplib::SSLClient> client() const;
    // SIGTERM, then the exit code (-1 when it did not end normally).
    int terminate();
    void kill();

private:
    QProcess FProc;
    QString FLog;
    bool FTls = true;
    int FPort = 0;
};

// Feedback posts over a new connection each, offering the TLS session of the connection before,
// as a client that keeps its sessions does (the library's client never resumes).
class ResumingPoster {
public:
    explicit ResumingPoster(int APort);
    ~ResumingPoster();
    ResumingPoster(const ResumingPoster&) = delete;
    ResumingPoster& operator=(const ResumingPoster&) = delete;
    // True when the service answered 200 {"ok":true}.
    bool Post(const QByteArray& ABody);
    // Whether the last connection resumed the session instead of a full handshake.
    bool resumed() const { return FResumed; }

private:
    int FPort;
    SSL_CTX* FCtx = nullptr;
    SSL_SESSION* FSession = nullptr;
    bool FResumed = false;
};

// A form body as the desktop program builds it.
QByteArray FeedbackBody(const QString& AEmail, const QString& AMessage);

// PRAGMA integrity_check of a database, and the messages it stores.
QString IntegrityCheck(const QString& ADb);
QStringList StoredMessages(const QString& ADb);

} // namespace halvora::test
