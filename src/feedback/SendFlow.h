#pragma once

#include "Dialogs.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace halvora {

// What the send flow needs of the feedback window.
class FeedbackView {
public:
    virtual ~FeedbackView() = default;
    virtual QString messageText() = 0; // line breaks as the field gives them
    virtual QString emailText() = 0;
    virtual void setStatus(const QString& AText) = 0;
    virtual void showMessage(BoxKind AKind, const QString& AText) = 0; // modal, OK only
    virtual void focusMessage() = 0;
    virtual void focusEmail() = 0;
    virtual void setButtonsEnabled(bool AEnabled) = 0;
    virtual void processMessages() = 0; // one round, so that "Sending..." is painted
    virtual void clearFields() = 0;
    virtual void closeWindow() = 0;
};

// Sends the items and gives the reply body; false with AErr set when the exchange failed.
using FeedbackPoster =
    std::function<bool(const QStringList& AItems, QString& AReply, QString& AErr)>;

// Line breaks of any kind (CR LF, LF, CR) as CR LF.
QString WithCrLf(const QString& AText);

// The whole Send button flow: input checks, the post, and what the user is told. ASending is
// the window's "a send is in progress" flag; a call while it is set does nothing.
void SendFeedback(FeedbackView& AView, bool& ASending, const FeedbackPoster& APost);

} // namespace halvora
