#include "HttpServer.h"

#include "ConnectionDeadlines.h"
#include "WorkQueue.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <vector>

namespace halvora::service {

bool HttpRequest::Has(const char* AName) const {
    for (const auto& h : headers)
        if (::strcasecmp(h.first.c_str(), AName) == 0)
            return true;
    return false;
}

std::string HttpRequest::Value(const char* AName) const {
    for (const auto& h : headers)
        if (::strcasecmp(h.first.c_str(), AName) == 0)
            return h.second;
    return {};
}

namespace {

// TLS 1.2 and 1.3 only. GnuTLS has no compression any more and, as a server, never starts a
// renegotiation; a client's attempt ends the connection.
const char kTlsPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:%SAFE_RENEGOTIATION";

// One request from its request line to its reply.
struct Exchange {
    HttpRequest request;
    HttpReply reply;
    bool headSeen = false;
    bool active = false;  // counted among the requests a stop waits for
    bool handled = false; // by a worker, while the connection was suspended
    unsigned long long received = 0;
};

// What is read past the body limit before the connection is given up.
const unsigned long long kDiscardBytes = 1024 * 1024;

enum MHD_Result CollectHeader(void* AList, enum MHD_ValueKind, const char* AKey,
                              const char* AValue) {
    static_cast<HeaderList*>(AList)->emplace_back(AKey ? AKey : "", AValue ? AValue : "");
    return MHD_YES;
}

std::string PeerOf(MHD_Connection* AConnection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(AConnection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                    sizeof text);
    return CanonicalAddress(text);
}

struct FilePart {
    int fd;
    unsigned long long offset;
};

ssize_t ReadFilePart(void* APart, uint64_t APos, char* ABuf, size_t AMax) {
    const auto* part = static_cast<FilePart*>(APart);
    const ssize_t n = ::pread(part->fd, ABuf, AMax, off_t(part->offset + APos));
    // A file that shrank ends the connection rather than send garbage.
    return n > 0 ? n : ssize_t(MHD_CONTENT_READER_END_WITH_ERROR);
}

void CloseFilePart(void* APart) {
    auto* part = static_cast<FilePart*>(APart);
    ::close(part->fd);
    delete part;
}

// A part of a file, owning AFd. Plain HTTP uses sendfile; over TLS the library's own reads of a
// file go 4 KiB at a time, so the file is read in large blocks here instead.
MHD_Response* FileResponse(int AFd, unsigned long long AOffset, unsigned long long ALength,
                           bool ATls) {
    MHD_Response* r = nullptr;
    if (!ATls) {
        r = MHD_create_response_from_fd_at_offset64(ALength, AFd, AOffset);
        if (!r)
            ::close(AFd);
        return r;
    }
    auto* part = new FilePart{AFd, AOffset};
    r = MHD_create_response_from_callback(ALength, 256 * 1024, ReadFilePart, part, CloseFilePart);
    if (!r)
        CloseFilePart(part);
    return r;
}

bool ListenAddress(const std::string& AHost, int APort, sockaddr_storage& AOut) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&AOut);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&AOut);
    const std::string host = AHost == "localhost" ? "127.0.0.1" : AHost;
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(APort));
        return true;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(APort));
        return true;
    }
    return false;
}

} // namespace

struct HttpServer::Impl {
    Impl(const HttpOptions& AOptions, HttpHandler& AHandler)
        : options(AOptions), handler(AHandler) {}

    enum MHD_Result OnHead(MHD_Connection* AConnection, const char* AMethod, const char* AVersion,
                           Exchange& AX);
    enum MHD_Result OnBody(MHD_Connection* AConnection, const char* AData, size_t* ASize,
                           Exchange& AX);
    enum MHD_Result Queue(MHD_Connection* AConnection, Exchange& AX);
    void Completed(MHD_Connection* AConnection, Exchange* AX);
    void ConnectionEvent(MHD_Connection* AConnection, enum MHD_ConnectionNotificationCode ACode);
    bool StartDaemon(std::string& AErr);

    HttpOptions options;
    HttpHandler& handler;
    ConnectionDeadlines deadlines;
    WorkQueue work{8};
    MHD_Daemon* daemon = nullptr;
    gnutls_datum_t ticketKey{nullptr, 0};
    std::mutex mutex;
    std::condition_variable idle; // no request in progress
    int active = 0;
    int boundPort = 0;
};

