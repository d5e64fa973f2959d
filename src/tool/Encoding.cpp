#include "Encoding.h"

namespace halvora {

QStringList H264AacArgs(EncodePreset APreset) {
    return {QStringLiteral("-c:v"),
            QStringLiteral("libx264"),
            QStringLiteral("-preset"),
            APreset == EncodePreset::Medium ? QStringLiteral("medium") : QStringLiteral("veryfast"),
            QStringLiteral("-c:a"),
            QStringLiteral("aac")};
}

} // namespace halvora
