#pragma once

#include <QStringList>

namespace halvora {

// A conversion whose stream copy failed re-encodes the whole input once and may take its time;
// a clip export re-encodes its pieces while the user waits.
enum class EncodePreset { Medium, VeryFast };

// The re-encode to H.264 video and AAC sound: -c:v libx264 -preset PRESET -c:a aac.
QStringList H264AacArgs(EncodePreset APreset);

} // namespace halvora
