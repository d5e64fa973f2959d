#pragma once

#include "Updater.h"
#include "WindowGate.h"

#include <QString>
#include <functional>
#include <memory>

namespace halvora {

// What the start-up worker reports to its window. The functions run on the window thread,
// only while the window exists (they are handed over through the gate).
struct BootstrapWindow {
    std::shared_ptr<WindowGate> gate;
    std::function<void(const QString&)> status;     // the status line
    std::function<void(const QString&, bool)> done; // error text (empty: success), offline
    std::function<BoxAnswer(BoxKind, const QString&, BoxButtons)> message; // a modal box
    std::function<void()> quit;                                            // end the message loop
    std::function<void(TUpdater&)> configure; // tests: folders, helper, elevation
    QString appDir;                           // empty: the program's own folder
};

// The worker's procedure: provisioning, the completion queued to the window, then the update
// check. Runs on the calling thread; never throws.
void RunBootstrap(const BootstrapWindow& AWindow);

// Starts RunBootstrap on a new thread that frees itself and is never waited for.
void StartBootstrapWorker(BootstrapWindow AWindow);

// How many bootstrap workers are still running (tests wait for 0 before they finish).
int BootstrapWorkersRunning();

} // namespace halvora
