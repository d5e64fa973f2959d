#include "RunOwner.h"

#include <QFile>
#include <QStringList>

#include <unistd.h>

namespace halvora {

namespace {

QString BootId() {
    QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("noboot");
    // Its first group is plenty to tell boots apart.
    return QString::fromLatin1(f.readAll()).trimmed().section(QLatin1Char('-'), 0, 0);
}

// Field 22 (starttime) and field 3 (state) of /proc/PID/stat; false when there is no such
// process. The name in field 2 may hold blanks and parentheses: fields are counted after its
// last ')'.
bool ReadStat(qint64 APid, quint64* AStart, char* AState) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(APid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = f.readAll();
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return false;
    *AState = fields[0].isEmpty() ? '?' : fields[0][0];
    bool ok = false;
    *AStart = fields[19].toULongLong(&ok);
    return ok;
}

} // namespace

QString RunId::text() const {
    return QStringLiteral("%1-%2-%3").arg(pid).arg(startTicks).arg(bootId);
}

RunId RunId::Parse(const QString& AText) {
    const QStringList parts = AText.split(QLatin1Char('-'));
    RunId id;
    bool okPid = false;
    bool okStart = false;
    if (parts.size() != 3 || parts[2].isEmpty())
        return {};
    id.pid = parts[0].toLongLong(&okPid);
    id.startTicks = parts[1].toULongLong(&okStart);
    id.bootId = parts[2];
    return okPid && okStart && id.pid > 0 ? id : RunId{};
}

RunId ThisRun() {
    static const RunId self = [] {
        RunId id;
        id.pid = ::getpid();
        char state = 0;
        ReadStat(id.pid, &id.startTicks, &state);
        id.bootId = BootId();
        return id;
    }();
    return self;
}

bool RunAlive(const RunId& ARun) {
    if (ARun.pid <= 0 || ARun.bootId != ThisRun().bootId)
        return false;
    quint64 start = 0;
    char state = 0;
    return ReadStat(ARun.pid, &start, &state) && start == ARun.startTicks && state != 'Z' &&
           state != 'X';
}

} // namespace halvora
