#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

// One blocking HTTP request over libcurl, the only HTTP client of the program (updates,
// components and feedback). Safe to call from any thread; each call uses its own easy handle.
// Settings fixed for every request: TLS 1.2 minimum, https only (also for redirects),
// at most AMaxRedirects redirects, the system's trust store plus the PEM file named by
// HALVORA_CA_FILE, no credentials. curl_global_init must have run (HttpGlobalInit).
namespace halvora {

struct HttpRequest {
    QString url;
    QByteArray method = "GET";                    // "GET" or "POST"
    QList<QPair<QByteArray, QByteArray>> headers; // extra request headers, name and value
    QByteArray body;                              // POST body, sent as it is
    int connectTimeoutMs = 10000;                 // limit for setting up the connection
    int responseTimeoutMs = 10000;                // longest wait with no response data arriving
    int maxRedirects = 5;
    // Also plain http (and redirects to it): only for a stream link the user typed, which
    // ffmpeg would fetch that way anyway. Never for the service.
    bool allowHttp = false;
    QString cookieFile;    // a Netscape cookies.txt sent from (never written); empty: none
    bool tls13Max = false; // also cap at TLS 1.3 (it is the highest anyway; kept explicit)
    // More body bytes than this end the transfer with an error, so an endless reply can't
    // exhaust memory or disk. 0: no limit for a sink, 512 MiB for a body kept in memory.
    qint64 maxBodyBytes = 0;
    // When set, the body is handed here as it arrives instead of being kept; returning false
    // aborts the transfer (the write error then becomes the result's error text).
    std::function<bool(const char* AData, size_t ALen)> sink;
    // Asked while the transfer runs (at least once a second); true abandons it with the
    // error text "cancelled".
    std::function<bool()> cancel;
};

struct HttpResult {
    bool transportOk = false; // the exchange completed (whatever the status)
    long status = 0;          // final status code, 0 when none was received
    QByteArray body;          // the body, unless a sink took it
    QString error;            // libcurl's own error text when !transportOk
    QString finalUrl;         // where the reply came from, redirects followed
};

HttpResult HttpPerform(const HttpRequest& ARequest);

// The extra trust anchors (HALVORA_CA_FILE) of one handle, and why they could not be added.
struct TrustAnchors {
    QByteArray caFile;
    QString error;
};
// The rules above (protocols, redirects, TLS, trust anchors, cookies file, connection timeout)
// on an easy handle (CURL*) set up elsewhere, such as the segment fetcher's. AAnchors must
// live as long as the handle.
void ApplyConnectionRules(void* AHandle, const HttpRequest& ARequest, TrustAnchors* AAnchors);

// Runs curl_global_init once; call from main() before any thread starts (tests call it too).
void HttpGlobalInit();

// The service's base address: HALVORA_SERVICE_URL from the environment, else the build setting.
// Never ends with '/'.
QString ServiceBaseUrl();

} // namespace halvora
