#pragma once

#include "Dialogs.h"
#include "UpdateOutcomes.h"

#include <QString>
#include <QtGlobal>

namespace halvora {

class UpdateHost;

// Every text the start-up provisioning and the self-update show the user, in one place.

// The status while missing components are fetched.
QString ComponentsDownloadingText();
// The status and the Retry/Cancel box of a failed provisioning.
QString ProvisionFailedStatus(const ProvisionOutcome& AOutcome);
QString ProvisionFailedBox(const ProvisionOutcome& AOutcome);
// The status once the user chose Retry.
QString RetryingText();

// The question whether to install a newer release.
QString UpdatePromptText(const QString& ACurrent, const QString& ANew, const QString& ANotes);
// The status while the new program file arrives (ATotal 0: size not known).
QString UpdateProgressText(qint64 AReceived, qint64 ATotal);
// The hand-over's end: the application is asked to end, or the user is told why not.
void ReportLaunch(UpdateHost& AHost, const LaunchOutcome& AOutcome);

} // namespace halvora
