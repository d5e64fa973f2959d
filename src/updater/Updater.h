#pragma once

#include "Dialogs.h"
#include "HttpClient.h"
#include "UpdateManifests.h"
#include "UpdateOutcomes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace halvora {

// What the update check needs from the window side. RunOnWindowThread is called on the worker
// thread; Message and QuitApplication only on the window thread (inside the work it runs, or
// once the job has ended).
class UpdateHost {
public:
    virtual ~UpdateHost() = default;
    // Runs AWork on the window thread and waits until it has finished. Gives false, without
    // running it, when the window is gone (the worker then goes on without waiting).
    virtual bool RunOnWindowThread(const std::function<void()>& AWork) = 0;
    virtual BoxAnswer Message(BoxKind AKind, const QString& AText, BoxButtons AButtons) = 0;
    // Ends the application's message loop.
    virtual void QuitApplication() = 0;
    // Any thread: the status line (the self-update download's progress).
    virtual void Status(const QString& AText) { (void)AText; }
};

using StatusSink = std::function<void(const QString&)>;

// Provisioning of ffmpeg and the VLC runtime into the application folder, and self-update.
// Each start-up job has one of its own, made on the window thread and used by one thread at a
// time: the job's worker, the window thread while the worker waits for the question, then the
// window thread once the job has ended (the hand-over to the helper).
class TUpdater {
public:
    // AExeDir: the application folder (with or without a trailing '/'); AppDir() by default.
    explicit TUpdater(const QString& AExeDir = QString());
    virtual ~TUpdater();
    TUpdater(const TUpdater&) = delete;
    TUpdater& operator=(const TUpdater&) = delete;

    bool ComponentsNeeded() const;
    bool IsComponentPresent(const QString& AId) const;
    // AErr empty on return means success; AOffline is set only when the list could not be fetched.
    void EnsureComponents(const StatusSink& AStatus, QString& AErr, bool& AOffline);
    // Runs "updater --unpack ARCHIVE DEST/"; true when it ended with exit code 0.
    bool UnpackComponent(const QString& AArchive, const QString& ADest, QString& AErr);
    // Whether a helper died while putting a wholly unpacked component in place, leaving some
    // of its entries new and others old.
    bool InterruptedInstallLeft() const;
    // Runs "updater --finish DEST/" when InterruptedInstallLeft(): the helper puts the rest of
    // that component in place. True when nothing was left or it was finished.
    bool FinishInterruptedInstall(QString& AErr);

    // The update check with the hand-over to the helper, for a caller whose host runs work on
    // the window thread: silent, never throws. Prompts through the host when a newer release
    // is offered.
    void CheckForUpdate();
    // The self-update job up to the hand-over: the check, the question (on the window thread,
    // through the host) and the new program's download. Never throws.
    UpdateOutcome FetchUpdate();
    QString CurrentVersion() const { return FCurrentVersion; }
    static int ReleaseNumber(const QString& AVersion);
    // Fetches the new program file to FNewExePath, or leaves FNewExePath empty.
    void DownloadUpdate();
    // Window thread: starts the helper on the downloaded program file.
    LaunchOutcome StartUpdateHelper();
    // Window thread: StartUpdateHelper, then the application ends or the host shows why not.
    void LaunchUpdater();
    // Removes the new program file an earlier update left (its helper was stopped or failed):
    // an update always downloads afresh, so it is only litter in the temporary folder.
    void RemoveLeftoverDownload();

    // Set-up for the window side and for tests.
    void SetHost(UpdateHost* AHost) { FHost = AHost; }
    void SetHelperPath(const QString& APath) { FHelperPath = APath; }
    void SetRunningProgram(const QString& APath) { FRunningExe = APath; }
    void SetCurrentVersion(const QString& AVersion) { FCurrentVersion = AVersion; }
    // The program that asks for elevated rights ("pkexec") and the test that decides whether a
    // folder needs them (by default: the user cannot write to it).
    void SetElevation(const QString& AProgram, std::function<bool(const QString&)> ANeeds);
    // Asked before each component's download and unpack; true ends the run there (the start-up
    // worker stops once its window is gone).
    void SetStopCheck(std::function<bool()> AStop) { FStop = std::move(AStop); }
    // Off in a packaged build (the default there): nothing is downloaded, the helper is never
    // started; the package manager owns the program's files.
    void SetSelfUpdate(bool AOn) { FSelfUpdate = AOn; }
    bool SelfUpdate() const { return FSelfUpdate; }
    static bool SelfUpdateBuilt();

    QString ExeDir() const { return FExeDir; }
    QString DownloadDir() const { return FDownloadDir; }
    QString NewExePath() const { return FNewExePath; }
    QString NewVersion() const { return FNewVersion; }
    QString DownloadUrl() const { return FDownloadUrl; }
    std::int64_t NewSize() const { return FNewSize; }
    int NewRelease() const { return FNewRelease; }

private:
    // Reads the manifest into the F fields; true when it offers a newer release with a link.
    bool FindUpdate(QString& ANotes);
    // The question on the window thread: true when the user wants the update.
    bool Prompt(const QString& ANotes);
    void EnsureComponentsRun(const StatusSink& AStatus, QString& AErr, bool& AOffline);
    // The service's list of components; false with AErr (and AOffline when unreachable).
    bool FetchComponentList(const QString& ABase, QList<ComponentEntry>& AEntries, QString& AErr,
                            bool& AOffline);
    // Downloads, checks and unpacks one component; false with AErr.
    bool InstallComponent(const ComponentEntry& AEntry, const QString& ABase,
                          const StatusSink& AStatus, QString& AErr);
    // True (with AErr "stopped") once the window asked the work to stop.
    bool StopRequested(QString& AErr) const;
    bool NeedsElevation(const QString& ADir) const;
    // Runs "updater AOPTION PATHS..." for the folder ADest, elevated when that folder needs
    // it. Its exit code, kRunTimedOut, or kRunNotStarted with AErr set.
    int RunHelper(const QString& AOption, const QStringList& APaths, const QString& ADest,
                  QString& AErr);
    QString NewProgramPath() const;

    HttpRequest FHttp; // settings of the update check's requests (8000 ms timeouts)
    int FNewRelease = 0;
    QString FNewVersion;
    QString FDownloadUrl;
    std::int64_t FNewSize = 0;
    QString FExeDir;
    QString FNewExePath;
    QString FDownloadDir;

    QString FNewSha256;
    QString FHelperPath;
    QString FRunningExe;
    QString FCurrentVersion;
    QString FElevator = QStringLiteral("pkexec");
    std::function<bool(const QString&)> FNeedsElevation;
    UpdateHost* FHost = nullptr;
    std::function<bool()> FStop;
    bool FSelfUpdate = SelfUpdateBuilt();
};

// Why a packaged build neither downloads nor installs anything itself.
inline constexpr const char* kManagedByPackageManager = "managed by your package manager";

} // namespace halvora
