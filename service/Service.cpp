#include "Service.h"

#include "FeedbackForm.h"
#include "FeedbackStore.h"
#include "HttpServer.h"
#include "RateLimiter.h"
#include "UpdateFiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <strings.h>

namespace halvora::service {

namespace {

const char kFeedbackPath[] = "/halvora/feedback";

std::string JsonError(const QString& AText) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), AText}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

// Control characters and quotes of a request line are shown escaped, so a client cannot forge
// log lines.
std::string LogSafe(const std::string& AText) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(std::min<size_t>(AText.size(), 512) + 16);
    for (size_t i = 0; i < AText.size() && i < 512; ++i) {
        const unsigned char c = static_cast<unsigned char>(AText[i]);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\')
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        else
            out += char(c);
    }
    return out;
}

const char kJson[] = "application/json";

void SetJson(HttpReply& AReply, int AStatus, const std::string& ABody) {
    AReply.status = AStatus;
    AReply.body = ABody;
    AReply.headers.emplace_back("Content-Type", kJson);
}

class Service : public HttpHandler {
public:
    explicit Service(const ServiceOptions& AOptions)
        : options(AOptions), limiter(AOptions.postsPerMinute) {}

    int Run();
    bool Screen(const HttpRequest& ARequest, HttpReply& AReply) override;
    void Refused(const HttpRequest& ARequest, HttpReply& AReply) override;
    void Handle(const HttpRequest& ARequest, HttpReply& AReply) override;
    // A post waits for its commit.
    bool Slow(const HttpRequest& ARequest) const override { return ARequest.path == kFeedbackPath; }
    void Log(const HttpRequest& ARequest, const HttpReply& AReply) override;

private:
    std::string ClientOf(const HttpRequest& AReq) const;
    void TakeFeedback(const HttpRequest& AReq, HttpReply& ARes);
    bool Prepare(HttpOptions& AOut);

    ServiceOptions options;
    RateLimiter limiter;
    FeedbackStore store;
    UpdateFiles files;
    std::set<std::string> trusted; // the trusted proxies, canonical
};

bool Service::Screen(const HttpRequest& AReq, HttpReply& ARes) {
    auto refuse = [&](int AStatus, const char* AAllow) {
        ARes.status = AStatus;
        ARes.headers.emplace_back("Allow", AAllow);
        ARes.headers.emplace_back("Content-Type", "text/plain");
        ARes.body = "method not allowed\n";
        return true;
    };
    if (AReq.path.rfind(kUpdatePathPrefix, 0) == 0)
        return AReq.method != "GET" && AReq.method != "HEAD" && refuse(405, "GET, HEAD");
    if (AReq.path != kFeedbackPath) {
        ARes.status = 404;
        ARes.headers.emplace_back("Content-Type", "text/plain");
        ARes.body = "not found\n";
        return true;
    }
    if (AReq.method != "POST") {
        refuse(405, "POST");
        ARes.headers.back().second = kJson;
        ARes.body = JsonError(QStringLiteral("only POST is accepted here"));
        return true;
    }
    // The program never compresses its posts; a compressed body could expand far past the
    // size limit.
    const std::string coding = AReq.Value("Content-Encoding");
    if (!coding.empty() && coding != "identity") {
        SetJson(ARes, 415, JsonError(QStringLiteral("compressed bodies are not accepted")));
        return true;
    }
    // A form, never multipart: the program sends nothing else.
    if (QString::fromStdString(AReq.Value("Content-Type"))
            .section(QLatin1Char(';'), 0, 0)
            .trimmed()
            .compare(QStringLiteral("application/x-www-form-urlencoded"), Qt::CaseInsensitive) !=
        0) {
        SetJson(ARes, 415, JsonError(QStringLiteral("the body must be a form")));
        return true;
    }
    return false;
}

void Service::Refused(const HttpRequest& AReq, HttpReply& ARes) {
    if (AReq.path != kFeedbackPath)
        return;
    ARes.headers.clear();
    SetJson(ARes, ARes.status,
            JsonError(ARes.status == 413 ? QStringLiteral("the message is too long")
                                         : QStringLiteral("request refused: ") +
                                               QString::fromStdString(ARes.body).trimmed()));
}

void Service::Handle(const HttpRequest& AReq, HttpReply& ARes) {
    if (AReq.path == kFeedbackPath)
        TakeFeedback(AReq, ARes);
    else
        files.Serve(AReq, ARes);
}

