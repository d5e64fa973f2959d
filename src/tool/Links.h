#pragma once

#include <QString>

namespace halvora {

// The link test: AText begins with "http://" or "https://", the scheme's ASCII letters in any
// case (schemes are case-insensitive) and no other case folding. Nothing is trimmed: callers
// pass trimmed field text, and a playlist's lines arrive trimmed.
bool IsUrl(const QString& AText);

} // namespace halvora
