#pragma once

#include "FeedbackPost.h"
#include "SendFlow.h"

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace halvora {

class DialogService;

// The feedback window: a message, a reply address and a few diagnostics posted to the
// service. Created once by the main window and shown modally each time; it keeps its texts
// between showings.
class TFormFeedback : public QDialog, private FeedbackView {
    Q_OBJECT
public:
    explicit TFormFeedback(DialogService& ADialogs, QWidget* AParent = nullptr);

    // Where and how long the post may take (tests point it at their own server).
    void setPostOptions(const FeedbackPostOptions& AOptions) { FPostOptions = AOptions; }
    bool sending() const { return FSending; }

    QLabel* LblTitle = nullptr;
    QLabel* LblHint = nullptr;
    QLabel* LblEmail = nullptr;
    QLineEdit* EdtEmail = nullptr;
    QLabel* LblMessage = nullptr;
    QPlainTextEdit* MemoMessage = nullptr;
    QLabel* LblStatus = nullptr;
    QFrame* PnlBottom = nullptr;
    QPushButton* BtnSend = nullptr;
    QPushButton* BtnClose = nullptr;

public slots:
    void BtnSendClick();
    void BtnCloseClick();

protected:
    void showEvent(QShowEvent* AEvent) override;
    void reject() override;

private:
    void BuildLayout();
    void FormCreate();

    QString messageText() override;
    QString emailText() override;
    void setStatus(const QString& AText) override;
    void showMessage(BoxKind AKind, const QString& AText) override;
    void focusMessage() override;
    void focusEmail() override;
    void setButtonsEnabled(bool AEnabled) override;
    void processMessages() override;
    void clearFields() override;
    void closeWindow() override;

    DialogService& FDialogs;
    FeedbackPostOptions FPostOptions;
    bool FSending = false;
};

} // namespace halvora