// The peer, or for a trusted proxy the address it appended to X-Forwarded-For (earlier
// entries are the client's own claims); empty when that is no IP address.
std::string Service::ClientOf(const HttpRequest& AReq) const {
    if (!trusted.count(AReq.peer))
        return AReq.peer;
    std::string last;
    bool seen = false;
    for (const auto& [name, value] : AReq.headers)
        if (::strcasecmp(name.c_str(), "X-Forwarded-For") == 0) {
            last = value;
            seen = true;
        }
    if (!seen)
        return AReq.peer;
    const size_t comma = last.rfind(',');
    return CanonicalAddress(comma == std::string::npos ? last : last.substr(comma + 1));
}

void Service::TakeFeedback(const HttpRequest& AReq, HttpReply& ARes) {
    const std::string client = ClientOf(AReq);
    auto refuse = [&](int AStatus, const QString& AText) {
        SetJson(ARes, AStatus, JsonError(AText));
    };
    if (client.empty())
        return refuse(400, QStringLiteral("the proxy's client address is not an IP address"));
    if (!limiter.Allow(RateKey(client))) {
        ARes.headers.emplace_back("Retry-After", "60");
        return refuse(429, QStringLiteral("too many messages from this address; please try "
                                          "again in a minute"));
    }
    FeedbackPost post;
    QString err;
    if (!ParseFeedbackForm(AReq.body, post, err))
        return refuse(400, err);
    if (!store.Add(post, QString::fromStdString(client), err)) {
        std::fprintf(stderr, "halvora-service: cannot store feedback: %s\n", qPrintable(err));
        return refuse(503, QStringLiteral("the message could not be stored; please try again "
                                          "later"));
    }
    SetJson(ARes, 200, "{\"ok\":true}");
}

void Service::Log(const HttpRequest& AReq, const HttpReply& ARes) {
    // The time text changes once a second; each thread keeps its own.
    thread_local time_t shown = -1;
    thread_local char when[32];
    const time_t now = std::time(nullptr);
    if (now != shown) {
        std::tm tm{};
        ::gmtime_r(&now, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
        shown = now;
    }
    std::string client = ClientOf(AReq);
    if (client.empty())
        client = AReq.peer;
    std::fprintf(stderr, "%s %s \"%s %s\" %d %llu\n", when, LogSafe(client).c_str(),
                 LogSafe(AReq.method).c_str(), LogSafe(AReq.target).c_str(), ARes.status,
                 ARes.length);
}

// The site folders and the store, and the server's options with the certificate read.
bool Service::Prepare(HttpOptions& AOut) {
    for (const QString& proxy : options.trustedProxies)
        trusted.insert(CanonicalAddress(proxy.toStdString()));
    if (!files.Open(options.site)) {
        std::fprintf(stderr, "halvora-service: the site folder %s is not there\n",
                     qPrintable(options.site));
        return false;
    }
    AOut = options.http;
    AOut.host = options.host;
    AOut.port = options.port;
    AOut.threads = options.threads;
    if (!options.tlsCert.isEmpty()) {
        QFile cert(options.tlsCert), key(options.tlsKey);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "halvora-service: cannot read %s or %s\n",
                         qPrintable(options.tlsCert), qPrintable(options.tlsKey));
            return false;
        }
        AOut.certPem = cert.readAll().toStdString();
        AOut.keyPem = key.readAll().toStdString();
    }
    QString err;
    if (!store.Open(options.db, err)) {
        std::fprintf(stderr, "halvora-service: %s\n", qPrintable(err));
        return false;
    }
    return true;
}

int Service::Run() {
    HttpOptions http;
    if (!Prepare(http))
        return 1;
    HttpServer server(http, *this);
    std::string err;
    if (!server.Start(err)) {
        std::fprintf(stderr, "halvora-service: %s\n", err.c_str());
        store.Close();
        return 1;
    }
    std::fprintf(stderr, "halvora-service: listening on %s:%d (%s)\n", http.host.c_str(),
                 server.port(), http.certPem.empty() ? "http" : "https");
    // SIGTERM and SIGINT are blocked in every thread; this one waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    // Requests in progress are answered and their rows committed before the store closes.
    server.Stop(20);
    store.Close();
    std::fprintf(stderr, "halvora-service: stopped\n");
    return 0;
}

} // namespace

int RunService(const ServiceOptions& AOptions) {
    Service s(AOptions);
    return s.Run();
}

} // namespace halvora::service
