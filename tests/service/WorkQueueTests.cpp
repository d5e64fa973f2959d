// The service's worker threads for requests that wait on the disk.
#include "WorkQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using halvora::service::WorkQueue;

TEST(WorkQueue, RunsEveryJobPostedBeforeFinishThenRunsLateOnesInline) {
    std::atomic<int> ran{0};
    std::atomic<bool> onCaller{false};
    WorkQueue q(3);
    for (int i = 0; i < 100; ++i)
        q.Post([&] { ++ran; });
    q.Finish();
    EXPECT_EQ(ran.load(), 100);
    const auto caller = std::this_thread::get_id();
    q.Post([&] { onCaller = std::this_thread::get_id() == caller; });
    EXPECT_TRUE(onCaller.load());
}
