#include "HeadersDialog.h"

#include "DialogService.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace halvora {

HeadersDialog::HeadersDialog(DialogService& ADialogs, const RequestHeaders& ACurrent,
                             QWidget* AParent)
    : QDialog(AParent), FDialogs(ADialogs), FHeaders(ACurrent) {
    setObjectName(QStringLiteral("HeadersDialog"));
    setWindowTitle(QStringLiteral("Request headers"));
    auto* grid = new QGridLayout(this);
    auto* lblHeaders =
        new QLabel(QStringLiteral("&Headers sent with every request of the link, one "
                                  "\"Name: value\" a line:"),
                   this);
    MemHeaders = new QPlainTextEdit(ACurrent.lines.join(QLatin1Char('\n')), this);
    MemHeaders->setObjectName(QStringLiteral("MemHeaders"));
    MemHeaders->setPlaceholderText(
        QStringLiteral("Referer: https://example.com/\nUser-Agent: ..."));
    MemHeaders->setTabChangesFocus(true);
    lblHeaders->setBuddy(MemHeaders);
    auto* lblCookies = new QLabel(QStringLiteral("&Cookies file (cookies.txt):"), this);
    EdtCookies = new QLineEdit(ACurrent.cookieFile, this);
    EdtCookies->setObjectName(QStringLiteral("EdtCookies"));
    lblCookies->setBuddy(EdtCookies);
    BtnCookies = new QPushButton(QStringLiteral("Choose..."), this);
    BtnCookies->setObjectName(QStringLiteral("BtnCookies"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("BtnsHeaders"));
    grid->addWidget(lblHeaders, 0, 0, 1, 2);
    grid->addWidget(MemHeaders, 1, 0, 1, 2);
    grid->addWidget(lblCookies, 2, 0, 1, 2);
    grid->addWidget(EdtCookies, 3, 0);
    grid->addWidget(BtnCookies, 3, 1);
    grid->addWidget(buttons, 4, 0, 1, 2);
    resize(520, 300);
    connect(BtnCookies, &QPushButton::clicked, this, [this] { BtnCookiesClick(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &HeadersDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HeadersDialog::reject);
}

void HeadersDialog::BtnCookiesClick() {
    const QString file =
        FDialogs.openFile(this, QStringLiteral("Select cookies.txt"), EdtCookies->text(),
                          QStringLiteral("Cookies (*.txt);;All files (*)"));
    if (!file.isEmpty())
        EdtCookies->setText(file);
}

void HeadersDialog::accept() {
    RequestHeaders read;
    read.cookieFile = EdtCookies->text().trimmed();
    QString problem = ReadHeaderLines(MemHeaders->toPlainText(), &read);
    if (problem.isEmpty())
        problem = CheckCookieFile(read.cookieFile);
    if (!problem.isEmpty()) {
        FDialogs.message(this, BoxKind::Error, windowTitle(), problem, BoxButtons::Ok);
        return;
    }
    FHeaders = read;
    QDialog::accept();
}

} // namespace halvora
