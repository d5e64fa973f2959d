#include "WorkerJob.h"

namespace halvora {

WorkerJob::WorkerJob() : FContext(std::make_unique<GateContext>()) {}

WorkerJob::~WorkerJob() {
    stopAndWait();
}

void WorkerJob::requestStop() {
    if (FRunning && FStop)
        FStop->request();
}

void WorkerJob::stopAndWait() {
    // A worker waiting for an answer is released by the closed gate; it then stops.
    FContext.reset();
    if (FThread.joinable()) {
        FStop->request();
        FThread.join();
    }
    FRunning = false;
}

WorkerJob::Context WorkerJob::begin() {
    FStop = std::make_shared<StopToken>();
    FRunning = true;
    return {FStop, FContext->Gate()};
}

void WorkerJob::ended() {
    if (FThread.joinable())
        FThread.join();
    FRunning = false;
}

} // namespace halvora
