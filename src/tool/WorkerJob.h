#pragma once

#include "Process.h"
#include "WindowGate.h"

#include <functional>
#include <memory>
#include <thread>

namespace halvora {

// One long job at a time on a worker thread, for an object that lives on the window thread.
// The work is given a stop token of its own and the gate through which it hands things to the
// window; its outcome reaches ADone on the window thread once the worker has ended. Going
// away, the job drops whatever the worker still hands over, asks it to stop and waits for it,
// so no worker outlives its owner and nothing runs against an owner that is gone.
class WorkerJob {
public:
    // What the work is given.
    struct Context {
        std::shared_ptr<StopToken> stop;
        std::shared_ptr<WindowGate> gate;
    };

    WorkerJob(); // on the window thread
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;
    ~WorkerJob();

    // Starts AWork unless a job is running (false then). ADone may start the next job.
    template <typename Outcome>
    bool start(std::function<Outcome(const Context&)> AWork,
               std::function<void(const Outcome&)> ADone);

    bool running() const { return FRunning; }
    // The running job is asked to stop; it still ends through ADone.
    void requestStop();
    // For an owner going away: drops what the worker hands over, asks it to stop, waits.
    void stopAndWait();
    // The gate the running job hands things over by (the same for every job of this one).
    const std::shared_ptr<WindowGate>& gate() const { return FContext->Gate(); }

private:
    Context begin();
    void ended();

    std::unique_ptr<GateContext> FContext;
    std::shared_ptr<StopToken> FStop;
    std::thread FThread;
    bool FRunning = false;
};

template <typename Outcome>
bool WorkerJob::start(std::function<Outcome(const Context&)> AWork,
                      std::function<void(const Outcome&)> ADone) {
    if (FRunning || !FContext)
        return false;
    const Context context = begin();
    FThread = std::thread([this, context, work = std::move(AWork), done = std::move(ADone)] {
        const Outcome outcome = work(context);
        context.gate->Queue([this, outcome, done] {
            ended();
            if (done)
                done(outcome);
        });
    });
    return true;
}

} // namespace halvora
