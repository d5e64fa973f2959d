#include "WindowGate.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

namespace halvora {

namespace {

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

} // namespace halvora
