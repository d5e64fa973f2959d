#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace halvora {

// A command line as a value: the program and its arguments, passed to the child unchanged.
// text() renders the template form, where the program and every path stand in double quotes;
// it is for tests, status and logs, never parsed back.
class Command {
public:
    Command() = default;
    explicit Command(QString program) : FProgram(std::move(program)) {}

    Command& arg(const QString& AValue);  // a plain argument, rendered bare
    Command& path(const QString& AValue); // a path (or link), rendered in double quotes
    Command& args(const QStringList& AValues);

    const QString& program() const { return FProgram; }
    const QStringList& arguments() const { return FArgs; }
    QString text() const;
    bool isEmpty() const { return FProgram.isEmpty(); }

    bool operator==(const Command& AOther) const = default;

private:
    QString FProgram;
    QStringList FArgs;
    QVector<bool> FQuoted;
};

} // namespace halvora
