#pragma once

#include "Command.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace halvora {

// Every ffmpeg run of the clip editor is limited to this long.
constexpr std::uint32_t kClipRunTimeoutMs = 30000;

// The clip working folder: $TEMP when set and not empty, else QDir::tempPath(); then
// "/Halvora_clip/" (always ends with '/'). Only computed, not created.
QString ClipWorkDir();

// ClipWorkDir(), created with its missing parents. Gives the path even when creating fails.
QString MakeClipWorkDir();

// Where and how the clip editor runs ffmpeg. A default-constructed value is what the
// application uses; tests change single members (another folder, no ffmpeg, a watcher).
struct ClipEnv {
    QString workDir;                           // ends with '/'; empty: ClipWorkDir()
    std::function<QString()> findFFmpeg;       // empty: FindFFmpeg()
    std::function<void(const Command&)> onRun; // called before each ffmpeg run
    std::uint32_t timeoutMs = kClipRunTimeoutMs;

    QString dir() const;    // workDir, or ClipWorkDir() when empty; always with a trailing '/'
    QString ffmpeg() const; // looks ffmpeg up anew; empty when there is none
};

} // namespace halvora
