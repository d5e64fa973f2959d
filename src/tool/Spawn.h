#pragma once

#include <sys/types.h>

namespace halvora {

// How one child is started. Every pointer stays valid until SpawnChild returns.
struct SpawnRequest {
    const char* path = nullptr;        // the program file
    char* const* argv = nullptr;       // null-terminated
    char* const* envp = nullptr;       // null-terminated
    const char* captureFile = nullptr; // stdout and stderr go there (truncated); or
    int stderrFd = -1;                 // stderr goes to this descriptor
    const char* workDir = nullptr;     // null: the current directory
    // Sent to the child when this program ends, however it ends; 0: none (it may outlive us).
    int deathSignal = 0;
    // > 0: a child still running this long after the program died is killed (see Warden.h).
    int deathGraceMs = 0;
};

// Starts a child with stdin from /dev/null and every signal at its default. Children are
// forked by one thread that lives as long as the program, since the kernel sends the death
// signal when the thread that forked a child ends, not the process. Gives the child's pid, or
// -1 with the reason in *AErr (an errno value) when it could not be started.
pid_t SpawnChild(const SpawnRequest& ARequest, int* AErr);

} // namespace halvora
