#pragma once

#include "HttpServer.h"

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

// The part of a request path below "/update/" as a relative file path, or empty when it names
// no plain file of the tree: empty or "." or ".." elements, hidden names, backslashes and NULs
// are refused in the decoded path.
std::string SafeRelativePath(const std::string& ADecodedPath);

// What a Range header asks of a file of ASize bytes. Only one range of bytes is served as a
// part; several ranges, another unit or a malformed value get the whole file.
struct ByteRange {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    unsigned long long first = 0, last = 0; // inclusive, for Part
};
ByteRange ParseByteRange(const std::string& AHeader, unsigned long long ASize);

} // namespace halvora::service
