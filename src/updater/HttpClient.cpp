#include "HttpClient.h"

#include "halvora_version.h"

#include <QFile>
#include <QtGlobal>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <mutex>

namespace halvora {

namespace {

using Clock = std::chrono::steady_clock;

constexpr qint64 kMemoryBodyLimit = qint64(512) * 1024 * 1024;

struct Transfer {
    const HttpRequest* request = nullptr;
    HttpResult* result = nullptr;
    CURL* curl = nullptr;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    Clock::time_point lastActivity = Clock::now();
    bool timedOut = false;
    bool tooLarge = false;
    bool cancelled = false;
    qint64 received = 0;
    qint64 limit = 0;
    TrustAnchors anchors;
};

size_t OnWrite(char* AData, size_t ASize, size_t ACount, void* AUser) {
    auto* t = static_cast<Transfer*>(AUser);
    const size_t len = ASize * ACount;
    t->received += qint64(len);
    if (t->limit > 0 && t->received > t->limit) {
        t->tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (t->request->sink) {
        if (!t->request->sink(AData, len))
            return CURL_WRITEFUNC_ERROR;
    } else {
        t->result->body.append(AData, qsizetype(len));
    }
    return len;
}

// The response timeout: the longest wait with no byte moving in either direction, counted
// once the connection (TLS included) is up; the connection phase has its own limit.
int OnProgress(void* AUser, curl_off_t, curl_off_t ADownNow, curl_off_t, curl_off_t AUpNow) {
    auto* t = static_cast<Transfer*>(AUser);
    if (t->request->cancel && t->request->cancel()) {
        t->cancelled = true;
        return 1;
    }
    const Clock::time_point now = Clock::now();
    curl_off_t connected = 0;
    curl_easy_getinfo(t->curl, CURLINFO_APPCONNECT_TIME_T, &connected);
    if (connected == 0 || ADownNow != t->lastDown || AUpNow != t->lastUp) {
        t->lastDown = ADownNow;
        t->lastUp = AUpNow;
        t->lastActivity = now;
        return 0;
    }
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - t->lastActivity).count();
    if (idle >= t->request->responseTimeoutMs) {
        t->timedOut = true;
        return 1;
    }
    return 0;
}

// Adds the certificates of HALVORA_CA_FILE to the store libcurl has already filled with the
// system's trust anchors, so a self-hosted service works without losing the public ones.
CURLcode OnSslContext(CURL*, void* ASslCtx, void* AUser) {
    auto* t = static_cast<TrustAnchors*>(AUser);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ASslCtx));
    BIO* bio = BIO_new_file(t->caFile.constData(), "r");
    if (!bio) {
        t->error = QStringLiteral("cannot read the certificate file %1 (HALVORA_CA_FILE)")
                       .arg(QFile::decodeName(t->caFile));
        return CURLE_SSL_CACERT_BADFILE;
    }
    int added = 0;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        if (X509_STORE_add_cert(store, cert) == 1)
            ++added;
        X509_free(cert);
    }
    ERR_clear_error(); // the end of the file reads as an error
    BIO_free(bio);
    if (added == 0) {
        t->error = QStringLiteral("no certificate in %1 (HALVORA_CA_FILE)")
                       .arg(QFile::decodeName(t->caFile));
        return CURLE_SSL_CACERT_BADFILE;
    }
    return CURLE_OK;
}

} // namespace

