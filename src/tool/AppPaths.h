#pragma once

#include <QString>

namespace halvora {

// The folder of the running program file, with a trailing '/'.
QString AppDir();

// Leading and trailing characters up to and including U+0020 removed.
QString Trimmed(const QString& AText);

// "%d.%d.%d.%d" of the program's four-part version.
QString FileVersionText();

} // namespace halvora
