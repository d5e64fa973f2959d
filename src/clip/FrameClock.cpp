#include "FrameClock.h"

#include <algorithm>

namespace halvora {

namespace {

constexpr std::int64_t kAssumedFrameUs = 40000;

std::int64_t UsToMs(std::int64_t AUs) {
    return (AUs + 500) / 1000;
}

} // namespace

std::int64_t VideoLengthMs(const MediaIndex& AIndex, double ASeconds) {
    const std::int64_t whole = static_cast<std::int64_t>(ASeconds * 1000 + 0.5);
    if (!AIndex.ok || AIndex.packets.isEmpty())
        return whole;
    std::int64_t last = 0;
    for (const VideoPacket& p : AIndex.packets)
        last = std::max(last, AIndex.toUs(p.pts) - AIndex.startUs);
    return UsToMs(last + AIndex.frameUs());
}

FrameClock::FrameClock(const MediaIndex& AIndex, std::int64_t ADurationMs) : FEndMs(ADurationMs) {
    if (AIndex.ok && !AIndex.packets.isEmpty()) {
        for (const VideoPacket& p : AIndex.packets) {
            const std::int64_t us = AIndex.toUs(p.pts) - AIndex.startUs;
            FFramesUs << us;
            if (p.key)
                FKeysUs << us;
        }
        std::sort(FFramesUs.begin(), FFramesUs.end());
        std::sort(FKeysUs.begin(), FKeysUs.end());
        return;
    }
    for (std::int64_t us = 0; us < ADurationMs * 1000; us += kAssumedFrameUs)
        FFramesUs << us;
    if (!FFramesUs.isEmpty())
        FKeysUs << 0;
}

qsizetype FrameClock::indexAt(std::int64_t AMs) const {
    // Positions are rounded to the millisecond: the frame is the first within half of one.
    const auto it = std::lower_bound(FFramesUs.begin(), FFramesUs.end(), AMs * 1000 - 500);
    return it - FFramesUs.begin();
}

std::int64_t FrameClock::frameAt(std::int64_t AMs) const {
    if (AMs >= FEndMs)
        return FEndMs;
    const qsizetype i = indexAt(std::max<std::int64_t>(AMs, 0));
    return i < FFramesUs.size() ? std::max<std::int64_t>(0, UsToMs(FFramesUs[i])) : FEndMs;
}

std::int64_t FrameClock::step(std::int64_t AMs, int ACount) const {
    if (FFramesUs.isEmpty())
        return 0;
    const qsizetype at = AMs >= FEndMs ? FFramesUs.size() : indexAt(std::max<std::int64_t>(AMs, 0));
    const qsizetype to = std::clamp<qsizetype>(at + ACount, 0, FFramesUs.size());
    return to == FFramesUs.size() ? FEndMs : std::max<std::int64_t>(0, UsToMs(FFramesUs[to]));
}

std::int64_t FrameClock::keyframe(std::int64_t AMs, int ADirection) const {
    const std::int64_t atUs = frameAt(AMs) * 1000;
    if (ADirection < 0) {
        auto it = std::lower_bound(FKeysUs.begin(), FKeysUs.end(), atUs - 500);
        return it == FKeysUs.begin() ? AMs : std::max<std::int64_t>(0, UsToMs(*(it - 1)));
    }
    auto it = std::upper_bound(FKeysUs.begin(), FKeysUs.end(), atUs + 500);
    return it == FKeysUs.end() ? AMs : UsToMs(*it);
}

} // namespace halvora
