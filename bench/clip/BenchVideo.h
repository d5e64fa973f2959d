#pragma once

// The long video both clip benchmarks measure on, made once and cached (HALVORA_BENCH_DIR,
// default /tmp/halvora-bench).
#include "Command.h"
#include "Process.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>

namespace halvora::bench {

inline constexpr int kSeconds = 1800;

inline QString BenchDir() {
    const QString d = qEnvironmentVariable("HALVORA_BENCH_DIR");
    return d.isEmpty() ? QStringLiteral("/tmp/halvora-bench") : d;
}

// Starts a window benchmark: the xcb platform unless one was chosen, and the clip working folder
// ($TEMP/Halvora_clip) below the bench folder. Before the application object is made.
inline void PrepareWindowBench() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    const QString temp = BenchDir() + QStringLiteral("/ui-temp");
    QDir().mkpath(temp);
    qputenv("TEMP", QFile::encodeName(temp));
}

// The 30-minute 720p video, keyframe every 10 s as cameras and encoders commonly make them.
inline const QString& LongVideo() {
    static const QString path = [] {
        const QString dir = BenchDir();
        QDir().mkpath(dir);
        const QString p = dir + QStringLiteral("/clip720p-30min.mp4");
        if (QFile::exists(p))
            return p;
        std::fprintf(stderr, "making %s (a few minutes, once)\n", qPrintable(p));
        const QString tmp = dir + QStringLiteral("/gen.mp4");
        const Command c =
            Command(QStringLiteral("/usr/bin/ffmpeg"))
                .args({"-hide_banner",
                       "-loglevel",
                       "error",
                       "-y",
                       "-f",
                       "lavfi",
                       "-i",
                       QStringLiteral("testsrc2=size=1280x720:rate=25:duration=%1").arg(kSeconds),
                       "-f",
                       "lavfi",
                       "-i",
                       QStringLiteral("sine=frequency=440:duration=%1").arg(kSeconds),
                       "-pix_fmt",
                       "yuv420p",
                       "-c:v",
                       "libx264",
                       "-preset",
                       "ultrafast",
                       "-crf",
                       "35",
                       "-g",
                       "250",
                       "-c:a",
                       "aac",
                       "-b:a",
                       "64k",
                       "-shortest",
                       "-movflags",
                       "+faststart"})
                .path(tmp);
        if (RunProcess(c, QString()) != 0 || !QFile::rename(tmp, p))
            return QString();
        return p;
    }();
    return path;
}

} // namespace halvora::bench
