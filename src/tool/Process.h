#pragma once

#include "Command.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace halvora {

// Result codes of a run besides the child's own exit code.
constexpr int kRunNotStarted = -1;
constexpr int kRunTimedOut = -2;
constexpr int kRunCancelled = -3;

struct RunOptions {
    QString workDir;                        // empty: the current directory
    std::optional<std::uint32_t> timeoutMs; // none: wait without limit
    QString captureFile;                    // non-empty: stdout and stderr go there (truncated)
    // Called with each line the child writes to stderr (stderr is then read through a pipe
    // and not shown). Not used together with captureFile.
    std::function<void(const QString&)> onStderrLine;
    // Called about every pollIntervalMs while the child runs; returning false kills the child
    // and the run gives kRunCancelled. This is where a window keeps itself responsive.
    std::function<bool()> onWait;
    int pollIntervalMs = 50;
};

// Runs one command as a child with stdin from /dev/null and waits for it.
// Gives the exit code (0..255), 128+N when ended by signal N, kRunNotStarted when it cannot be
// started, kRunTimedOut when it outlived timeoutMs (it is then SIGKILLed and reaped, waiting up
// to 5000 ms more), kRunCancelled when onWait asked to stop.
int RunCommand(const Command& ACmd, const RunOptions& AOptions);

int RunProcess(const Command& ACmd, const QString& AWorkDir);
int RunProcessTimed(const Command& ACmd, const QString& AWorkDir, std::uint32_t ATimeoutMs);
// Both output streams of the child into ACaptureFile (emptied first), empty working directory.
int RunCaptured(const Command& ACmd, const QString& ACaptureFile, std::uint32_t ATimeoutMs);

// A bare program name (no '/') is looked up in the application folder, the current directory,
// then PATH; anything else is taken as it is. Empty when a bare name is found nowhere.
QString ResolveProgram(const QString& AProgram);

} // namespace halvora
