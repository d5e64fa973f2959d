#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// The seven "key=value" items of one feedback post, in the order the service expects them.
// AMessage line breaks are sent as they come (the window hands over CR LF).
QStringList FeedbackFields(const QString& AEmail, const QString& AMessage, const QString& AVersion,
                           const QString& AOs, const QString& AMachine);

// Form encoding of one key or value: kept characters as they are, a blank as '+', everything
// else as %XX of its UTF-8 bytes (upper-case hex). A lone surrogate is sent as U+FFFD.
QByteArray FormEncode(const QString& AText);

// "key=value&key=value..." with keys and values encoded; the key is the text before an item's
// first '='.
QByteArray FormBody(const QStringList& AItems);

struct FeedbackPostOptions {
    QString url; // empty: ServiceBaseUrl() + "/halvora/feedback"
    int connectTimeoutMs = 20000;
    int responseTimeoutMs = 20000;
};

QString FeedbackUrl();

// Posts the items as a form and gives the reply body (UTF-8) whatever the status. False with
// AErr set (the HTTP client's own text) when the exchange itself failed.
bool PostFeedback(const QStringList& AItems, QString& AReply, QString& AErr,
                  const FeedbackPostOptions& AOptions = {});

// What the service's reply says, read as JSON (the first of a repeated key counts).
struct FeedbackReply {
    // The reply is an object whose "ok" member is the boolean true.
    bool accepted = false;
    // The "error" member of an object reply as text; empty for anything else.
    QString error;
};
FeedbackReply ReadFeedbackReply(const QString& AReply);

// ReadFeedbackReply's two answers on their own.
QString ServerErrorText(const QString& AReply);
bool IsReplyAccepted(const QString& AReply);

} // namespace halvora
