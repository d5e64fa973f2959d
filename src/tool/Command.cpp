#include "Command.h"

namespace halvora {

Command& Command::arg(const QString& AValue) {
    FArgs << AValue;
    FQuoted << false;
    return *this;
}

Command& Command::path(const QString& AValue) {
    FArgs << AValue;
    FQuoted << true;
    return *this;
}

Command& Command::args(const QStringList& AValues) {
    for (const QString& v : AValues)
        arg(v);
    return *this;
}

QString Command::text() const {
    QString s = QLatin1Char('"') + FProgram + QLatin1Char('"');
    for (qsizetype i = 0; i < FArgs.size(); ++i) {
        s += QLatin1Char(' ');
        if (FQuoted[i])
            s += QLatin1Char('"') + FArgs[i] + QLatin1Char('"');
        else
            s += FArgs[i];
    }
    return s;
}

} // namespace halvora
