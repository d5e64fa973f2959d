#pragma once

#include <QString>

namespace halvora {

// Names one run of a program: its pid, when it started (clock ticks after boot, from
// /proc/PID/stat) and the boot it started in, so a pid used again by another process, or after
// a restart, does not pass for the run.
struct RunId {
    qint64 pid = 0;
    quint64 startTicks = 0;
    QString bootId;

    // "PID-TICKS-BOOT", safe in a file name; Parse takes it back (pid 0 when it is none).
    QString text() const;
    static RunId Parse(const QString& AText);
    bool operator==(const RunId& AOther) const = default;
};

// This process.
RunId ThisRun();

// Whether that run is still running (a zombie counts as ended).
bool RunAlive(const RunId& ARun);

} // namespace halvora
