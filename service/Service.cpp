#include "Service.h"

#include "FeedbackForm.h"
#include "FeedbackStore.h"

#include <httplib.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <set>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace halvora::service {

namespace {

const size_t kMaxFeedbackBytes = 64 * 1024;
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

bool IsLoopback(const std::string& AHost) {
    return AHost == "localhost" || AHost == "::1" || AHost.rfind("127.", 0) == 0;
}

// Posts per client address within the last minute.
class RateLimiter {
public:
    explicit RateLimiter(int APerMinute) : limit(APerMinute) {}

    bool Allow(const std::string& AClient) {
        if (limit <= 0)
            return true;
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex);
        if (++calls % 4096 == 0)
            Prune(now);
        std::deque<Clock::time_point>& times = seen[AClient];
        while (!times.empty() && now - times.front() >= std::chrono::minutes(1))
            times.pop_front();
        if (times.size() >= size_t(limit))
            return false;
        times.push_back(now);
        return true;
    }

private:
    using Clock = std::chrono::steady_clock;
    void Prune(Clock::time_point ANow) {
        for (auto it = seen.begin(); it != seen.end();) {
            if (it->second.empty() || ANow - it->second.back() >= std::chrono::minutes(1))
                it = seen.erase(it);
            else
                ++it;
        }
    }
    int limit;
    std::mutex mutex;
    std::map<std::string, std::deque<Clock::time_point>> seen;
    unsigned calls = 0;
};

class Service {
public:
    explicit Service(const ServiceOptions& AOptions)
        : options(AOptions), limiter(AOptions.postsPerMinute) {}

    int Run();

private:
    std::string ClientOf(const httplib::Request& AReq) const;
    void ServeFile(const httplib::Request& AReq, httplib::Response& ARes);
    void TakeFeedback(const httplib::Request& AReq, const std::string& ABody,
                      httplib::Response& ARes);
    void Log(const httplib::Request& AReq, const httplib::Response& ARes);

    ServiceOptions options;
    RateLimiter limiter;
    FeedbackStore store;
    std::string siteRoot;          // real path of the site folder
    std::string updateRoot;        // real path of its update folder: nothing outside is served
    std::set<std::string> trusted; // the trusted proxies, as the peer addresses read
};

std::string Service::ClientOf(const httplib::Request& AReq) const {
    if (!trusted.count(AReq.remote_addr))
        return AReq.remote_addr;
    // The proxy appends the address it saw; earlier entries are the client's own claims.
    const size_t n = AReq.get_header_value_count("X-Forwarded-For");
    if (n == 0)
        return AReq.remote_addr;
    std::string list = AReq.get_header_value("X-Forwarded-For", n - 1);
    const size_t comma = list.rfind(',');
    if (comma != std::string::npos)
        list = list.substr(comma + 1);
    const size_t b = list.find_first_not_of(" \t"), e = list.find_last_not_of(" \t");
    return b == std::string::npos ? AReq.remote_addr : list.substr(b, e - b + 1);
}

