#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// Files of the published tree, each written beside its final name and renamed into place, so
// readers see either the old file or the whole new one.
namespace halvora::publish {

// A name as the file system takes it, and the text of errno.
QByteArray Path(const QString& APath);
QString ErrnoText();

// Makes the folder's entries (renames included) durable.
void SyncFolder(const QString& ADir);

// ADir/AName becomes a copy of ASource with mode AMode; false with AErr set.
bool CopyFileInto(const QString& ASource, const QString& ADir, const QString& AName, mode_t AMode,
                  QString& AErr);
// ADir/AName (mode 0644) becomes AText; false with AErr set.
bool WriteTextInto(const QString& ADir, const QString& AName, const QByteArray& AText,
                   QString& AErr);

// Temporary files of publishers that were stopped half-way.
void RemoveStaleTemps(const QString& ADir);

} // namespace halvora::publish
