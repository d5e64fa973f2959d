#include "StopSignals.h"

#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace halvora::cli {

namespace {

std::mutex GLock;
std::function<void()> GOnSignal;

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Lives as long as the program; the process ends it.
void StartSignalThread() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            const sigset_t set = StopSet();
            for (;;) {
                int signal = 0;
                if (::sigwait(&set, &signal) != 0)
                    continue;
                const std::lock_guard<std::mutex> g(GLock);
                if (GOnSignal)
                    GOnSignal();
            }
        }).detach();
    });
}

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopOnSignal::StopOnSignal(std::function<void()> AOnSignal) {
    {
        const std::lock_guard<std::mutex> g(GLock);
        GOnSignal = std::move(AOnSignal);
    }
    StartSignalThread();
}

StopOnSignal::~StopOnSignal() {
    const std::lock_guard<std::mutex> g(GLock);
    GOnSignal = nullptr;
}

} // namespace halvora::cli
