#pragma once

#include "TestHttpServer.h"
#include "Updater.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace halvora::test {

// build/bin/ (the helper `updater` is built there).
QString TestAppDir();
QString HelperPath();

// A tar.gz of AFiles (paths relative to a fresh folder, each holding its own name as content)
// in AOutDir; gives the archive's path.
QString MakeTarGz(const QString& AOutDir, const QString& AName, const QStringList& AFiles);

// The lower-case hex SHA-256 of a file.
QString Sha256Of(const QString& APath);

// A service on 127.0.0.1 with component archives and a fresh application folder.
struct ComponentService {
    ComponentService();
    TestHttpServer srv;
    QString app;   // the application folder, with '/'
    QString store; // served below /update/components/

    // An archive in the store holding AFiles; gives its size.
    qint64 addArchive(const QString& AName, const QStringList& AFiles);
    // A list entry as JSON for an archive in the store (size and digest filled in).
    QByteArray entry(const QString& AId, const QString& AName, const QString& AFile);
    void setList(const QByteArray& AJson);
    // A TUpdater for the application folder using the built helper.
    std::unique_ptr<TUpdater> updater() const;
};

// Answers and records the update check's prompts and boxes without any window.
class RecordingHost : public UpdateHost {
public:
    bool RunOnWindowThread(const std::function<void()>& AWork) override;
    BoxAnswer Message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    void QuitApplication() override { ++quits; }
    void Status(const QString& AText) override {
        statuses << AText;
        statusInHandover = statusInHandover || inHandover;
    }

    BoxAnswer answer = BoxAnswer::No;
    int handovers = 0;
    int quits = 0;
    QStringList texts;
    QList<BoxKind> kinds;
    QStringList statuses;
    bool inHandover = false;       // inside RunOnWindowThread's work
    bool statusInHandover = false; // a status came from inside it (the window thread)
};

} // namespace halvora::test
