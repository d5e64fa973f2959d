#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

namespace halvora::test {

// A small HTTP/1.1 server on 127.0.0.1 (a random free port) for tests, running on threads of its
// own so that blocking clients can be driven from the test's thread. One connection per request
// ("Connection: close" on every reply); files answer one "Range: bytes=a-b" with 206. HTTPS uses
// certificates made at run time by a test CA;
// point clients at caFile() (or call exportServiceEnv()).
//
// Typical use:
//     TestHttpServer srv;                                   // HTTPS, started
//     srv.route("/update/components.json", TestHttpServer::Json(R"({"components":[]})"));
//     srv.serveFolder("/update/components/", dir);
//     srv.exportServiceEnv();                               // HALVORA_SERVICE_URL, HALVORA_CA_FILE
//     ... run the code under test ...
//     EXPECT_EQ(srv.requests().size(), 1);
//
// Configure routes from the test's thread; they may be changed while the server runs.
class TestHttpServer {
public:
    enum class Mode {
        Http,              // plain HTTP
        Https,             // TLS 1.2/1.3 with a certificate of the test CA
        HttpsTls11Only,    // only TLS 1.1 is offered (weak ciphers allowed on the server side)
        HttpsUntrusted,    // TLS with a self-signed certificate the test CA did not issue
        TlsNeverCompletes, // accepts the TCP connection, then never says a thing
        NeverAnswers,      // reads and records the request, then sends nothing until closed
    };

    // What goes wrong while a reply is sent.
    enum class Fault {
        None,
        ShortBody,         // declares the full Content-Length, sends faultAfter bytes, closes
        CloseMidBody,      // same on the wire as ShortBody: the connection drops mid-body
        StallAfterHeaders, // sends the headers, then nothing until the client gives up
        StallMidBody,      // sends faultAfter bytes of the body, then nothing until the client goes
        EndlessBody,       // no Content-Length, data forever until the client gives up
        NoReply,           // sends nothing at all until the client gives up
        Reset,             // sends faultAfter bytes of the body, then resets the connection
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QString file; // when set, the body is this file's content, streamed from disk
        QList<QPair<QByteArray, QByteArray>> headers; // extra reply headers
        Fault fault = Fault::None;
        qint64 faultAfter =
            -1;          // body bytes sent before ShortBody/CloseMidBody/StallMidBody; -1: half
        int delayMs = 0; // wait this long before answering
    };

    struct Request {
        QByteArray method;
        QByteArray path; // the request target as sent, query included
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray& AName) const; // first match, case-insensitive
    };

    // Starts listening at once; isListening() tells whether that worked.
    explicit TestHttpServer(Mode AMode = Mode::Https);
    ~TestHttpServer(); // stops: drops open connections and joins every thread
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool isListening() const;
    quint16 port() const;
    // "https://127.0.0.1:PORT" (or http://), no trailing '/'.
    QString baseUrl() const;
    // baseUrl() + APath (APath starts with '/').
    QString url(const QString& APath) const;

    // PEM file of the test CA (the same for every server of the process).
    static QString caFile();
    // PEM files of a server certificate for 127.0.0.1 that the test CA issued, and its key.
    static QString serverCertFile();
    static QString serverKeyFile();
    // Sets HALVORA_SERVICE_URL to baseUrl() and HALVORA_CA_FILE to caFile().
    void exportServiceEnv() const;

    // Files below AFolder answer GET AUrlPrefix + relative path (AUrlPrefix ends with '/').
    void serveFolder(const QString& AUrlPrefix, const QString& AFolder);
    // A fixed reply for one exact path (query included when the client sends one).
    // Routes take precedence over folders.
    void route(const QString& APath, const Reply& AReply);
    // APath answers the replies in turn, one a request; the last one then stays.
    void routeSequence(const QString& APath, const QList<Reply>& AReplies);
    // Requests below APrefix without each header (its value containing the one given) are
    // answered 403.
    void requireHeaders(const QString& APrefix,
                        const QList<QPair<QByteArray, QByteArray>>& AHeaders);
    // Each connection sends at most this many body bytes a second (0: no limit).
    void setBytesPerSecond(qint64 ARate);
    // 404 for APath, even when a served folder has such a file.
    void notFound(const QString& APath);
    // APath answers AStatus with Location: ATarget (an absolute URL or a path).
    void redirect(const QString& APath, const QString& ATarget, int AStatus = 302);
    // AHops redirects APrefix/1 -> APrefix/2 -> ... -> APrefix/AHops -> ATarget; returns the
    // absolute URL of the first hop.
    QString redirectChain(const QString& APrefix, int AHops, const QString& ATarget);
    // The reply for paths nothing else matches (404 "not found" unless set).
    void setDefaultReply(const Reply& AReply);

    // Every complete request received, in arrival order.
    QList<Request> requests() const;
    int requestCount() const;
    void clearRequests();
    // Every byte written to clients so far (headers and bodies, TLS records' payload).
    qint64 bytesSent() const;

    static Reply Json(const QByteArray& ABody, int AStatus = 200);
    static Reply Status(int AStatus, const QByteArray& ABody = {});
    static Reply File(const QString& APath, Fault AFault = Fault::None);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace halvora::test
