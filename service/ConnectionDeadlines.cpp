#include "ConnectionDeadlines.h"

#include <sys/socket.h>

namespace halvora::service {

ConnectionDeadlines::ConnectionDeadlines() : FThread([this] { Loop(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    FThread.join();
}

void ConnectionDeadlines::Add(const void* AConnection, int AFd, int ASeconds) {
    std::lock_guard lock(FMutex);
    Entry& e = FEntries[AConnection];
    e.fd = AFd;
    e.due = ASeconds > 0 ? Clock::now() + std::chrono::seconds(ASeconds) : Clock::time_point::max();
}

void ConnectionDeadlines::Set(const void* AConnection, int ASeconds) {
    std::lock_guard lock(FMutex);
    const auto it = FEntries.find(AConnection);
    if (it != FEntries.end())
        it->second.due =
            ASeconds > 0 ? Clock::now() + std::chrono::seconds(ASeconds) : Clock::time_point::max();
}

void ConnectionDeadlines::Remove(const void* AConnection) {
    std::lock_guard lock(FMutex);
    FEntries.erase(AConnection);
}

void ConnectionDeadlines::Loop() {
    std::unique_lock lock(FMutex);
    while (!FStopping) {
        // A quarter second is far below any deadline and costs one scan.
        FWake.wait_for(lock, std::chrono::milliseconds(250));
        const auto now = Clock::now();
        for (auto& [connection, e] : FEntries)
            if (e.due <= now) {
                ::shutdown(e.fd, SHUT_RDWR);
                e.due = Clock::time_point::max();
            }
    }
}

} // namespace halvora::service