void Service::ServeFile(const httplib::Request& AReq, httplib::Response& ARes) {
    ARes.status = 404;
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
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    ARes.set_header("ETag", tag);
    ARes.set_header("Last-Modified", HttpDate(st.st_mtim.tv_sec));
    // Published names never change content, but the two lists do.
    const bool list = ContentType(rel) == "application/json";
    ARes.set_header("Cache-Control", list ? "no-cache" : "public, max-age=3600");
    ARes.set_header("Accept-Ranges", "bytes");
    bool notModified = false;
    if (AReq.has_header("If-None-Match")) {
        const std::string inm = AReq.get_header_value("If-None-Match");
        notModified = inm == "*" || inm.find(tag) != std::string::npos;
    } else if (AReq.has_header("If-Modified-Since")) {
        time_t since = 0;
        notModified = ParseHttpDate(AReq.get_header_value("If-Modified-Since"), since) &&
                      st.st_mtim.tv_sec <= since;
    }
    if (notModified) {
        ::close(fd);
        ARes.status = 304;
        return;
    }
    // A part is sent only of the very file the client holds the rest of (If-Range).
    ByteRange range;
    if (AReq.has_header("Range") &&
        (!AReq.has_header("If-Range") ||
         IfRangeHolds(AReq.get_header_value("If-Range"), tag, st.st_mtim.tv_sec)))
        range = ParseByteRange(AReq.get_header_value("Range"), (unsigned long long)st.st_size);
    // The library's own range handling would answer 200 with a part of the body; this
    // handler answers ranges itself.
    const_cast<httplib::Request&>(AReq).ranges.clear();
    if (range.kind == ByteRange::Unsatisfiable) {
        ::close(fd);
        ARes.status = 416;
        ARes.set_header("Content-Range", "bytes */" + std::to_string(st.st_size));
        return;
    }
    off_t first = 0;
    size_t length = size_t(st.st_size);
    ARes.status = 200;
    if (range.kind == ByteRange::Part) {
        first = off_t(range.first);
        length = size_t(range.last - range.first + 1);
        ARes.status = 206;
        ARes.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                             std::to_string(range.last) + "/" +
                                             std::to_string(st.st_size));
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* AFd) {
        ::close(*AFd);
        delete AFd;
    });
    ARes.set_content_provider(
        length, ContentType(rel),
        [file, first](size_t AOffset, size_t ALength, httplib::DataSink& ASink) {
            std::vector<char> buf(std::min<size_t>(ALength, 256 * 1024));
            const ssize_t n = ::pread(*file, buf.data(), buf.size(), first + off_t(AOffset));
            if (n <= 0)
                return false; // the file shrank: end the connection rather than send garbage
            return ASink.write(buf.data(), size_t(n));
        });
}

void Service::TakeFeedback(const httplib::Request& AReq, const std::string& ABody,
                           httplib::Response& ARes) {
    const std::string client = ClientOf(AReq);
    auto refuse = [&](int AStatus, const QString& AText) {
        ARes.status = AStatus;
        ARes.set_content(JsonError(AText), "application/json");
    };
    if (!limiter.Allow(client)) {
        ARes.set_header("Retry-After", "60");
        return refuse(429, QStringLiteral("too many messages from this address; please try "
                                          "again in a minute"));
    }
    const std::string type = AReq.get_header_value("Content-Type");
    if (QString::fromStdString(type)
            .section(QLatin1Char(';'), 0, 0)
            .trimmed()
            .compare(QStringLiteral("application/x-www-form-urlencoded"), Qt::CaseInsensitive) != 0)
        return refuse(415, QStringLiteral("the body must be a form"));
    FeedbackPost post;
    QString err;
    if (!ParseFeedbackForm(ABody, post, err))
        return refuse(400, err);
    if (!store.Add(post, QString::fromStdString(client), err)) {
        std::fprintf(stderr, "halvora-service: cannot store feedback: %s\n", qPrintable(err));
        return refuse(503, QStringLiteral("the message could not be stored; please try again "
                                          "later"));
    }
    ARes.status = 200;
    ARes.set_content("{\"ok\":true}", "application/json");
}

void Service::Log(const httplib::Request& AReq, const httplib::Response& ARes) {
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
    const size_t bytes = ARes.content_provider_ ? ARes.content_length_ : ARes.body.size();
    std::fprintf(stderr, "%s %s \"%s %s\" %d %zu\n", when, LogSafe(ClientOf(AReq)).c_str(),
                 LogSafe(AReq.method).c_str(), LogSafe(AReq.target).c_str(), ARes.status, bytes);
}