namespace {

HttpServer::Impl* ImplOf(void* ACls) {
    return static_cast<HttpServer::Impl*>(ACls);
}

// The request line has come: the raw target is kept for the log and for decoding.
void* OnUri(void*, const char* AUri, MHD_Connection*) {
    auto* x = new Exchange;
    x->request.target = AUri ? AUri : "";
    return x;
}

enum MHD_Result OnAccess(void* ACls, MHD_Connection* AConnection, const char*, const char* AMethod,
                         const char* AVersion, const char* AData, size_t* ASize, void** AContext) {
    auto* x = static_cast<Exchange*>(*AContext);
    if (!x)
        *AContext = x = new Exchange; // without a request line callback (never here)
    HttpServer::Impl* s = ImplOf(ACls);
    if (!x->headSeen)
        return s->OnHead(AConnection, AMethod, AVersion, *x);
    return s->OnBody(AConnection, AData, ASize, *x);
}

void OnCompleted(void* ACls, MHD_Connection* AConnection, void** AContext,
                 enum MHD_RequestTerminationCode) {
    ImplOf(ACls)->Completed(AConnection, static_cast<Exchange*>(*AContext));
    *AContext = nullptr;
}

void OnConnection(void* ACls, MHD_Connection* AConnection, void**,
                  enum MHD_ConnectionNotificationCode ACode) {
    ImplOf(ACls)->ConnectionEvent(AConnection, ACode);
}

// Paths are decoded by the service itself, bytes kept.
size_t KeepEscapes(void*, MHD_Connection*, char* AText) {
    return std::strlen(AText);
}

} // namespace

enum MHD_Result HttpServer::Impl::OnHead(MHD_Connection* AConnection, const char* AMethod,
                                         const char* AVersion, Exchange& AX) {
    AX.headSeen = true;
    {
        std::lock_guard lock(mutex);
        ++active;
        AX.active = true;
    }
    HttpRequest& r = AX.request;
    r.method = AMethod ? AMethod : "";
    r.version = AVersion ? AVersion : "";
    r.path = DecodedPath(r.target);
    r.peer = PeerOf(AConnection);
    MHD_get_connection_values(AConnection, MHD_HEADER_KIND, CollectHeader, &r.headers);
    const HeadVerdict verdict = CheckHead(r.target, r.headers, options.head);
    deadlines.Set(AConnection, verdict.bodyExpected ? options.bodySeconds : 0);
    if (verdict.status != 0) {
        AX.reply.status = verdict.status;
        AX.reply.body = std::string(verdict.reason) + "\n";
        AX.reply.headers = {{"Content-Type", "text/plain"}};
        AX.reply.close = true;
        handler.Refused(r, AX.reply);
        return Queue(AConnection, AX);
    }
    if (handler.Screen(r, AX.reply)) {
        // Whatever of a body follows is never read, so nothing more on this connection is.
        AX.reply.close = AX.reply.close || verdict.bodyExpected;
        return Queue(AConnection, AX);
    }
    return MHD_YES;
}

enum MHD_Result HttpServer::Impl::OnBody(MHD_Connection* AConnection, const char* AData,
                                         size_t* ASize, Exchange& AX) {
    if (*ASize > 0) {
        // A chunked body, counted as it comes. The library cannot answer in the middle of a
        // body: a little more is read and dropped so that a body that ends soon gets its 413;
        // a longer one ends the connection. Either way it is never read as a request.
        AX.received += *ASize;
        if (AX.received > options.head.maxBodyBytes + kDiscardBytes)
            return MHD_NO;
        if (AX.received <= options.head.maxBodyBytes)
            AX.request.body.append(AData, *ASize);
        *ASize = 0;
        return MHD_YES;
    }
    deadlines.Set(AConnection, 0);
    if (AX.handled)
        return Queue(AConnection, AX);
    if (AX.received <= options.head.maxBodyBytes && handler.Slow(AX.request)) {
        // The connection leaves the event loop until a worker has handled the request.
        MHD_suspend_connection(AConnection);
        work.Post([this, AConnection, x = &AX] {
            handler.Handle(x->request, x->reply);
            x->handled = true;
            MHD_resume_connection(AConnection);
        });
        return MHD_YES;
    }
    if (AX.received > options.head.maxBodyBytes) {
        AX.reply.status = 413;
        AX.reply.close = true;
        AX.reply.body = "body too large\n";
        handler.Refused(AX.request, AX.reply);
    } else {
        handler.Handle(AX.request, AX.reply);
    }
    return Queue(AConnection, AX);
}

