#pragma once

#include "RequestHeaders.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace halvora {

class DialogService;

// The request headers of a link: one "Name: value" a line (Referer, User-Agent, Cookie, ...)
// and a Netscape cookies.txt file. OK refuses what is not a header, saying which line and why.
// Nothing is stored: the window keeps what was accepted while it runs.
class HeadersDialog : public QDialog {
public:
    HeadersDialog(DialogService& ADialogs, const RequestHeaders& ACurrent, QWidget* AParent);

    RequestHeaders headers() const { return FHeaders; }
    void accept() override;

    QPlainTextEdit* MemHeaders = nullptr;
    QLineEdit* EdtCookies = nullptr;
    QPushButton* BtnCookies = nullptr;

private:
    void BtnCookiesClick();

    DialogService& FDialogs;
    RequestHeaders FHeaders;
};

} // namespace halvora
