#include "Service.h"

#include "FeedbackForm.h"
#include "FeedbackStore.h"
#include "HttpServer.h"
#include "RateLimiter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::service {

namespace {

const char kFeedbackPath[] = "/halvora/feedback";
const char kUpdatePrefix[] = "/update/";

std::string JsonError(const QString& AText) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), AText}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

std::string HttpDate(time_t ATime) {
    std::tm tm{};
    ::gmtime_r(&ATime, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

bool ParseHttpDate(const std::string& AText, time_t& AOut) {
    std::tm tm{};
    const char* end = ::strptime(AText.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (!end || *end)
        return false;
    AOut = ::timegm(&tm);
    return true;
}

std::string ContentType(const std::string& AName) {
    auto endsWith = [&](const char* ASuffix) {
        const size_t n = std::strlen(ASuffix);
        return AName.size() >= n && AName.compare(AName.size() - n, n, ASuffix) == 0;
    };
    if (endsWith(".json"))
        return "application/json";
    if (endsWith(".gz") || endsWith(".tgz"))
        return "application/gzip";
    if (endsWith(".zip"))
        return "application/zip";
    if (endsWith(".txt"))
        return "text/plain; charset=utf-8";
    return "application/octet-stream";
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

// If-Range: the strong tag itself, or the exact modification date when that is at least a second
// old (a file changed twice within its second would otherwise look unchanged).
bool IfRangeHolds(const std::string& AValue, const std::string& ATag, time_t AModified) {
    if (!AValue.empty() && (AValue[0] == '"' || AValue.rfind("W/", 0) == 0))
        return AValue == ATag;
    time_t date = 0;
    return ParseHttpDate(AValue, date) && date == AModified && AModified < std::time(nullptr);
}

const char kJson[] = "application/json";

void SetJson(HttpReply& AReply, int AStatus, const std::string& ABody) {
    AReply.status = AStatus;
    AReply.body = ABody;
    AReply.headers.emplace_back("Content-Type", kJson);
}

// The client's copy (by If-None-Match, else If-Modified-Since) is the current one.
bool NotModified(const HttpRequest& AReq, const std::string& ATag, time_t AModified) {
    if (AReq.Has("If-None-Match")) {
        const std::string inm = AReq.Value("If-None-Match");
        return inm == "*" || inm.find(ATag) != std::string::npos;
    }
    time_t since = 0;
    return AReq.Has("If-Modified-Since") && ParseHttpDate(AReq.Value("If-Modified-Since"), since) &&
           AModified <= since;
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
    void ServeFile(const HttpRequest& AReq, HttpReply& ARes);
    void TakeFeedback(const HttpRequest& AReq, HttpReply& ARes);
    bool Prepare(HttpOptions& AOut);

    ServiceOptions options;
    RateLimiter limiter;
    FeedbackStore store;
    std::string siteRoot;          // real path of the site folder
    std::string updateRoot;        // real path of its update folder: nothing outside is served
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
    if (AReq.path.rfind(kUpdatePrefix, 0) == 0)
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
        ServeFile(AReq, ARes);
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

void Service::ServeFile(const HttpRequest& AReq, HttpReply& ARes) {
    ARes.status = 404;
    ARes.headers = {{"Content-Type", "text/plain"}};
    ARes.body = "not found\n";
    const std::string rel = SafeRelativePath(AReq.path);
    if (rel.empty())
        return;
    // Links are resolved and must stay inside the site folder.
    char* real = ::realpath((siteRoot + kUpdatePrefix + rel).c_str(), nullptr);
    if (!real)
        return;
    const std::string path = real;
    std::free(real);
    if (path.rfind(updateRoot + "/", 0) != 0)
        return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0)
        return;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return; // folders are never listed
    }
    ARes.body.clear();
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    // Published names never change content, but the two lists do.
    const bool list = ContentType(rel) == kJson;
    ARes.headers = {{"ETag", tag},
                    {"Last-Modified", HttpDate(st.st_mtim.tv_sec)},
                    {"Cache-Control", list ? "no-cache" : "public, max-age=3600"},
                    {"Accept-Ranges", "bytes"}};
    if (NotModified(AReq, tag, st.st_mtim.tv_sec)) {
        ::close(fd);
        ARes.status = 304;
        return;
    }
    // A part is sent only of the very file the client holds the rest of (If-Range).
    ByteRange range;
    if (AReq.Has("Range") &&
        (!AReq.Has("If-Range") || IfRangeHolds(AReq.Value("If-Range"), tag, st.st_mtim.tv_sec)))
        range = ParseByteRange(AReq.Value("Range"), (unsigned long long)st.st_size);
    const std::string size = std::to_string(st.st_size);
    if (range.kind == ByteRange::Unsatisfiable) {
        ::close(fd);
        ARes.status = 416;
        ARes.headers.emplace_back("Content-Range", "bytes */" + size);
        return;
    }
    ARes.headers.emplace_back("Content-Type", ContentType(rel));
    ARes.status = range.kind == ByteRange::Part ? 206 : 200;
    ARes.fd = fd;
    ARes.offset = range.kind == ByteRange::Part ? range.first : 0;
    ARes.length = range.kind == ByteRange::Part ? range.last - range.first + 1
                                                : (unsigned long long)st.st_size;
    if (range.kind == ByteRange::Part)
        ARes.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                       std::to_string(range.last) + "/" + size);
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
    char* real = ::realpath(QFile::encodeName(options.site).constData(), nullptr);
    if (!real) {
        std::fprintf(stderr, "halvora-service: the site folder %s is not there\n",
                     qPrintable(options.site));
        return false;
    }
    siteRoot = real;
    std::free(real);
    real = ::realpath((siteRoot + "/update").c_str(), nullptr);
    updateRoot = real ? real : siteRoot + "/update";
    std::free(real);
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

std::string SafeRelativePath(const std::string& ADecodedPath) {
    if (ADecodedPath.rfind(kUpdatePrefix, 0) != 0)
        return {};
    const std::string rel = ADecodedPath.substr(std::strlen(kUpdatePrefix));
    if (rel.empty() || rel.find('\\') != std::string::npos || rel.find('\0') != std::string::npos)
        return {};
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        const std::string part = rel.substr(start, slash - start);
        // Empty parts (doubled or trailing slashes), "." and "..", and hidden names such as a
        // publisher's files in progress.
        if (part.empty() || part[0] == '.')
            return {};
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return rel;
}

ByteRange ParseByteRange(const std::string& AHeader, unsigned long long ASize) {
    auto trim = [](const std::string& AText) {
        const size_t b = AText.find_first_not_of(" \t"), e = AText.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : AText.substr(b, e - b + 1);
    };
    // Digits only, saturating: a position past any file is simply past this one.
    auto number = [](const std::string& AText, unsigned long long& AOut) {
        if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        AOut = 0;
        for (char c : AText)
            AOut = AOut > (~0ull - 9) / 10 ? ~0ull : AOut * 10 + unsigned(c - '0');
        return true;
    };
    const std::string value = trim(AHeader);
    const size_t eq = value.find('=');
    if (eq != 5 || ::strncasecmp(value.c_str(), "bytes", 5) != 0)
        return {};
    const std::string range = trim(value.substr(eq + 1));
    const size_t dash = range.find('-');
    if (dash == std::string::npos || range.find(',') != std::string::npos)
        return {};
    const std::string a = range.substr(0, dash), z = range.substr(dash + 1);
    unsigned long long first = 0, last = ~0ull;
    if (a.empty()) {
        // The last n bytes.
        unsigned long long n = 0;
        if (!number(z, n))
            return {};
        if (n == 0 || ASize == 0)
            return {ByteRange::Unsatisfiable};
        first = ASize - std::min(n, ASize);
    } else if (!number(a, first) || (!z.empty() && (!number(z, last) || last < first))) {
        return {};
    }
    if (first >= ASize)
        return {ByteRange::Unsatisfiable};
    return {ByteRange::Part, first, std::min(last, ASize - 1)};
}

int RunService(const ServiceOptions& AOptions) {
    Service s(AOptions);
    return s.Run();
}

} // namespace halvora::service
