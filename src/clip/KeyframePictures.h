#pragma once

#include "Command.h"
#include "WorkerJob.h"

#include <QString>
#include <QVector>
#include <optional>

namespace halvora {

// The run that makes the pictures: every keyframe of AInput (or one every AStrideSec when
// AStrideSec > 0), 480 wide, written as ADir/key_000000.jpg, key_000001.jpg... in display
// order, each file complete once it has its name. Its showinfo lines on stderr give each
// picture's number and time.
Command KeyframePicturesCommand(const QString& AFFmpeg, const QString& AInput, const QString& ADir,
                                double AStrideSec);

// One picture a showinfo line announces: its number and display time in seconds.
struct KeyframePictureLine {
    int number = -1;
    double sec = 0;
};
// The picture a line of the run's stderr announces; nothing for any other line.
std::optional<KeyframePictureLine> ReadPictureLine(const QString& ALine);

// Small pictures of a video's keyframes, made once in the background when the video opens, so
// that the picture can follow a moving thumb from disk in a few milliseconds instead of one
// ffmpeg run per position. Lives on the window thread.
class KeyframePictures {
public:
    static constexpr int kMaxPictures = 1500; // a longer list of keyframes is thinned

    KeyframePictures() = default;
    ~KeyframePictures() { FJob.stopAndWait(); }
    KeyframePictures(const KeyframePictures&) = delete;
    KeyframePictures& operator=(const KeyframePictures&) = delete;

    // Starts making the pictures of AVideo (keyframes at AKeyframes seconds) in ADir, which is
    // emptied first; the run of an earlier video is stopped and this one starts once it ends.
    void start(const QString& AFFmpeg, const QString& AVideo, const QVector<double>& AKeyframes,
               const QString& ADir, int AStallMs);
    // Stops the run and forgets every picture (no video is loaded).
    void clear();
    // The picture of the keyframe at or before ASec, once the run has gone past ASec (or
    // ended); empty when there is none yet.
    QString pictureFor(double ASec) const;
    bool running() const { return FJob.running(); }
    bool done() const { return FDone; }
    int count() const { return int(FSecs.size()); }

private:
    struct Run {
        QString ffmpeg, video, dir;
        double strideSec = 0;
        int stallMs = 0;
    };
    void begin(const Run& ARun);
    void ended(quint64 AGeneration, bool AOk);
    void add(quint64 AGeneration, const KeyframePictureLine& ALine);

    WorkerJob FJob;
    std::optional<Run> FPending;
    quint64 FGeneration = 0;
    QString FDir;
    QVector<double> FSecs; // display time of picture n, ascending
    bool FDone = false;
};

} // namespace halvora
