// The feedback service's reply: accepted or not, and the error text it may carry.
#include "FeedbackPost.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    const QString reply = QString::fromUtf8(fuzz::Bytes(AData, ASize));
    (void)ServerErrorText(reply);
    if (IsReplyAccepted(reply)) {
        QString folded = reply;
        folded.remove(u' ');
        fuzz::Require(folded.contains(QStringLiteral("\"ok\":true"), Qt::CaseInsensitive),
                      "accepted only with \"ok\":true");
    }
    return 0;
}
