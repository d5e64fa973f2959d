// Running the helper program: unpacking a component, finishing an install a killed helper
// left, with elevated rights where the application folder needs them.
#include "Updater.h"

#include "HelperLaunch.h"
#include "InstallLayout.h"
#include "Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace halvora {

namespace {

constexpr std::uint32_t kUnpackWaitMs = 180000;

} // namespace

void TUpdater::SetElevation(const QString& AProgram, std::function<bool(const QString&)> ANeeds) {
    FElevator = AProgram;
    FNeedsElevation = std::move(ANeeds);
}

bool TUpdater::NeedsElevation(const QString& ADir) const {
    return FNeedsElevation ? FNeedsElevation(ADir) : !CanWriteFolder(ADir);
}

int TUpdater::RunHelper(const QString& AOption, const QStringList& APaths, const QString& ADest,
                        QString& AErr) {
    const QFileInfo helper(FHelperPath);
    if (!helper.exists() || helper.isDir()) {
        AErr = QStringLiteral("updater not found");
        return kRunNotStarted;
    }
    const bool elevated = NeedsElevation(ADest);
    Command cmd = elevated ? Command(FElevator).path(FHelperPath) : Command(FHelperPath);
    cmd.arg(AOption);
    for (const QString& p : APaths)
        cmd.path(p);
    RunOptions options;
    options.timeoutMs = kUnpackWaitMs;
    // An install cut short is only finished by the next start: better let it end on its own.
    options.deathSignal = 0;
    // Unless the window goes: it waits for its jobs, and the next start finishes the install.
    const std::function<bool()> stop = FStop;
    options.onWait = [stop] { return !stop || !stop(); };
    const int rc = RunCommand(cmd, options);
    if (rc == kRunCancelled) {
        AErr = QStringLiteral("stopped");
        return kRunCancelled;
    }
    if (rc == kRunNotStarted) {
        const QString program = elevated ? ResolveProgram(FElevator) : FHelperPath;
        int code = ENOENT;
        if (!program.isEmpty())
            code = ::access(QFile::encodeName(program).constData(), X_OK) == 0 ? ENOEXEC : errno;
        AErr = QStringLiteral("could not start the helper (error %1)").arg(code);
        return kRunNotStarted;
    }
    // pkexec: 126 when the user dismissed the request, 127 when not authorised.
    if (elevated && (rc == 126 || rc == 127)) {
        AErr = QStringLiteral("could not start the helper (error %1)").arg(rc);
        return kRunNotStarted;
    }
    return rc;
}

bool TUpdater::UnpackComponent(const QString& AArchive, const QString& ADest, QString& AErr) {
    AErr.clear();
    if (!FSelfUpdate) {
        AErr = QString::fromLatin1(kManagedByPackageManager);
        return false;
    }
    const int rc = RunHelper(QStringLiteral("--unpack"), {AArchive, ADest}, ADest, AErr);
    if (rc == kRunNotStarted || rc == kRunCancelled)
        return false;
    if (rc == kRunTimedOut) {
        // The helper unpacks into a staging folder, so stopping it leaves nothing half-made.
        AErr =
            QStringLiteral("unpack failed (timed out after %1 seconds)").arg(kUnpackWaitMs / 1000);
        return false;
    }
    if (rc != 0) {
        AErr = QStringLiteral("unpack failed (exit %1)").arg(static_cast<unsigned>(rc));
        return false;
    }
    return true;
}

bool TUpdater::InterruptedInstallLeft() const {
    const QDir dir(FExeDir);
    const QStringList stagings =
        dir.entryList({QLatin1String(helper::kStagingPrefix) + QLatin1Char('*')},
                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& s : stagings)
        if (QFileInfo::exists(
                dir.filePath(s + QLatin1Char('/') + QLatin1String(helper::kJournalName))))
            return true;
    return false;
}

bool TUpdater::FinishInterruptedInstall(QString& AErr) {
    AErr.clear();
    if (!FSelfUpdate || !InterruptedInstallLeft())
        return true;
    const int rc = RunHelper(QStringLiteral("--finish"), {FExeDir}, FExeDir, AErr);
    if (rc == 0)
        return true;
    if (rc == kRunTimedOut)
        AErr = QStringLiteral("an interrupted install could not be finished (timed out after %1 "
                              "seconds)")
                   .arg(kUnpackWaitMs / 1000);
    else if (rc != kRunNotStarted && rc != kRunCancelled)
        AErr = QStringLiteral("an interrupted install could not be finished (exit %1)")
                   .arg(static_cast<unsigned>(rc));
    return false;
}

} // namespace halvora
