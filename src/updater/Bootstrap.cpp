#include "Bootstrap.h"

#include "AppPaths.h"
#include "UpdateMessages.h"

namespace halvora {

ProvisionOutcome ProvisionComponents(TUpdater& AUpdater, const std::function<void()>& AFetching) {
    QString err;
    bool offline = false;
    try {
        if (AUpdater.ComponentsNeeded() && AFetching)
            AFetching();
        AUpdater.EnsureComponents(nullptr, err, offline);
    } catch (...) {
        err.clear();
    }
    if (err.isEmpty())
        return {};
    return {offline ? ProvisionResult::Unreachable : ProvisionResult::Failed, err};
}

// The update job's window side: questions and boxes on the window thread through the job's gate,
// so a worker asking after the window has gone is told no instead of waiting.
class BootstrapJobs::Host : public UpdateHost {
public:
    Host(const BootstrapWindow& AWindow, std::shared_ptr<WindowGate> AGate)
        : FWindow(AWindow), FGate(std::move(AGate)) {}
    bool RunOnWindowThread(const std::function<void()>& AWork) override {
        return FGate->RunAndWait(AWork);
    }
    BoxAnswer Message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        return FWindow.message(AKind, AText, AButtons);
    }
    void QuitApplication() override { FWindow.quit(); }
    void Status(const QString& AText) override {
        FGate->Queue([this, AText] { FWindow.status(AText); });
    }

private:
    const BootstrapWindow& FWindow;
    const std::shared_ptr<WindowGate> FGate;
};

BootstrapJobs::BootstrapJobs(BootstrapWindow AWindow)
    : FWindow(std::move(AWindow)), FHost(std::make_unique<Host>(FWindow, FUpdate.gate())) {}

BootstrapJobs::~BootstrapJobs() {
    // Before the host and the window's functions go: a worker may still be using them.
    FProvision.stopAndWait();
    FUpdate.stopAndWait();
}

void BootstrapJobs::SetSetup(const QString& AAppDir, std::function<void(TUpdater&)> AConfigure) {
    FAppDir = AAppDir;
    FConfigure = std::move(AConfigure);
}

std::shared_ptr<TUpdater> BootstrapJobs::MakeUpdater() const {
    // Made here, on the window thread: Qt works out (and caches) the program's path on first
    // use, which the workers must not race for.
    auto updater = std::make_shared<TUpdater>(FAppDir.isEmpty() ? AppDir() : FAppDir);
    if (FConfigure)
        FConfigure(*updater);
    return updater;
}

void BootstrapJobs::Start() {
    const std::shared_ptr<TUpdater> updater = MakeUpdater();
    // The new program file of an update still downloading is no leftover.
    const bool removeLeftover = !FUpdate.running();
    const auto status = FWindow.status;
    FProvision.start<ProvisionOutcome>(
        [updater, removeLeftover, status](const WorkerJob::Context& AJob) {
            updater->SetStopCheck([stop = AJob.stop] { return stop->requested(); });
            if (removeLeftover)
                updater->RemoveLeftoverDownload();
            return ProvisionComponents(*updater, [gate = AJob.gate, status] {
                gate->Queue([status] { status(ComponentsDownloadingText()); });
            });
        },
        [this](const ProvisionOutcome& AOutcome) { Provisioned(AOutcome); });
}

void BootstrapJobs::Provisioned(const ProvisionOutcome& AOutcome) {
    // The update check follows whatever provisioning came to; its question may open on top of
    // the Retry box.
    CheckForUpdate();
    if (AOutcome.result == ProvisionResult::Ready) {
        FWindow.componentsReady();
        return;
    }
    FWindow.status(ProvisionFailedStatus(AOutcome));
    const std::weak_ptr<char> alive = FAlive;
    const BoxAnswer answer =
        FWindow.message(BoxKind::Warning, ProvisionFailedBox(AOutcome), BoxButtons::RetryCancel);
    if (alive.expired() || answer != BoxAnswer::Retry)
        return;
    FWindow.status(RetryingText());
    Start();
}

void BootstrapJobs::CheckForUpdate() {
    // One check at a time: one asked for meanwhile follows the running one.
    if (FUpdate.running()) {
        FCheckAgain = true;
        return;
    }
    FCheckAgain = false;
    const std::shared_ptr<TUpdater> updater = MakeUpdater();
    updater->SetHost(FHost.get());
    FUpdate.start<UpdateOutcome>(
        [updater](const WorkerJob::Context& AJob) {
            updater->SetStopCheck([stop = AJob.stop] { return stop->requested(); });
            return updater->FetchUpdate();
        },
        [this, updater](const UpdateOutcome& AOutcome) { UpdateEnded(*updater, AOutcome); });
}

void BootstrapJobs::UpdateEnded(TUpdater& AUpdater, const UpdateOutcome& AOutcome) {
    const std::weak_ptr<char> alive = FAlive;
    if (AOutcome.result == UpdateResult::Downloaded)
        AUpdater.LaunchUpdater();
    if (!alive.expired() && FCheckAgain)
        CheckForUpdate();
}

} // namespace halvora
