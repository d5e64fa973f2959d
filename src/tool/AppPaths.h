#pragma once

#include <QString>

namespace halvora {

// The folder of the running program file, with a trailing '/'.
QString AppDir();

// Leading and trailing characters up to and including U+0020 removed.
QString Trimmed(const QString& AText);

// True when both paths name the same file (also through links, hard links or "..").
bool SameFile(const QString& AA, const QString& AB);

// "%d.%d.%d.%d" of the program's four-part version.
QString FileVersionText();

} // namespace halvora
