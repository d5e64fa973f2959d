#include "DialogService.h"

#include <QFileDialog>
#include <QMessageBox>

namespace halvora {

BoxAnswer DialogService::message(QWidget* AParent, BoxKind AKind, const QString& ATitle,
                                 const QString& AText, BoxButtons AButtons) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (AKind) {
    case BoxKind::Warning:
        icon = QMessageBox::Warning;
        break;
    case BoxKind::Error:
        icon = QMessageBox::Critical;
        break;
    case BoxKind::Information:
        icon = QMessageBox::Information;
        break;
    case BoxKind::Confirmation:
        icon = QMessageBox::Question;
        break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (AButtons) {
    case BoxButtons::Ok:
        buttons = QMessageBox::Ok;
        break;
    case BoxButtons::YesNoCancel:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    case BoxButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case BoxButtons::RetryCancel:
        buttons = QMessageBox::Retry | QMessageBox::Cancel;
        break;
    }
    QString text = AText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, ATitle, text, buttons, AParent);
    // Texts carry paths, server replies and library errors: never render them as markup.
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    case QMessageBox::Retry:
        return BoxAnswer::Retry;
    default:
        return BoxAnswer::Closed;
    }
}

QString DialogService::pickFolder(QWidget* AParent, const QString& ATitle, const QString& AStart) {
    return QFileDialog::getExistingDirectory(AParent, ATitle, AStart);
}

QString DialogService::openFile(QWidget* AParent, const QString& ATitle, const QString& AStart,
                                const QString& AFilter) {
    return QFileDialog::getOpenFileName(AParent, ATitle, AStart, AFilter);
}

QString DialogService::saveFile(QWidget* AParent, const QString& ATitle, const QString& AStart,
                                const QString& AFilter) {
    return QFileDialog::getSaveFileName(AParent, ATitle, AStart, AFilter);
}

DialogService& DefaultDialogs() {
    static DialogService service;
    return service;
}

} // namespace halvora
