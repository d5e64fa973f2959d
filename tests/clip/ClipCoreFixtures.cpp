#include "ClipCoreFixtures.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

namespace halvora::test {

namespace {

QString Make(const QString& AName, const QStringList& AArgs) {
    const QString dir = SandboxRoot() + QStringLiteral("/media");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + AName;
    if (!QFile::exists(path) && !RunFixtureFFmpeg(AArgs + QStringList{path}))
        return {};
    return path;
}

} // namespace

const QString& LongVideo() {
    static const QString path =
        Make(QStringLiteral("long200.mp4"),
             {"-f",       "lavfi",     "-i",   "testsrc2=size=160x120:rate=5:duration=200",
              "-f",       "lavfi",     "-i",   "sine=frequency=440:duration=200",
              "-pix_fmt", "yuv420p",   "-c:v", "libx264",
              "-preset",  "ultrafast", "-g",   "5",
              "-c:a",     "aac",       "-b:a", "32k",
              "-shortest"});
    return path;
}

const QString& ShortVideo() {
    static const QString path = [] {
        const QString p = SandboxRoot() + QStringLiteral("/media/short10.mp4");
        QDir().mkpath(SandboxRoot() + QStringLiteral("/media"));
        return MakeVideo(p, 10) ? p : QString();
    }();
    return path;
}

const QString& LargeVideo() {
    static const QString path = [] {
        const QString p = SandboxRoot() + QStringLiteral("/media/large10.mp4");
        QDir().mkpath(SandboxRoot() + QStringLiteral("/media"));
        return MakeVideo(p, 10, 640, 480) ? p : QString();
    }();
    return path;
}

RecordingEnv::RecordingEnv(const QString& AWorkDir) {
    env.workDir =
        (AWorkDir.isEmpty() ? NewTempDir(QStringLiteral("clip")) : AWorkDir) + QLatin1Char('/');
    QDir().mkpath(env.workDir);
    env.onRun = [this](const Command& ACmd) { runs << ACmd.text(); };
}

bool CopyTo(const QString& ASource, const QString& APath) {
    QFile::remove(APath);
    return QFile::copy(ASource, APath);
}

} // namespace halvora::test
