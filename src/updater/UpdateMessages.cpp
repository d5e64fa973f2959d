#include "UpdateMessages.h"

#include "FFmpegProgress.h"
#include "Updater.h"

namespace halvora {

QString ComponentsDownloadingText() {
    return QStringLiteral("Downloading components needed by the program...");
}

QString ProvisionFailedStatus(const ProvisionOutcome& AOutcome) {
    return QStringLiteral("Components unavailable: ") + AOutcome.detail;
}

QString ProvisionFailedBox(const ProvisionOutcome& AOutcome) {
    if (AOutcome.result == ProvisionResult::Unreachable)
        return QStringLiteral("Additional components needed by the program could not be "
                              "downloaded:\nthere is no Internet connection.\n\nPlease connect to "
                              "the Internet - and if a firewall is running,\nallow this program to "
                              "connect - then press Retry.");
    return QStringLiteral("Additional components needed by the program could not be "
                          "downloaded.\n\nPress Retry to try again.");
}

QString RetryingText() {
    return QStringLiteral("Trying again...");
}

QString UpdatePromptText(const QString& ACurrent, const QString& ANew, const QString& ANotes) {
    return QStringLiteral("A new version is available:\nCurrent: %1\nNew: %2\n%3\n\nUpdate now?")
        .arg(ACurrent, ANew, ANotes);
}

QString UpdateProgressText(qint64 AReceived, qint64 ATotal) {
    if (ATotal <= 0)
        return QStringLiteral("Downloading update: %1").arg(SizeText(AReceived));
    return QStringLiteral("Downloading update: %1 of %2 (%3%)")
        .arg(SizeText(AReceived), SizeText(ATotal))
        .arg(AReceived * 100 / ATotal);
}

void ReportLaunch(UpdateHost& AHost, const LaunchOutcome& AOutcome) {
    switch (AOutcome.result) {
    case LaunchResult::Started:
        AHost.QuitApplication();
        return;
    case LaunchResult::PackageManaged:
        AHost.Message(BoxKind::Information,
                      QStringLiteral("Updates of Halvora are ") +
                          QString::fromLatin1(kManagedByPackageManager) + QLatin1Char('.'),
                      BoxButtons::Ok);
        return;
    case LaunchResult::HelperMissing:
        AHost.Message(BoxKind::Error, QStringLiteral("Updater not found: ") + AOutcome.helper,
                      BoxButtons::Ok);
        return;
    case LaunchResult::NotStarted:
        AHost.Message(BoxKind::Error,
                      QStringLiteral("Failed to launch updater (error %1)").arg(AOutcome.code),
                      BoxButtons::Ok);
        return;
    }
}

} // namespace halvora
