#include "WorkQueue.h"

namespace halvora::service {

WorkQueue::WorkQueue(int AThreads) {
    for (int i = 0; i < AThreads; ++i)
        FThreads.emplace_back([this] { Loop(); });
}

WorkQueue::~WorkQueue() {
    Finish();
}

void WorkQueue::Post(std::function<void()> AJob) {
    std::unique_lock lock(FMutex);
    if (FFinishing) {
        // No thread is left to run it: the caller does.
        lock.unlock();
        AJob();
        return;
    }
    FJobs.push_back(std::move(AJob));
    lock.unlock();
    FWake.notify_one();
}

void WorkQueue::Finish() {
    {
        std::lock_guard lock(FMutex);
        FFinishing = true;
    }
    FWake.notify_all();
    for (std::thread& t : FThreads)
        if (t.joinable())
            t.join();
}

void WorkQueue::Loop() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [&] { return FFinishing || !FJobs.empty(); });
        if (FJobs.empty())
            return; // finishing, and nothing left
        std::function<void()> job = std::move(FJobs.front());
        FJobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

} // namespace halvora::service
