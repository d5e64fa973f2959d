#pragma once

#include "Command.h"
#include "FFmpegProgress.h"

#include <QString>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace halvora {

// Result codes of a run besides the child's own exit code.
constexpr int kRunNotStarted = -1;
constexpr int kRunTimedOut = -2;
constexpr int kRunCancelled = -3;
constexpr int kRunStopped = -5; // "stopped by the user": asked to finish through a StopToken
constexpr int kRunStalled = -6; // no progress and no output growth for stallMs

// Shared by a job and whoever may stop it (the window's Stop). Once requested it stays so.
class StopToken {
public:
    void request() { FStop.store(true); }
    bool requested() const { return FStop.load(); }

private:
    std::atomic<bool> FStop{false};
};

// How long a child asked to finish may take before it is killed.
constexpr int kStopGraceMs = 5000;
// The same for a run whose output is thrown away once stopped: nothing is gained by letting
// ffmpeg finish it (flushing a libx264 encoder and moving an MP4's index to the front can take
// seconds on a long output), so it is killed soon.
constexpr int kDiscardStopGraceMs = 300;

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
    // Once requested, the child is asked to finish (SIGINT: ffmpeg then closes its output
    // properly), given stopGraceMs, then killed; the run gives kRunStopped.
    std::shared_ptr<const StopToken> stop;
    int stopGraceMs = kStopGraceMs;
    // >= 0: a child still running this long after the first SIGINT gets a second one (within
    // the grace). ffmpeg notices the first only between packets, so a live HLS reader waiting
    // for its next segment would wait a whole segment; the second ends that wait, but also
    // fails ffmpeg's writes, so it suits only outputs written out packet by packet.
    int stopAgainMs = -1;
    // Watchdog: a child that neither reports progress (ffmpeg's time= / size=) nor grows
    // watchFile for this long is killed and the run gives kRunStalled. 0: none.
    int stallMs = 0;
    QString watchFile;
    // ffmpeg's progress as read from its stderr, called whenever it moves forward.
    std::function<void(const FFmpegProgress&)> onProgress;
    // Sent to the child when this program dies, however it dies (0: the child may outlive it).
    // A recording gets SIGINT, on which ffmpeg finishes its file as on Stop.
    int deathSignal = SIGKILL;
    // > 0: one that the death signal has not ended this long after the program died is killed.
    int deathGraceMs = 0;
};

// Runs one command as a child with stdin from /dev/null and waits for it.
// Gives the exit code (0..255), 128+N when ended by signal N, kRunNotStarted when it cannot be
// started, kRunTimedOut when it outlived timeoutMs (it is then SIGKILLed and reaped, waiting up
// to 5000 ms more), kRunCancelled when onWait asked to stop, kRunStopped and kRunStalled as
// described with their options.
int RunCommand(const Command& ACmd, const RunOptions& AOptions);

int RunProcess(const Command& ACmd, const QString& AWorkDir);
int RunProcessTimed(const Command& ACmd, const QString& AWorkDir, std::uint32_t ATimeoutMs);
// Both output streams of the child into ACaptureFile (emptied first), empty working directory.
// AStop, once requested, ends the run as RunOptions::stop does.
int RunCaptured(const Command& ACmd, const QString& ACaptureFile, std::uint32_t ATimeoutMs,
                std::shared_ptr<const StopToken> AStop = nullptr);

// Kills every child a run still waits for (the program is ending). Also done at exit.
void KillAllChildren();

// A bare program name (no '/') is looked up in the application folder, the current directory,
// then PATH; anything else is taken as it is. Empty when a bare name is found nowhere.
// "ffprobe" skips the current directory and relative PATH entries; "pkexec" is looked up in
// /usr/bin and /bin only.
QString ResolveProgram(const QString& AProgram);

} // namespace halvora
