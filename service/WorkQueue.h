#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace halvora::service {

// A few threads for work that may wait on the disk, so that the server's event loops never do.
class WorkQueue {
public:
    explicit WorkQueue(int AThreads);
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Runs AJob on one of the threads; after Finish, on the caller's.
    void Post(std::function<void()> AJob);
    // Runs every job already posted, then ends the threads.
    void Finish();

private:
    void Loop();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FJobs;
    bool FFinishing = false;
    std::vector<std::thread> FThreads;
};

} // namespace halvora::service
