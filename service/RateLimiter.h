#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace halvora::service {

// Posts per key (a client address, or an IPv6 /64) within the last minute.
class RateLimiter {
public:
    explicit RateLimiter(int APerMinute) : limit(APerMinute) {}
    // True when one more post under AKey is allowed now (and counts it).
    bool Allow(const std::string& AKey);

private:
    using Clock = std::chrono::steady_clock;
    void Prune(Clock::time_point ANow);

    int limit;
    std::mutex mutex;
    std::map<std::string, std::deque<Clock::time_point>> seen;
    unsigned calls = 0;
};

} // namespace halvora::service
