#pragma once

#include "Updater.h"
#include "WorkerJob.h"

#include <QString>
#include <functional>
#include <memory>

namespace halvora {

// What the start-up jobs need of their window. Each is called on the window thread, and only
// while the window exists.
struct BootstrapWindow {
    std::function<void(const QString&)> status;                            // the status line
    std::function<BoxAnswer(BoxKind, const QString&, BoxButtons)> message; // a modal box
    std::function<void()> componentsReady; // refresh what depends on the components
    std::function<void()> quit;            // end the message loop (an update is installed)
};

// The start-up provisioning job: finishes an install a killed helper left and fetches the
// components that are missing. AFetching is called first when any is missing. Never throws;
// an error that escapes provisioning counts as success (the window still checks for ffmpeg).
ProvisionOutcome ProvisionComponents(TUpdater& AUpdater, const std::function<void()>& AFetching);

// The window side of the start-up: provisioning, then the update check with its download, each
// a job of its own whose outcome becomes what the user reads. Owned by the window: going, it
// stops its jobs and waits for them, and nothing they hand over runs after that.
class BootstrapJobs {
public:
    explicit BootstrapJobs(BootstrapWindow AWindow);
    ~BootstrapJobs();
    BootstrapJobs(const BootstrapJobs&) = delete;
    BootstrapJobs& operator=(const BootstrapJobs&) = delete;

    // Where components are provisioned (empty: the program's folder) and a last say on each
    // TUpdater (tests: helper, elevation).
    void SetSetup(const QString& AAppDir, std::function<void(TUpdater&)> AConfigure);
    // Provisioning, then the update check.
    void Start();
    // A job runs, or an outcome has yet to reach the window.
    bool running() const { return FProvision.running() || FUpdate.running(); }

private:
    class Host;
    std::shared_ptr<TUpdater> MakeUpdater() const;
    void Provisioned(const ProvisionOutcome& AOutcome);
    void CheckForUpdate();
    void UpdateEnded(TUpdater& AUpdater, const UpdateOutcome& AOutcome);

    BootstrapWindow FWindow;
    QString FAppDir;
    std::function<void(TUpdater&)> FConfigure;
    bool FCheckAgain = false; // a check was asked for while one ran
    // Gone with this object: tells code after a modal box whether it may go on.
    std::shared_ptr<char> FAlive = std::make_shared<char>();
    WorkerJob FProvision;
    WorkerJob FUpdate;
    std::unique_ptr<Host> FHost; // the update job's way to the window
};

} // namespace halvora