enum MHD_Result HttpServer::Impl::Queue(MHD_Connection* AConnection, Exchange& AX) {
    HttpReply& reply = AX.reply;
    MHD_Response* response = nullptr;
    if (reply.fd >= 0) {
        response = FileResponse(reply.fd, reply.offset, reply.length, !options.certPem.empty());
        reply.fd = -1; // the response owns it now
    } else {
        response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(),
                                                   MHD_RESPMEM_MUST_COPY);
        reply.length = reply.body.size();
    }
    if (!response)
        return MHD_NO;
    for (const auto& [name, value] : reply.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    if (reply.close)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const enum MHD_Result queued =
        MHD_queue_response(AConnection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

void HttpServer::Impl::Completed(MHD_Connection* AConnection, Exchange* AX) {
    if (!AX)
        return;
    if (AX->headSeen) {
        // The next request's head is due within the same time as the first.
        deadlines.Set(AConnection, options.headSeconds);
    } else {
        // The library refused the head itself (malformed, too large) or the client left.
        AX->request.method = "-";
        AX->request.peer = PeerOf(AConnection);
        AX->reply.status = 0;
    }
    handler.Log(AX->request, AX->reply);
    if (AX->active) {
        std::lock_guard lock(mutex);
        if (--active == 0)
            idle.notify_all();
    }
    delete AX;
}

void HttpServer::Impl::ConnectionEvent(MHD_Connection* AConnection,
                                       enum MHD_ConnectionNotificationCode ACode) {
    if (ACode == MHD_CONNECTION_NOTIFY_CLOSED) {
        deadlines.Remove(AConnection);
        return;
    }
    const MHD_ConnectionInfo* fd =
        MHD_get_connection_info(AConnection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (fd)
        deadlines.Add(AConnection, fd->connect_fd, options.headSeconds);
    // Session tickets, so that a client connecting again skips the full handshake.
    if (ticketKey.data) {
        const MHD_ConnectionInfo* tls =
            MHD_get_connection_info(AConnection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
        if (tls && tls->tls_session)
            gnutls_session_ticket_enable_server(static_cast<gnutls_session_t>(tls->tls_session),
                                                &ticketKey);
    }
}

bool HttpServer::Impl::StartDaemon(std::string& AErr) {
    sockaddr_storage addr{};
    if (!ListenAddress(options.host, options.port, addr)) {
        AErr = "not an IP address: " + options.host;
        return false;
    }
    const bool ipv6 = addr.ss_family == AF_INET6;
    const bool tls = !options.certPem.empty();
    if (tls && gnutls_session_ticket_key_generate(&ticketKey) != GNUTLS_E_SUCCESS) {
        AErr = "cannot make a session ticket key";
        return false;
    }
    // The pool holds the head and the reply's headers; twice the head limit leaves room.
    const size_t pool = std::max<size_t>(32 * 1024, 2 * options.head.maxHeadBytes);
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME;
    if (tls)
        flags |= MHD_USE_TLS;
    if (ipv6)
        flags |= MHD_USE_IPv6;
    std::vector<MHD_OptionItem> items = {
        {MHD_OPTION_SOCK_ADDR, 0, reinterpret_cast<sockaddr*>(&addr)},
        {MHD_OPTION_THREAD_POOL_SIZE, std::max(1, options.threads), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(options.maxConnections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(options.maxPerAddress), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, std::max(1, options.idleSeconds), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(pool), nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, intptr_t(&OnUri), this},
        {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&OnCompleted), this},
        {MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&OnConnection), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, intptr_t(&KeepEscapes), nullptr},
    };
    if (tls) {
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options.keyPem.c_str())});
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options.certPem.c_str())});
        items.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});
    daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnAccess, this, MHD_OPTION_ARRAY,
                              items.data(), MHD_OPTION_END);
    if (!daemon) {
        AErr = std::string("cannot listen on ") + options.host + ":" +
               std::to_string(options.port) + (tls ? " (or the certificate is unusable)" : "");
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    boundPort = info ? info->port : options.port;
    return true;
}

HttpServer::HttpServer(const HttpOptions& AOptions, HttpHandler& AHandler)
    : FImpl(std::make_unique<Impl>(AOptions, AHandler)) {}

HttpServer::~HttpServer() {
    Stop(0);
    if (FImpl->ticketKey.data)
        gnutls_free(FImpl->ticketKey.data);
}

bool HttpServer::Start(std::string& AErr) {
    return FImpl->StartDaemon(AErr);
}

int HttpServer::port() const {
    return FImpl->boundPort;
}

void HttpServer::Stop(int AGraceSeconds) {
    if (!FImpl->daemon)
        return;
    const MHD_socket listener = MHD_quiesce_daemon(FImpl->daemon);
    if (listener != MHD_INVALID_SOCKET)
        ::close(listener);
    {
        std::unique_lock lock(FImpl->mutex);
        FImpl->idle.wait_for(lock, std::chrono::seconds(AGraceSeconds),
                             [&] { return FImpl->active == 0; });
    }
    // Every suspended connection is resumed before the daemon goes.
    FImpl->work.Finish();
    MHD_stop_daemon(FImpl->daemon);
    FImpl->daemon = nullptr;
}

} // namespace halvora::service
