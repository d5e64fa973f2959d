#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace halvora::service {

// Deadlines that an event-driven server cannot keep by itself: a client that sends one byte
// now and then never looks idle. Past its deadline a connection's socket is shut down, which
// the server's event loop sees as the client leaving. Entries are removed before the server
// closes a socket, so a number reused by a new connection is never touched.
class ConnectionDeadlines {
public:
    ConnectionDeadlines();
    ~ConnectionDeadlines();
    ConnectionDeadlines(const ConnectionDeadlines&) = delete;
    ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

    // A new connection on AFd; its first deadline ASeconds from now (0: none).
    void Add(const void* AConnection, int AFd, int ASeconds);
    // The connection's next deadline, ASeconds from now (0: none).
    void Set(const void* AConnection, int ASeconds);
    // Before its socket is closed.
    void Remove(const void* AConnection);

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        int fd = -1;
        Clock::time_point due = Clock::time_point::max();
    };
    void Loop();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::map<const void*, Entry> FEntries;
    bool FStopping = false;
    std::thread FThread;
};

} // namespace halvora::service
