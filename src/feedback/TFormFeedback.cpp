#include "TFormFeedback.h"

#include "DialogService.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvora {

namespace {

template <typename T> T* Named(T* AWidget, const char* AName) {
    AWidget->setObjectName(QLatin1StringView(AName));
    return AWidget;
}

} // namespace

TFormFeedback::TFormFeedback(DialogService& ADialogs, QWidget* AParent)
    : QDialog(AParent), FDialogs(ADialogs) {
    setObjectName(QStringLiteral("FormFeedback"));
    // Opens at its designed size; the fields take whatever the user adds.
    resize(520, 372);
    if (AParent)
        setFont(AParent->font());

    LblTitle = Named(new QLabel(this), "LblTitle");
    LblHint = Named(new QLabel(this), "LblHint");
    LblEmail = Named(new QLabel(this), "LblEmail");
    EdtEmail = Named(new QLineEdit(this), "EdtEmail");
    LblMessage = Named(new QLabel(this), "LblMessage");
    MemoMessage = Named(new QPlainTextEdit(this), "MemoMessage");
    LblStatus = Named(new QLabel(this), "LblStatus");
    PnlBottom = Named(new QFrame(this), "PnlBottom");
    BtnSend = Named(new QPushButton(PnlBottom), "BtnSend");
    BtnClose = Named(new QPushButton(PnlBottom), "BtnClose");

    BuildLayout();

    // Smaller than designed, the message field would show hardly a line.
    setMinimumSize(520, 372);

    setTabOrder(EdtEmail, MemoMessage);
    setTabOrder(MemoMessage, BtnSend);
    setTabOrder(BtnSend, BtnClose);

    // Enter anywhere but the message field presses Send; Esc (reject) closes.
    BtnSend->setDefault(true);
    BtnSend->setAutoDefault(true);
    BtnClose->setAutoDefault(false);
    connect(BtnSend, &QPushButton::clicked, this, &TFormFeedback::BtnSendClick);
    connect(BtnClose, &QPushButton::clicked, this, &TFormFeedback::BtnCloseClick);

    FormCreate();
}

void TFormFeedback::BuildLayout() {
    QFont titleFont = LblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    LblTitle->setFont(titleFont);
    LblHint->setWordWrap(true);
    // At the designed width the hint takes two lines; never narrower than that.
    LblHint->setMinimumSize(480, 2 * LblHint->fontMetrics().lineSpacing() + 4);
    EdtEmail->setMinimumWidth(480);
    MemoMessage->setMinimumWidth(480);
    PnlBottom->setFrameShape(QFrame::NoFrame);

    auto* bottom = new QHBoxLayout(PnlBottom);
    bottom->setContentsMargins(20, 6, 20, 10);
    bottom->addStretch(1);
    bottom->addWidget(BtnSend);
    bottom->addWidget(BtnClose);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(20, 14, 20, 0);
    column->setSpacing(4);
    column->addWidget(LblTitle);
    column->addSpacing(4);
    column->addWidget(LblHint);
    column->addSpacing(6);
    column->addWidget(LblEmail);
    column->addWidget(EdtEmail);
    column->addSpacing(6);
    column->addWidget(LblMessage);
    column->addWidget(MemoMessage, 1);
    column->addWidget(LblStatus);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(column, 1);
    outer->addWidget(PnlBottom);
}

void TFormFeedback::FormCreate() {
    setWindowTitle(QStringLiteral("Send feedback"));
    LblTitle->setText(QStringLiteral("Send feedback to support"));
    LblHint->setText(QStringLiteral("Your message and basic diagnostic info (app version, OS "
                                    "version, machine code) will be sent to our support team."));
    LblEmail->setText(QStringLiteral("Your email (required - so we can reply):"));
    LblMessage->setText(QStringLiteral("Message:"));
    BtnSend->setText(QStringLiteral("Send"));
    BtnClose->setText(QStringLiteral("Close"));
    LblStatus->clear();
    MemoMessage->clear();
    MemoMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoMessage->setTabChangesFocus(true);
    MemoMessage->setFocus();
    FSending = false;
}

void TFormFeedback::showEvent(QShowEvent* AEvent) {
    // Centred over the main window each time it opens.
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(AEvent);
}

void TFormFeedback::reject() {
    // Esc or the title bar's close must not leave a send running in a hidden window.
    if (FSending)
        return;
    QDialog::reject();
}

void TFormFeedback::BtnSendClick() {
    const FeedbackPostOptions options = FPostOptions;
    SendFeedback(*this, FSending,
                 [options](const QStringList& AItems, QString& AReply, QString& AErr) {
                     return PostFeedback(AItems, AReply, AErr, options);
                 });
}

void TFormFeedback::BtnCloseClick() {
    reject();
}

QString TFormFeedback::messageText() {
    return MemoMessage->toPlainText();
}
QString TFormFeedback::emailText() {
    return EdtEmail->text();
}
void TFormFeedback::setStatus(const QString& AText) {
    LblStatus->setText(AText);
}

void TFormFeedback::showMessage(BoxKind AKind, const QString& AText) {
    FDialogs.message(this, AKind, windowTitle(), AText, BoxButtons::Ok);
}

void TFormFeedback::focusMessage() {
    MemoMessage->setFocus();
}
void TFormFeedback::focusEmail() {
    EdtEmail->setFocus();
}

void TFormFeedback::setButtonsEnabled(bool AEnabled) {
    BtnSend->setEnabled(AEnabled);
    BtnClose->setEnabled(AEnabled);
}

void TFormFeedback::processMessages() {
    QCoreApplication::processEvents();
}

void TFormFeedback::clearFields() {
    MemoMessage->clear();
    EdtEmail->clear();
}

void TFormFeedback::closeWindow() {
    QDialog::accept();
}

} // namespace halvora
