// The feedback service's reply: accepted or not, and the error text it may carry.
#include "FeedbackPost.h"
#include "FuzzInput.h"
#include "JsonReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    const QString reply = QString::fromUtf8(fuzz::Bytes(AData, ASize));
    (void)ServerErrorText(reply);
    if (IsReplyAccepted(reply)) {
        const JsonDocument doc(reply.toUtf8());
        fuzz::Require(doc.isValid() && doc.root().isObject(), "accepted only a JSON object");
        fuzz::Require(reply.contains(QStringLiteral("true")), "accepted only with a true in it");
    }
    return 0;
}
