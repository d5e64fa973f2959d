#pragma once

#include <QString>

// SHA-256 of files and the comparison of digest texts, as downloads and the publisher check them.
namespace halvora {

// Digest texts compare with ASCII letters case-folded and nothing else forgiven (no trimming).
bool SameDigest(const QString& AExpected, const QString& AActual);

// Lower-case hex SHA-256 of a file, read in one pass; empty with AErr set when it can't be read.
QString FileSha256(const QString& APath, QString& AErr);

} // namespace halvora
