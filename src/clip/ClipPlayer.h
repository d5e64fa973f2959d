#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace halvora {

// What the clip window's logic uses of a player; TVLCPlayer is the real one, tests record.
class ClipPlayer {
public:
    virtual ~ClipPlayer() = default;
    virtual bool Load() = 0;
    virtual bool Open(quintptr AParent, const QString& AFile) = 0;
    virtual void Reset() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Toggle() = 0;
    virtual void Stop() = 0;
    virtual void SetTime(std::int64_t AMs) = 0;
    virtual std::int64_t GetTime() = 0;
    virtual std::int64_t GetLength() = 0;
    virtual bool IsPlaying() = 0;
    virtual bool IsOpen() const = 0;
};

} // namespace halvora
