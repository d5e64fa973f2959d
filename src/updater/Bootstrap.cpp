#include "Bootstrap.h"

#include "AppPaths.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>

namespace halvora {

namespace {

std::atomic<int> GWorkers{0};

// At process exit the TLS library under libcurl frees its global state (an exit handler that
// curl_global_init in main registered). A worker still inside a transfer would then use freed
// state, so exit gives running workers a moment to end: they abandon their transfer once
// their window is gone. Only an unpack by the helper (no TLS) can outlast the wait.
struct ExitWait {
    ~ExitWait() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (GWorkers.load() > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

class WorkerHost : public UpdateHost {
public:
    explicit WorkerHost(const BootstrapWindow& AWindow) : FWindow(AWindow) {}
    bool RunOnWindowThread(const std::function<void()>& AWork) override {
        return FWindow.gate->RunAndWait(AWork);
    }
    BoxAnswer Message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        return FWindow.message ? FWindow.message(AKind, AText, AButtons) : BoxAnswer::Closed;
    }
    void QuitApplication() override {
        if (FWindow.quit)
            FWindow.quit();
    }
    void Status(const QString& AText) override {
        const auto status = FWindow.status;
        if (status)
            FWindow.gate->Queue([status, AText] { status(AText); });
    }

private:
    const BootstrapWindow& FWindow;
};

} // namespace

void RunBootstrap(const BootstrapWindow& AWindow) {
    try {
        TUpdater updater(AWindow.appDir);
        const std::shared_ptr<WindowGate> gate = AWindow.gate;
        updater.SetStopCheck([gate] { return !gate->IsOpen(); });
        if (AWindow.configure)
            AWindow.configure(updater);
        WorkerHost host(AWindow);
        updater.SetHost(&host);
        updater.RemoveLeftoverDownload();

        QString err;
        bool offline = false;
        try {
            if (updater.ComponentsNeeded()) {
                const auto status = AWindow.status;
                AWindow.gate->Queue([status] {
                    status(QStringLiteral("Downloading components needed by the program..."));
                });
            }
            updater.EnsureComponents(nullptr, err, offline);
        } catch (...) {
            err.clear();
        }
        // The results travel with the completion, so the worker never writes into a window
        // that may be gone.
        const auto done = AWindow.done;
        AWindow.gate->Queue([done, err, offline] { done(err, offline); });

        // No window, nobody to ask.
        if (AWindow.gate->IsOpen())
            updater.CheckForUpdate();
    } catch (...) {
    }
}

void StartBootstrapWorker(BootstrapWindow AWindow) {
    // Qt works out (and caches) the program's path on first use; do that here, on the window
    // thread, rather than racing for it on the worker.
    if (QCoreApplication::instance())
        (void)QCoreApplication::applicationFilePath();
    if (AWindow.appDir.isEmpty())
        AWindow.appDir = AppDir();
    // Made at the first start, after curl's global set-up: exit runs it before that one's
    // clean-up.
    static ExitWait exitWait;
    ++GWorkers;
    try {
        std::thread([window = std::move(AWindow)]() mutable {
            {
                // Everything the worker holds goes before it counts as ended.
                const BootstrapWindow mine = std::move(window);
                RunBootstrap(mine);
            }
            --GWorkers;
        }).detach();
    } catch (...) {
        --GWorkers;
    }
}

int BootstrapWorkersRunning() {
    return GWorkers.load();
}

} // namespace halvora
