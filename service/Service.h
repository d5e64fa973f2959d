#pragma once

#include "HttpServer.h"
#include "UpdateFiles.h"

#include <QString>
#include <QStringList>
#include <string>

namespace halvora::service {

struct ServiceOptions {
    QString site; // the folder holding update/
    QString db;   // the feedback database
    std::string host = "127.0.0.1";
    int port = 8443; // 0: any free port (the log's first line names it)
    QString tlsCert; // PEM chain; with tlsKey, the service speaks HTTPS
    QString tlsKey;
    QStringList trustedProxies; // peers whose X-Forwarded-For names the client
    int postsPerMinute = 10;    // per IPv4 address or IPv6 /64; 0: no limit
    int threads = 4;            // the server's event loops
    HttpOptions http;           // connection and request limits (host, port, threads above)
};

// Reads "--site DIR --db FILE --listen ADDR:PORT ..." (see the usage text); false with AErr.
bool ParseServiceArgs(const QStringList& AArgs, ServiceOptions& AOut, QString& AErr);

// Serves until SIGTERM or SIGINT; gives the process's exit code. The two signals must be
// blocked in every thread before the call (the service waits for them on a thread of its own).
int RunService(const ServiceOptions& AOptions);

} // namespace halvora::service
