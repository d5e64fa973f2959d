#pragma once

#include <QString>
#include <QStringList>

#include "Links.h"

namespace halvora {

// The user's Documents folder, else $HOME, else the application folder; never empty.
QString DocumentsDir();

// The saved stream of a folder: its local.m3u8, else the first local.* entry the file system
// lists (empty when that entry is a folder). Empty when there is none.
QString FindLocalFile(const QString& ADir);

// The MP4 name for an input: "output.mp4" for a link, else the input's file name with its
// extension replaced by ".mp4" ("output.mp4" when only the extension would be left).
QString OutputName(const QString& AInput);

// ADir + '/' (unless it ends with one) + AName.
QString JoinPath(const QString& ADir, const QString& AName);

// The part of a path after its last '/'.
QString FileNameOf(const QString& APath);
// The extension of a file name from its last dot, dot included; empty without one.
QString ExtensionOf(const QString& AName);
QString ReplaceExtension(const QString& AName, const QString& AExt);
// Entry names of a folder as the file system lists them; hidden (dot) entries left out.
QStringList ListFolder(const QString& ADir);

} // namespace halvora
