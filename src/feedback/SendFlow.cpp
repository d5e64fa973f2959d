#include "SendFlow.h"

#include "AppPaths.h"
#include "EmailCheck.h"
#include "FeedbackPost.h"
#include "SystemTexts.h"

namespace halvora {

namespace {

// Puts the window back into its idle state on every way out of a send.
class SendingScope {
public:
    SendingScope(FeedbackView& AView, bool& ASending) : FView(AView), FSending(ASending) {
        FSending = true;
        FView.setButtonsEnabled(false);
    }
    ~SendingScope() {
        FSending = false;
        FView.setButtonsEnabled(true);
    }
    SendingScope(const SendingScope&) = delete;
    SendingScope& operator=(const SendingScope&) = delete;

private:
    FeedbackView& FView;
    bool& FSending;
};

} // namespace

QString WithCrLf(const QString& AText) {
    QString text = AText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

void SendFeedback(FeedbackView& AView, bool& ASending, const FeedbackPoster& APost) {
    if (ASending)
        return;
    const QString message = Trimmed(AView.messageText());
    if (message.isEmpty()) {
        AView.showMessage(BoxKind::Information,
                          QStringLiteral("Please type your message before sending."));
        AView.focusMessage();
        return;
    }
    const QString email = Trimmed(AView.emailText());
    if (email.isEmpty()) {
        AView.showMessage(
            BoxKind::Information,
            QStringLiteral("Please enter your email address so we can reply to you."));
        AView.focusEmail();
        return;
    }
    if (!IsValidEmail(email)) {
        AView.showMessage(
            BoxKind::Information,
            QStringLiteral("That email address does not look valid - please check it."));
        AView.focusEmail();
        return;
    }

    SendingScope scope(AView, ASending);
    AView.setStatus(QStringLiteral("Sending..."));
    AView.processMessages();

    const QStringList items = FeedbackFields(email, WithCrLf(message), AppVersionText(),
                                             OSVersionText(), MachineIdText());
    QString reply;
    QString err;
    if (!APost(items, reply, err)) {
        AView.setStatus(QStringLiteral("Send failed."));
        AView.showMessage(
            BoxKind::Warning,
            QStringLiteral("Could not send feedback (") + err +
                QStringLiteral(").\r\nPlease check your internet connection and try again."));
        return;
    }
    const FeedbackReply answer = ReadFeedbackReply(reply);
    if (answer.accepted) {
        AView.setStatus(QStringLiteral("Sent. Thank you!"));
        AView.showMessage(BoxKind::Information,
                          QStringLiteral("Your feedback has been sent. Thank you!"));
        AView.clearFields();
        AView.closeWindow();
        return;
    }
    AView.setStatus(QStringLiteral("Send failed."));
    if (!answer.error.isEmpty())
        AView.showMessage(BoxKind::Warning, QStringLiteral("Could not send feedback: ") +
                                                answer.error + QStringLiteral("."));
    else
        AView.showMessage(BoxKind::Warning,
                          QStringLiteral("Could not send feedback. Please check "
                                         "your internet connection and try again."));
}

} // namespace halvora
