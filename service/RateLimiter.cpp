#include "RateLimiter.h"

namespace halvora::service {

bool RateLimiter::Allow(const std::string& AKey) {
    if (limit <= 0)
        return true;
    const auto now = Clock::now();
    std::lock_guard lock(mutex);
    if (++calls % 4096 == 0)
        Prune(now);
    std::deque<Clock::time_point>& times = seen[AKey];
    while (!times.empty() && now - times.front() >= std::chrono::minutes(1))
        times.pop_front();
    if (times.size() >= size_t(limit))
        return false;
    times.push_back(now);
    return true;
}

void RateLimiter::Prune(Clock::time_point ANow) {
    for (auto it = seen.begin(); it != seen.end();) {
        if (it->second.empty() || ANow - it->second.back() >= std::chrono::minutes(1))
            it = seen.erase(it);
        else
            ++it;
    }
}

} // namespace halvora::service
