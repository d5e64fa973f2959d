// Provisioning: which components are missing, the service's list, and each one's download,
// checks and install.
#include "Updater.h"

#include "Download.h"
#include "PrivateFolder.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

namespace halvora {

namespace {

constexpr int kListTimeoutMs = 10000;

const QString kFfmpegId = QStringLiteral("ffmpeg");
const QString kVlcId = QStringLiteral("vlc");

} // namespace

bool TUpdater::IsComponentPresent(const QString& AId) const {
    // Links are followed: a link to the system's copy counts as installed.
    if (AId.compare(kFfmpegId, Qt::CaseInsensitive) == 0) {
        const QFileInfo fi(FExeDir + QStringLiteral("ffmpeg"));
        return fi.exists() && !fi.isDir();
    }
    if (AId.compare(kVlcId, Qt::CaseInsensitive) == 0)
        return QFileInfo(FExeDir + QStringLiteral("vlc")).isDir();
    return false;
}

bool TUpdater::ComponentsNeeded() const {
    // A packaged program takes ffmpeg and the VLC runtime from where the system installs them.
    if (!FSelfUpdate)
        return false;
    return !(IsComponentPresent(kFfmpegId) && IsComponentPresent(kVlcId));
}

void TUpdater::EnsureComponents(const StatusSink& AStatus, QString& AErr, bool& AOffline) {
    AErr.clear();
    AOffline = false;
    try {
        EnsureComponentsRun(AStatus, AErr, AOffline);
    } catch (const std::exception& e) {
        AErr = QString::fromLocal8Bit(e.what());
    } catch (...) {
        AErr = QStringLiteral("unexpected error");
    }
}

bool TUpdater::FetchComponentList(const QString& ABase, QList<ComponentEntry>& AEntries,
                                  QString& AErr, bool& AOffline) {
    QString detail;
    const QString text = HttpGetText(ABase + QStringLiteral("/update/components.json"),
                                     kListTimeoutMs, detail, FStop);
    if (text.isEmpty()) {
        AOffline = true;
        AErr = QStringLiteral("the download server could not be reached within %1 seconds (%2)")
                   .arg(kListTimeoutMs / 1000)
                   .arg(detail);
        return false;
    }
    switch (ParseComponentList(text.toUtf8(), AEntries)) {
    case ComponentListStatus::Unreadable:
        AErr = QStringLiteral("component list unreadable");
        return false;
    case ComponentListStatus::Empty:
        AErr = QStringLiteral("component list empty");
        return false;
    case ComponentListStatus::Ok:
        break;
    }
    return true;
}

bool TUpdater::StopRequested(QString& AErr) const {
    if (!FStop || !FStop())
        return false;
    AErr = QStringLiteral("stopped");
    return true;
}

bool TUpdater::InstallComponent(const ComponentEntry& AEntry, const QString& ABase,
                                const StatusSink& AStatus, QString& AErr) {
    // One substitution pass: a name holding "%2" stays as it is.
    AStatus(QStringLiteral("Preparing %1 (%2 MB)...")
                .arg(AEntry.name, QString::number(AEntry.size / 1048576)));
    if (!IsPlainFileName(AEntry.file)) {
        AErr = QStringLiteral("invalid archive file name \"%1\"").arg(AEntry.file);
        return false;
    }
    if (!PrivateFolder(FDownloadDir, AErr))
        return false;
    const QString archive = FDownloadDir + QLatin1Char('/') + AEntry.file;
    const QString url = ABase + QStringLiteral("/update/components/") + AEntry.file;
    AErr.clear();
    // A window that goes while the archive arrives ends the download there.
    if (!DownloadFile(url, archive, AEntry.sha256, AEntry.size, AErr, {}, FStop)) {
        AErr = AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    if (StopRequested(AErr)) {
        QFile::remove(archive);
        return false;
    }
    AStatus(QStringLiteral("Installing %1...").arg(AEntry.name));
    AErr.clear();
    const bool unpacked = UnpackComponent(archive, FExeDir, AErr);
    QFile archiveFile(archive);
    if (!archiveFile.remove() && archiveFile.exists()) {
        AErr = unpacked ? archiveFile.errorString() : AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    if (!unpacked) {
        AErr = AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    return true;
}

void TUpdater::EnsureComponentsRun(const StatusSink& AStatus, QString& AErr, bool& AOffline) {
    // Components left half replaced count as present: they are completed before anything else.
    if (!FinishInterruptedInstall(AErr))
        return;
    if (!ComponentsNeeded())
        return;
    const StatusSink status = [&](const QString& AText) {
        if (AStatus)
            AStatus(AText);
    };
    status(QStringLiteral("Checking the Internet connection..."));
    const QString base = ServiceBaseUrl();
    QList<ComponentEntry> entries;
    if (!FetchComponentList(base, entries, AErr, AOffline))
        return;
    for (const ComponentEntry& e : entries) {
        if (IsComponentPresent(e.id))
            continue;
        if (StopRequested(AErr) || !InstallComponent(e, base, status, AErr))
            return;
    }
    AErr.clear();
}

} // namespace halvora
