#pragma once

#include "Boxes.h"
#include "DialogService.h"

namespace halvora::test {

// The dialog service of the windows under test: boxes as BoxRecorder answers them, the file
// and folder dialogs from queues (none left: cancelled), and every dialog's title recorded.
class FakeDialogs : public DialogService, public BoxRecorder {
public:
    QStringList files;   // what the open-file dialog returns, in order
    QStringList folders; // what the folder dialog returns, in order
    QStringList saves;   // what the save dialog returns, in order
    QStringList fileTitles;
    QStringList folderTitles;
    QString fileFilter; // of the last open-file dialog

    BoxAnswer message(QWidget*, BoxKind AKind, const QString& ATitle, const QString& AText,
                      BoxButtons AButtons) override {
        return record(AKind, AText, AButtons, ATitle);
    }
    QString pickFolder(QWidget*, const QString& ATitle, const QString&) override {
        folderTitles << ATitle;
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }
    QString saveFile(QWidget*, const QString& ATitle, const QString&, const QString&) override {
        fileTitles << ATitle;
        return saves.isEmpty() ? QString() : saves.takeFirst();
    }
    QString openFile(QWidget*, const QString& ATitle, const QString&,
                     const QString& AFilter) override {
        fileTitles << ATitle;
        fileFilter = AFilter;
        return files.isEmpty() ? QString() : files.takeFirst();
    }
};

} // namespace halvora::test
