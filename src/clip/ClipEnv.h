#pragma once

#include "Command.h"
#include "Process.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace halvora {

// Probes of the clip editor are limited to this long.
constexpr std::uint32_t kClipRunTimeoutMs = 30000;
// Export runs and frame grabs have no time limit: they end by Stop, or when they make no
// progress (and write nothing) for this long.
constexpr int kClipStallMs = 60000;

// The clip working folder: $TEMP when set and not empty, else QDir::tempPath(); then
// "/Halvora_clip/" (always ends with '/'). Only computed, not created.
QString ClipWorkDir();

// This run's folder inside ClipWorkDir() ("run-<run>/"), created with its missing parents and
// owned by the run (OwnFile). Gives the path even when creating fails.
QString MakeClipWorkDir();

// Where and how the clip editor runs ffmpeg. A default-constructed value is what the
// application uses; tests change single members (another folder, no ffmpeg, a watcher).
struct ClipEnv {
    QString workDir;                                       // ends with '/'; empty: ClipWorkDir()
    std::function<QString()> findFFmpeg;                   // empty: FindFFmpeg()
    std::function<void(const Command&)> onRun;             // called before each ffmpeg run
    std::uint32_t timeoutMs = kClipRunTimeoutMs;           // probes
    int stallMs = kClipStallMs;                            // export runs and grabs
    std::shared_ptr<const StopToken> stop;                 // the window's Stop (export, probes)
    std::function<void(const FFmpegProgress&)> onProgress; // export runs that report no share

    QString dir() const;    // workDir, or ClipWorkDir() when empty; always with a trailing '/'
    QString ffmpeg() const; // looks ffmpeg up anew; empty when there is none
    // Options of an export run: no time limit, the stall watchdog, Stop, and a short grace
    // after Stop since a stopped export removes what it wrote.
    RunOptions exportRunOptions() const;
};

} // namespace halvora