// Protocols, redirects, TLS, the extra trust anchors and the connection timeout.
void ApplyConnectionRules(void* AHandle, const HttpRequest& ARequest, TrustAnchors* AAnchors) {
    CURL* ACurl = static_cast<CURL*>(AHandle);
    curl_easy_setopt(ACurl, CURLOPT_NOSIGNAL, 1L);
    const char* protocols = ARequest.allowHttp ? "http,https" : "https";
    curl_easy_setopt(ACurl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(ACurl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(ACurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(ACurl, CURLOPT_MAXREDIRS, long(ARequest.maxRedirects));
    const long sslVersion =
        long(CURL_SSLVERSION_TLSv1_2) |
        (ARequest.tls13Max ? long(CURL_SSLVERSION_MAX_TLSv1_3) : long(CURL_SSLVERSION_MAX_DEFAULT));
    curl_easy_setopt(ACurl, CURLOPT_SSLVERSION, sslVersion);
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(ACurl, CURLOPT_CONNECTTIMEOUT_MS, long(qMax(1, ARequest.connectTimeoutMs)));
    if (!ARequest.cookieFile.isEmpty()) // read only: no cookie jar is written
        curl_easy_setopt(ACurl, CURLOPT_COOKIEFILE,
                         QFile::encodeName(ARequest.cookieFile).constData());
    AAnchors->caFile = qgetenv("HALVORA_CA_FILE");
    if (!AAnchors->caFile.isEmpty()) {
        // With the OpenSSL backend the file is added to the system's anchors; a libcurl built
        // on another backend can only be given the file instead of them.
        if (curl_easy_setopt(ACurl, CURLOPT_SSL_CTX_FUNCTION, OnSslContext) == CURLE_OK)
            curl_easy_setopt(ACurl, CURLOPT_SSL_CTX_DATA, AAnchors);
        else
            curl_easy_setopt(ACurl, CURLOPT_CAINFO, AAnchors->caFile.constData());
    }
}

namespace {

// Progress (for cancelling and the response timeout) and the body.
void SetTransferCallbacks(CURL* ACurl, Transfer& AT) {
    curl_easy_setopt(ACurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(ACurl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(ACurl, CURLOPT_XFERINFODATA, &AT);
    curl_easy_setopt(ACurl, CURLOPT_WRITEFUNCTION, OnWrite);
    curl_easy_setopt(ACurl, CURLOPT_WRITEDATA, &AT);
    if (AT.request->sink)
        curl_easy_setopt(ACurl, CURLOPT_BUFFERSIZE, 256L * 1024);
}

void SetMethod(CURL* ACurl, const HttpRequest& ARequest) {
    if (ARequest.method == "POST") {
        curl_easy_setopt(ACurl, CURLOPT_POST, 1L);
        curl_easy_setopt(ACurl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(ARequest.body.size()));
        curl_easy_setopt(ACurl, CURLOPT_POSTFIELDS, ARequest.body.constData());
        // A moved service must get the form itself: libcurl would otherwise turn the POST
        // into a GET without a body on 301/302, whose reply could still read as accepted.
        curl_easy_setopt(ACurl, CURLOPT_POSTREDIR, long(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    } else {
        curl_easy_setopt(ACurl, CURLOPT_HTTPGET, 1L);
    }
}

// Why a transfer failed: our own reasons first, since libcurl only reports that a callback
// stopped it.
QString TransferError(CURLcode ACode, const Transfer& AT, const char* AErrorBuffer) {
    if (AT.cancelled)
        return QStringLiteral("cancelled");
    if (AT.timedOut)
        return QStringLiteral("Operation timed out after %1 milliseconds with no data received")
            .arg(AT.request->responseTimeoutMs);
    if (AT.tooLarge)
        return QStringLiteral("reply larger than %1 bytes").arg(AT.limit);
    if (!AT.anchors.error.isEmpty())
        return AT.anchors.error;
    const QString error = QString::fromUtf8(AErrorBuffer).trimmed();
    return error.isEmpty() ? QString::fromUtf8(curl_easy_strerror(ACode)) : error;
}

std::once_flag GlobalInitOnce;

} // namespace

void HttpGlobalInit() {
    std::call_once(GlobalInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString ServiceBaseUrl() {
    QString url = qEnvironmentVariable("HALVORA_SERVICE_URL");
    if (url.isEmpty())
        url = QStringLiteral(HALVORA_SERVICE_URL_DEFAULT);
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

HttpResult HttpPerform(const HttpRequest& ARequest) {
    HttpGlobalInit();
    HttpResult result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = QStringLiteral("could not create an HTTP client");
        return result;
    }
    Transfer t;
    t.request = &ARequest;
    t.result = &result;
    t.curl = curl;
    t.limit = ARequest.maxBodyBytes > 0 ? ARequest.maxBodyBytes
              : ARequest.sink           ? 0
                                        : kMemoryBodyLimit;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = ARequest.url.toUtf8();
    curl_slist* headers = nullptr;
    for (const auto& h : ARequest.headers)
        headers = curl_slist_append(headers, (h.first + ": " + h.second).constData());
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    ApplyConnectionRules(curl, ARequest, &t.anchors);
    SetTransferCallbacks(curl, t);
    if (headers)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    SetMethod(curl, ARequest);

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = status;
    const char* finalUrl = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl)
        result.finalUrl = QString::fromUtf8(finalUrl);
    if (code == CURLE_OK)
        result.transportOk = true;
    else
        result.error = TransferError(code, t, errorBuffer);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

} // namespace halvora
