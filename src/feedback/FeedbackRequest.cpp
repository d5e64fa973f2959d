#include "FeedbackPost.h"

#include "HttpClient.h"

namespace halvora {

namespace {
constexpr qint64 kMaxReplyBytes = 1024 * 1024;
} // namespace

QString FeedbackUrl() {
    return ServiceBaseUrl() + QStringLiteral("/halvora/feedback");
}

bool PostFeedback(const QStringList& AItems, QString& AReply, QString& AErr,
                  const FeedbackPostOptions& AOptions) {
    AReply.clear();
    AErr.clear();
    HttpRequest request;
    request.url = AOptions.url.isEmpty() ? FeedbackUrl() : AOptions.url;
    request.method = "POST";
    request.headers = {
        {"Accept", "application/json"},
        {"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"},
        // No "Expect: 100-continue" round trip for longer messages.
        {"Expect", ""},
    };
    request.body = FormBody(AItems);
    request.connectTimeoutMs = AOptions.connectTimeoutMs;
    request.responseTimeoutMs = AOptions.responseTimeoutMs;
    request.tls13Max = true;
    // The reply is a short JSON object; anything huge is not the service answering.
    request.maxBodyBytes = kMaxReplyBytes;
    const HttpResult result = HttpPerform(request);
    if (!result.transportOk) {
        AErr = result.error;
        return false;
    }
    AReply = QString::fromUtf8(result.body);
    return true;
}

} // namespace halvora
