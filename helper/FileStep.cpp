#include "FileStep.h"

#include <csignal>
#include <cstdlib>

namespace helper {

void FileStep() {
    static const long killAt = [] {
        const char* v = std::getenv("HALVORA_HELPER_KILL_AT");
        return v ? std::strtol(v, nullptr, 10) : 0L;
    }();
    static long steps = 0;
    if (killAt > 0 && ++steps == killAt)
        std::raise(SIGKILL);
}

bool ExchangeRefused() {
    static const bool refused = std::getenv("HALVORA_HELPER_NO_EXCHANGE") != nullptr;
    return refused;
}

} // namespace helper
