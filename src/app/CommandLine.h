#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// What the command line asks for. Qt's own window-system options (-platform, -style, ...)
// are left for the application object and not reported as unknown.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString text;      // Help, Version: for standard output; Error: for standard error
    QStringList items; // Run: the files, folders or links named (FILE|URL)
};

// AArgs as the program got them, the program's name first.
CommandLine ParseCommandLine(const QStringList& AArgs);

// The exit code of a command line that is not understood.
constexpr int kBadCommandLine = 2;

} // namespace halvora
