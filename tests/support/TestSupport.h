#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

class QProcess;

namespace halvora::test {

// Changes the process's current directory for the lifetime of the object.
class CurrentDir {
public:
    explicit CurrentDir(const QString& ADir);
    ~CurrentDir();
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

private:
    QString FOld;
};

// The temporary root that TestMain points HOME, TEMP, TMPDIR and the XDG folders at.
QString SandboxRoot();

// A fresh, empty folder below the sandbox (no trailing '/').
QString NewTempDir(const QString& AHint = QStringLiteral("t"));

// Every file under the folders and their subfolders, by full path, sorted.
QStringList FilesIn(const QStringList& AFolders);

// The system's ffmpeg for making fixtures (not the program under test's locator).
QString FixtureFFmpeg();

// Runs ffmpeg with the given arguments (after -y -hide_banner -loglevel error); true on exit 0.
bool RunFixtureFFmpeg(const QStringList& AArgs, QString* AErr = nullptr);

// The picture's encoding in every test video: yuv420p H.264, a keyframe every AGop frames.
QStringList PictureOptions(int AGop = 25);

// A test video made with lavfi sources: testsrc2 picture, sine sound, yuv420p, keyframe every
// AGop frames at 25 fps. The container follows the file's extension.
// AOutputOptions go just before the output path (a muxer and its options).
bool MakeVideo(const QString& APath, int ASeconds, int AWidth = 320, int AHeight = 240,
               bool AAudio = true, int AGop = 25, const QStringList& AOutputOptions = {});

// An HLS playlist APlaylist (segments beside it) of ASeconds, segments of ASegSeconds.
bool MakeHls(const QString& APlaylist, int ASeconds, int ASegSeconds = 1, int AWidth = 320,
             int AHeight = 240);

// A master playlist ADir/master.m3u8 listing one video-only variant per size (in the order
// given, folders "vWxH/", BANDWIDTH by picture area) and an audio group "aud" whose default
// rendition lives in "audio/"; ASeconds in 1 s segments.
bool MakeHlsMaster(const QString& ADir, const QList<QSize>& ASizes, int ASeconds);

// Seconds of decoded sound in the first audio stream (0 without one).
double AudioSeconds(const QString& AFile);

// Duration in seconds as ffmpeg reports it in "Duration: hh:mm:ss.xx", -1 when unknown.
double ProbeSeconds(const QString& AFile);
// The "WxH" of the first video stream, empty when unknown.
QString ProbeSize(const QString& AFile);

// The number of frames of the first video stream, decoded to the end; -1 when unreadable.
int CountVideoFrames(const QString& AFile);
// SHA-256 of the file's bytes, hex; empty when it can't be read. For "left untouched" checks.
QString FileDigest(const QString& APath);

// One sine tone as an AAC track of a test video, with its tags.
struct ToneTrack {
    int frequency = 440;
    QString language; // empty: untagged
    QString title;
    bool visualImpaired = false;
};

// A video (testsrc2, 320x240) with one audio track per tone, in order. ADvbSubtitle adds a DVB
// subtitle stream (a TS output only), made from a small bitmap subtitle that the test writes.
bool MakeToneVideo(const QString& APath, int ASeconds, const QList<ToneTrack>& ATracks,
                   bool ADvbSubtitle = false, const QStringList& AOutputOptions = {});

// What AProgram writes to stdout (empty when it does not end within 2 minutes).
QByteArray RunTool(const QString& AProgram, const QStringList& AArgs);

// A stream of a file as ffprobe reports it.
struct TrackInfo {
    QString type; // "video", "audio", "subtitle", "data"
    QString codec;
    QString language;
    QString title;
    bool isDefault = false;
    bool visualImpaired = false;
};
QList<TrackInfo> ProbeTracks(const QString& AFile);

// The HDR side data (mastering display, content light) of the first picture shown at or after
// ASeconds, as "key=value" words; empty when it has none.
QString HdrSideData(const QString& AFile, double ASeconds);

// The tone of the file's audio track AIndex (0-based among its audio tracks) in Hz, measured on
// its decoded samples by counting rising zero crossings; -1 when it cannot be decoded.
// ASeconds (optional) receives the length of the decoded track.
double ToneFrequency(const QString& AFile, int AIndex, double* ASeconds = nullptr);

// Processes of which this test program is the parent (ffmpeg children of the runner).
int ChildProcesses();

QByteArray ReadAll(const QString& APath);
bool WriteAll(const QString& APath, const QByteArray& AData);

// A full disk, as the program sees it: writing a file past AKiB KiB fails with EFBIG.
// An `ffmpeg` in ADir that runs the system's ffmpeg so limited; its path.
QString SizeLimitedFFmpeg(const QString& ADir, int AKiB);
// Makes AProcess start its program so limited.
void LimitFileSize(QProcess& AProcess, int AKiB);

// Whether a view's status lines or boxes ever called the work complete (any view with
// `statuses` and `boxes` whose items have `text`).
template <typename View> bool SaidComplete(const View& AView) {
    for (const QString& s : AView.statuses)
        if (s.contains(QLatin1String("complete"), Qt::CaseInsensitive))
            return true;
    for (const auto& b : AView.boxes)
        if (b.text.contains(QLatin1String("complete"), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace halvora::test
