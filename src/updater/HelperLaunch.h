#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// Whether the current user may create, rename and delete entries in ADir.
bool CanWriteFolder(const QString& ADir);

// Whether process APid now runs the program file AProgram (a canonical path). Also answers
// for a process that has become root under an elevation front end, whose exe link the user
// may not read.
bool ProcessRuns(qint64 APid, const QString& AProgram);

// Starts AProgram with AArgs in a session of its own, standard input from /dev/null, and does
// not wait for it to end. A bare program name is looked up like every other command.
// When AWaitForExec is not empty the program is an elevation front end (pkexec) that replaces
// itself with AWaitForExec once the user has agreed: the start counts only when that happened;
// a front end that ends first (refused, not authorised) is a failed start with its exit code.
// On failure AErrCode is the errno of the start or the front end's exit code.
bool StartDetached(const QString& AProgram, const QStringList& AArgs, const QString& AWaitForExec,
                   int& AErrCode);

} // namespace halvora
