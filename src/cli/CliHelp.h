#pragma once

#include <QString>

namespace halvora::cli {

QString HelpText();
QString VersionText();
// AReason with the program's name before it and the hint to --help after it.
QString UsageError(const QString& AReason);

} // namespace halvora::cli
