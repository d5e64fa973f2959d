#pragma once

#include <QMutex>
#include <QObject>
#include <functional>
#include <memory>

namespace halvora {

// The one way a worker thread reaches its window. The window owns a context object on the
// window thread and closes the gate before that object (and the window) go; work queued
// before that but not yet run is dropped with the context, never run against a dead window.
// A worker waiting in RunAndWait is released when its work has run or has been dropped, so
// a window that closes (or an application that quits) never leaves a worker blocked.
class WindowGate {
public:
    explicit WindowGate(QObject* AContext) : FContext(AContext) {}
    WindowGate(const WindowGate&) = delete;
    WindowGate& operator=(const WindowGate&) = delete;

    // Window thread: no work is handed over from now on.
    void Close();
    bool IsOpen() const;
    // Any thread: queues AWork to the window thread without waiting; false when closed.
    bool Queue(std::function<void()> AWork);
    // Worker thread: runs AWork on the window thread and waits until it has run or has been
    // dropped; true only when it ran.
    bool RunAndWait(std::function<void()> AWork);

private:
    mutable QMutex FLock;
    QObject* FContext; // null once closed
};

// A QObject to serve as a gate's context: it closes the gate when it is destroyed, so owning
// it (declared last, destroyed first) is all a window has to do.
class GateContext : public QObject {
    Q_OBJECT
public:
    GateContext();
    ~GateContext() override;
    const std::shared_ptr<WindowGate>& Gate() const { return FGate; }

private:
    std::shared_ptr<WindowGate> FGate;
};

} // namespace halvora