int Service::Run() {
    for (const QString& proxy : options.trustedProxies)
        trusted.insert(proxy.toStdString());
    char* real = ::realpath(QFile::encodeName(options.site).constData(), nullptr);
    if (!real) {
        std::fprintf(stderr, "halvora-service: the site folder %s is not there\n",
                     qPrintable(options.site));
        return 1;
    }
    siteRoot = real;
    std::free(real);
    real = ::realpath((siteRoot + "/update").c_str(), nullptr);
    updateRoot = real ? real : siteRoot + "/update";
    std::free(real);
    QString err;
    if (!store.Open(options.db, err)) {
        std::fprintf(stderr, "halvora-service: %s\n", qPrintable(err));
        return 1;
    }

    std::unique_ptr<httplib::Server> srv;
    if (!options.tlsCert.isEmpty()) {
        const QByteArray cert = QFile::encodeName(options.tlsCert);
        const QByteArray key = QFile::encodeName(options.tlsKey);
        srv = std::make_unique<httplib::SSLServer>([&](SSL_CTX& ACtx) {
            SSL_CTX_set_min_proto_version(&ACtx, TLS1_2_VERSION);
            SSL_CTX_set_options(&ACtx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
            // One TLS 1.3 ticket rather than two: a client that resumes needs one, and most
            // clients (one post, then gone) never use theirs.
            SSL_CTX_set_num_tickets(&ACtx, 1);
            return SSL_CTX_use_certificate_chain_file(&ACtx, cert.constData()) == 1 &&
                   SSL_CTX_use_PrivateKey_file(&ACtx, key.constData(), SSL_FILETYPE_PEM) == 1 &&
                   SSL_CTX_check_private_key(&ACtx) == 1;
        });
        if (!srv->is_valid()) {
            std::fprintf(stderr, "halvora-service: cannot use the certificate %s with the key %s\n",
                         cert.constData(), key.constData());
            return 1;
        }
    } else {
        srv = std::make_unique<httplib::Server>();
    }
    const size_t threads = size_t(std::max(2, options.threads));
    srv->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    srv->set_payload_max_length(kMaxFeedbackBytes);
    // A response goes out in more than one write; Nagle would hold the rest back until the
    // client acknowledges the first.
    srv->set_tcp_nodelay(true);
    srv->set_keep_alive_max_count(100);
    srv->set_keep_alive_timeout(5);
    srv->set_read_timeout(20);
    srv->set_write_timeout(60);
    srv->set_pre_routing_handler([](const httplib::Request& AReq, httplib::Response& ARes) {
        // The program never compresses its posts; a compressed body could expand far past
        // the size limit.
        if (AReq.has_header("Content-Encoding") &&
            AReq.get_header_value("Content-Encoding") != "identity") {
            ARes.status = 415;
            ARes.set_content(JsonError(QStringLiteral("compressed bodies are not accepted")),
                             "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    srv->Get("/update/.*", [this](const httplib::Request& AReq, httplib::Response& ARes) {
        ServeFile(AReq, ARes);
    });
    // The body is read here rather than by the library, whose own form handling stops far
    // below the size the program may send.
    srv->Post(kFeedbackPath, [this](const httplib::Request& AReq, httplib::Response& ARes,
                                    const httplib::ContentReader& AReader) {
        std::string body;
        bool tooLong = false;
        const bool read = AReader([&](const char* AData, size_t ALen) {
            tooLong = body.size() + ALen > kMaxFeedbackBytes;
            if (!tooLong)
                body.append(AData, ALen);
            return !tooLong;
        });
        if (!read || tooLong) {
            const bool over = tooLong || ARes.status == 413;
            ARes.status = over ? 413 : 400;
            ARes.set_content(JsonError(over ? QStringLiteral("the message is too long")
                                            : QStringLiteral("the body could not be read")),
                             "application/json");
            return;
        }
        TakeFeedback(AReq, body, ARes);
    });
    srv->set_error_handler([this](const httplib::Request& AReq, httplib::Response& ARes) {
        if (!ARes.body.empty() || ARes.content_provider_)
            return;
        // The library refuses a Range value it cannot read before any handler runs; such a
        // header is ignored instead and the whole file served.
        if (ARes.status == 416 && !ARes.has_header("Content-Range") &&
            (AReq.method == "GET" || AReq.method == "HEAD") &&
            AReq.path.rfind(kUpdatePrefix, 0) == 0) {
            ServeFile(AReq, ARes);
            if (ARes.status != 404)
                return;
        }
        if (AReq.path == kFeedbackPath)
            ARes.set_content(JsonError(ARes.status == 413
                                           ? QStringLiteral("the message is too long")
                                           : QStringLiteral("request refused")),
                             "application/json");
        else if (ARes.status == 404)
            ARes.set_content("not found\n", "text/plain");
    });
    srv->set_logger(
        [this](const httplib::Request& AReq, const httplib::Response& ARes) { Log(AReq, ARes); });

    int port = options.port;
    if (port == 0)
        port = srv->bind_to_any_port(options.host);
    else if (!srv->bind_to_port(options.host, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "halvora-service: cannot listen on %s:%d\n", options.host.c_str(),
                     options.port);
        store.Close();
        return 1;
    }
    std::fprintf(stderr, "halvora-service: listening on %s:%d (%s)\n", options.host.c_str(), port,
                 options.tlsCert.isEmpty() ? "http" : "https");

    // SIGTERM and SIGINT are blocked in every thread; this one waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        srv->stop();
    });
    const bool served = srv->listen_after_bind();
    // listen ended by itself (an error): wake the waiter.
    ::pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    // Every request in flight has been answered by now; their rows are committed.
    store.Close();
    std::fprintf(stderr, "halvora-service: stopped\n");
    return served ? 0 : 1;
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

bool ParseServiceArgs(const QStringList& AArgs, ServiceOptions& AOut, QString& AErr) {
    AOut = {};
    for (qsizetype i = 0; i < AArgs.size(); ++i) {
        const QString& a = AArgs[i];
        auto value = [&](QString& AValue) {
            if (i + 1 >= AArgs.size()) {
                AErr = a + QStringLiteral(" needs a value");
                return false;
            }
            AValue = AArgs[++i];
            return true;
        };
        const std::map<QString, QString*> texts{{QStringLiteral("--site"), &AOut.site},
                                                {QStringLiteral("--db"), &AOut.db},
                                                {QStringLiteral("--tls-cert"), &AOut.tlsCert},
                                                {QStringLiteral("--tls-key"), &AOut.tlsKey}};
        QString v;
        if (const auto it = texts.find(a); it != texts.end()) {
            if (!value(*it->second))
                return false;
        } else if (a == QStringLiteral("--trusted-proxy")) {
            if (!value(v))
                return false;
            AOut.trustedProxies << v;
        } else if (a == QStringLiteral("--posts-per-minute") || a == QStringLiteral("--threads")) {
            bool ok = false;
            if (!value(v))
                return false;
            const int n = v.toInt(&ok);
            if (!ok || n < 0 || n > 100000) {
                AErr = QStringLiteral("%1: not a number: %2").arg(a, v);
                return false;
            }
            (a == QStringLiteral("--threads") ? AOut.threads : AOut.postsPerMinute) = n;
        } else if (a == QStringLiteral("--listen")) {
            if (!value(v))
                return false;
            const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
            bool ok = false;
            const int port = colon > 0 ? v.mid(colon + 1).toInt(&ok) : -1;
            QString host = v.left(colon);
            if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
                host = host.mid(1, host.size() - 2);
            if (!ok || port < 0 || port > 65535 || host.isEmpty()) {
                AErr = QStringLiteral("--listen wants ADDR:PORT, not %1").arg(v);
                return false;
            }
            AOut.host = host.toStdString();
            AOut.port = port;
        } else {
            AErr = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
    }
    if (AOut.site.isEmpty() || AOut.db.isEmpty()) {
        AErr = QStringLiteral("--site and --db are needed");
        return false;
    }
    if (AOut.tlsCert.isEmpty() != AOut.tlsKey.isEmpty()) {
        AErr = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    if (AOut.tlsCert.isEmpty() && !IsLoopback(AOut.host)) {
        AErr = QStringLiteral("without --tls-cert and --tls-key the service listens only on a "
                              "loopback address, behind a reverse proxy");
        return false;
    }
    return true;
}

int RunService(const ServiceOptions& AOptions) {
    Service s(AOptions);
    return s.Run();
}

} // namespace halvora::service
