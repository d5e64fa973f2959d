#pragma once

#include "RequestChecks.h"

#include <memory>
#include <string>

namespace halvora::service {

// The server's limits, each a command-line option of halvora-service.
struct HttpOptions {
    std::string host = "127.0.0.1";
    int port = 8443;     // 0: any free port
    std::string certPem; // with keyPem: HTTPS (TLS 1.2 and 1.3)
    std::string keyPem;
    int threads = 4;                // event loops, each with its own epoll set
    unsigned maxConnections = 1000; // in all
    unsigned maxPerAddress = 32;    // from one client address; 0: no limit
    int headSeconds = 10;           // from accept (or the last reply) to the end of the head
    int bodySeconds = 60;           // from the end of the head to the end of the body
    int idleSeconds = 30;           // no byte either way
    HeadLimits head;
};

struct HttpRequest {
    std::string method, target, path, version; // path: percent-decoded, without the query
    std::string peer;                          // the peer's address, canonical text
    HeaderList headers;
    std::string body;
    bool Has(const char* AName) const;
    std::string Value(const char* AName) const; // the first of that name, or empty
};

struct HttpReply {
    int status = 200;
    HeaderList headers;
    std::string body;
    int fd = -1; // when set, the reply is ALength bytes of this file from AOffset (owned)
    unsigned long long offset = 0, length = 0;
    bool close = false;
};

class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    // The head alone, before any body is read: true when AReply refuses the request.
    virtual bool Screen(const HttpRequest& ARequest, HttpReply& AReply) = 0;
    // A refusal of the head by the server's own limits (AReply's status and text set): the
    // handler may give it its own form.
    virtual void Refused(const HttpRequest& ARequest, HttpReply& AReply) = 0;
    // The whole request. Called on a worker thread when Slow says so, else on an event loop.
    virtual void Handle(const HttpRequest& ARequest, HttpReply& AReply) = 0;
    // Whether handling the request may wait (on the disk, say).
    virtual bool Slow(const HttpRequest& ARequest) const = 0;
    // Once per request line, after the reply; status 0 when the library refused the head itself
    // (a 400 or 431 of its own) or the client left before the head was whole.
    virtual void Log(const HttpRequest& ARequest, const HttpReply& AReply) = 0;
};

// An HTTP/1.1 server on libmicrohttpd's epoll loops; see docs/service.md for why.
class HttpServer {
public:
    HttpServer(const HttpOptions& AOptions, HttpHandler& AHandler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens; false with AErr. port() then gives the bound port.
    bool Start(std::string& AErr);
    int port() const;
    // Takes no new connections, lets requests in progress finish (up to AGraceSeconds), stops.
    void Stop(int AGraceSeconds);

    struct Impl;

private:
    std::unique_ptr<Impl> FImpl;
};

} // namespace halvora::service
