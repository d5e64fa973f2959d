#pragma once

#include "SendFlow.h"

#include <QStringList>
#include <functional>

namespace halvora::test {

// The window's side of the send flow, recorded as short lines ("status:...", "box:Warning:...",
// "focus:email", "buttons:off", "process", "clear", "close").
class RecordingView : public FeedbackView {
public:
    QString message;
    QString email;
    QStringList calls;
    bool buttonsEnabled = true;
    std::function<void()> onProcess; // runs inside the one message-processing step

    QString messageText() override { return message; }
    QString emailText() override { return email; }
    void setStatus(const QString& AText) override { calls << QStringLiteral("status:") + AText; }
    void showMessage(BoxKind AKind, const QString& AText) override {
        calls << (AKind == BoxKind::Warning       ? QStringLiteral("box:Warning:")
                  : AKind == BoxKind::Information ? QStringLiteral("box:Information:")
                                                  : QStringLiteral("box:Other:")) +
                     AText;
    }
    void focusMessage() override { calls << QStringLiteral("focus:message"); }
    void focusEmail() override { calls << QStringLiteral("focus:email"); }
    void setButtonsEnabled(bool AEnabled) override {
        buttonsEnabled = AEnabled;
        calls << (AEnabled ? QStringLiteral("buttons:on") : QStringLiteral("buttons:off"));
    }
    void processMessages() override {
        calls << QStringLiteral("process");
        if (onProcess)
            onProcess();
    }
    void clearFields() override {
        message.clear();
        email.clear();
        calls << QStringLiteral("clear");
    }
    void closeWindow() override { calls << QStringLiteral("close"); }
};

} // namespace halvora::test
