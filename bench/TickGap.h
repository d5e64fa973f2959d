#pragma once

// The window-thread responsiveness figure the benchmarks share: the longest gap between ticks
// of a 10 ms timer while work runs.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace halvora::bench {

// Runs the event loop while ABusy holds; gives the longest tick gap in ms. AOnTick runs at
// every tick (to press Stop at the right moment, to start the next grab).
inline qint64 LongestTickGap(const std::function<bool()>& ABusy,
                             const std::function<void()>& AOnTick = {}) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (AOnTick)
            AOnTick();
        if (!ABusy())
            loop.quit();
    });
    tick.start(10);
    loop.exec();
    return longest;
}

// The same with nothing running for AMs: what the shared machine alone costs the window.
inline qint64 IdleTickGap(int AMs = 3000) {
    QElapsedTimer t;
    t.start();
    return LongestTickGap([&] { return t.elapsed() < AMs; });
}

} // namespace halvora::bench
