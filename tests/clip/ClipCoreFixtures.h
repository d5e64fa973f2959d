#pragma once

// Media and helpers shared by the clip core tests. Videos are made once per test program.
#include "ClipEnv.h"
#include "Command.h"

#include <QString>
#include <QStringList>

namespace halvora::test {

// 200 s, 160x120 at 5 fps, keyframe every second, with sound.
const QString& LongVideo();
// 10 s, 320x240 at 25 fps, keyframe every second, with sound (MP4).
const QString& ShortVideo();
// 10 s, 640x480, for crops.
const QString& LargeVideo();

// A working folder of its own (with trailing '/') and a record of every ffmpeg run.
struct RecordingEnv {
    ClipEnv env;
    QStringList runs; // Command::text() of each run, in order
    explicit RecordingEnv(const QString& AWorkDir = QString());
    RecordingEnv(const RecordingEnv&) = delete; // the watcher points at this object
    RecordingEnv& operator=(const RecordingEnv&) = delete;
};

// Copies ASource to APath (made for names with blanks, quotes, non-ASCII letters).
bool CopyTo(const QString& ASource, const QString& APath);

} // namespace halvora::test
