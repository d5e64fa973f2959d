#pragma once

#include "Dialogs.h"

#include <QString>

class QWidget;

namespace halvora {

// Every modal message box and file dialog of the windows goes through one of these, so that
// tests can answer them without a person. Windows take it in their constructor.
class DialogService {
public:
    virtual ~DialogService() = default;
    virtual BoxAnswer message(QWidget* AParent, BoxKind AKind, const QString& ATitle,
                              const QString& AText, BoxButtons AButtons);
    // Empty when cancelled.
    virtual QString pickFolder(QWidget* AParent, const QString& ATitle, const QString& AStart);
    virtual QString openFile(QWidget* AParent, const QString& ATitle, const QString& AStart,
                             const QString& AFilter);
    // Empty when cancelled; the dialog asks before an existing file is replaced.
    virtual QString saveFile(QWidget* AParent, const QString& ATitle, const QString& AStart,
                             const QString& AFilter);
};

// The plain Qt dialogs.
DialogService& DefaultDialogs();

} // namespace halvora
