#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// The name a file manager gives the N-th file of one name: "stem (N).ext", the extension taken
// from the last dot of the file name (none for a name with no dot past its first character).
// AN below 2 gives APath itself.
QString NumberedName(const QString& APath, int AN);

// Reserves the first number that is free for every path of APaths at once, by creating each
// NumberedName(path, N) exclusively as an empty file. Once it returns no other window or process
// can pick the same names; the caller writes them (ffmpeg with -y) or drops them. Gives the
// reserved paths in the order of APaths; empty, with the reason in AErr, when a file cannot be
// created for another reason than an existing one of that name.
QStringList ReserveFreeNames(const QStringList& APaths, QString* AErr = nullptr);
QString ReserveFreeName(const QString& APath, QString* AErr = nullptr);

// Removes a reserved file that was never written (still empty); a file with content stays.
void DropUnwritten(const QString& APath);

// Creates, exclusively and empty, a hidden temporary file beside APath that keeps its
// extension (".name.tmp-XXXXXX.mp4"), so a replacement can be written completely before the
// file it replaces is touched. Empty, with the reason in AErr, when none can be created.
QString ReserveTempBeside(const QString& APath, QString* AErr = nullptr);

// Puts the written ATemp in place of ATarget in one atomic rename, with ATarget's permissions.
// On failure ATarget is untouched and ATemp stays for the caller to remove.
bool ReplaceWithTemp(const QString& ATemp, const QString& ATarget, QString* AErr = nullptr);

} // namespace halvora
