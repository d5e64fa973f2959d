#pragma once

#include <functional>

namespace halvora::cli {

// SIGINT and SIGTERM end a job as the window's Stop does. They are blocked in every thread
// (BlockStopSignals, before any thread starts) and taken by one thread of their own, so what
// they call may lock and ask a flow to stop.
void BlockStopSignals();

// While it lives, each SIGINT or SIGTERM calls AOnSignal on the signal thread.
class StopOnSignal {
public:
    explicit StopOnSignal(std::function<void()> AOnSignal);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;
};

} // namespace halvora::cli
