#include "Bootstrap.h"

#include "AppPaths.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

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

// Signals a waiting worker when the last copy of the handed-over work is destroyed: after it
// has run, or when Qt drops it with its dead receiver.
struct Handover {
    QMutex lock;
    QWaitCondition cond;
    bool finished = false;
    bool ran = false;
};

struct HandoverRelease {
    explicit HandoverRelease(std::shared_ptr<Handover> AHandover) : h(std::move(AHandover)) {}
    HandoverRelease(const HandoverRelease&) = delete;
    HandoverRelease& operator=(const HandoverRelease&) = delete;
    std::shared_ptr<Handover> h;
    ~HandoverRelease() {
        QMutexLocker locker(&h->lock);
        h->finished = true;
        h->cond.wakeAll();
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

private:
    const BootstrapWindow& FWindow;
};

} // namespace

void WindowGate::Close() {
    QMutexLocker locker(&FLock);
    FContext = nullptr;
}

bool WindowGate::IsOpen() const {
    QMutexLocker locker(&FLock);
    return FContext != nullptr;
}

bool WindowGate::Queue(std::function<void()> AWork) {
    // Posting under the lock: Close() cannot complete (and the context cannot go) in between,
    // and once it is gone Qt drops whatever was posted to it.
    QMutexLocker locker(&FLock);
    if (!FContext)
        return false;
    return QMetaObject::invokeMethod(FContext, std::move(AWork), Qt::QueuedConnection);
}

bool WindowGate::RunAndWait(std::function<void()> AWork) {
    {
        // Called on the window thread itself: waiting for its own loop would never end.
        QMutexLocker locker(&FLock);
        if (!FContext)
            return false;
        if (QThread::currentThread() == FContext->thread()) {
            locker.unlock();
            AWork();
            return true;
        }
    }
    auto handover = std::make_shared<Handover>();
    {
        auto release = std::make_shared<HandoverRelease>(handover);
        auto work = [handover, release, AWork = std::move(AWork)] {
            AWork();
            QMutexLocker locker(&handover->lock);
            handover->ran = true;
        };
        if (!Queue(std::move(work)))
            return false;
    }
    // Not a BlockingQueuedConnection: that would wait for ever if the window went first.
    QMutexLocker locker(&handover->lock);
    while (!handover->finished)
        handover->cond.wait(&handover->lock);
    return handover->ran;
}

GateContext::GateContext() : FGate(std::make_shared<WindowGate>(this)) {}

GateContext::~GateContext() {
    FGate->Close();
}

void RunBootstrap(const BootstrapWindow& AWindow) {
    try {
        TUpdater updater(AWindow.appDir);
        const std::shared_ptr<WindowGate> gate = AWindow.gate;
        updater.SetStopCheck([gate] { return !gate->IsOpen(); });
        if (AWindow.configure)
            AWindow.configure(updater);
        WorkerHost host(AWindow);
        updater.SetHost(&host);

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
