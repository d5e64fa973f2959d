#include "ClipCoreFixtures.h"

#include "ClipTime.h"
#include "JpegImage.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <cmath>
#include <cstdlib>

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

const QString& CounterVideo(Coding ACoding) {
    static QString made[5];
    QString& path = made[static_cast<int>(ACoding)];
    if (!path.isEmpty())
        return path;
    const QStringList sources{
        "-f",
        "lavfi",
        "-i",
        "testsrc2=size=320x240:rate=25:duration=30",
        "-f",
        "lavfi",
        "-i",
        "aevalsrc=exprs=if(lt(mod(t+0.5\\,1)\\,0.01)\\,0.8*sin(2*PI*1000*t)\\,0):s=44100:d=30",
        "-pix_fmt",
        "yuv420p"};
    const QString x265 = "keyint=125:min-keyint=125:scenecut=0:log-level=error";
    QStringList coding;
    QString name;
    switch (ACoding) {
    case Coding::H264:
    case Coding::H264NoB:
        name = ACoding == Coding::H264 ? "counter-h264.mp4" : "counter-h264-nob.mp4";
        coding = {"-c:v", "libx264",     "-preset", "veryfast",      "-g",
                  "125",  "-keyint_min", "125",     "-sc_threshold", "0"};
        if (ACoding == Coding::H264NoB)
            coding << "-bf"
                   << "0";
        break;
    case Coding::Hevc:
    case Coding::HevcNoB:
        name = ACoding == Coding::Hevc ? "counter-hevc.mp4" : "counter-hevc-nob.mp4";
        coding = {"-c:v",         "libx265",
                  "-preset",      "ultrafast",
                  "-x265-params", ACoding == Coding::Hevc ? x265 : x265 + ":bframes=0"};
        break;
    case Coding::Mpeg2Ts:
        name = "counter-mpeg2.ts";
        coding = {"-c:v", "mpeg2video", "-q:v", "3", "-g", "125", "-bf", "2", "-f", "mpegts"};
        break;
    }
    path = Make(name, sources + coding + QStringList{"-c:a", "aac", "-b:a", "96k"});
    return path;
}

namespace {

QByteArray FFmpegStdout(const QStringList& AArgs, QString* AErr = nullptr) {
    QProcess p;
    p.setProgram(FixtureFFmpeg());
    p.setArguments(QStringList{"-hide_banner", "-nostdin"} + AArgs);
    p.start();
    p.waitForFinished(120000);
    if (AErr)
        *AErr = QString::fromUtf8(p.readAllStandardError());
    return p.readAllStandardOutput();
}

QSize VideoSize(const QString& AFile) {
    QProcess p;
    p.setProgram("/usr/bin/ffprobe");
    p.setArguments({"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height",
                    "-of", "csv=p=0", AFile});
    p.start();
    p.waitForFinished(60000);
    const QStringList wh = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(',');
    return wh.size() >= 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
}

} // namespace

QImage ReferenceFrame(const QString& AVideo, double ASec) {
    const QString jpg = NewTempDir(QStringLiteral("ref")) + "/ref.jpg";
    if (!RunFixtureFFmpeg(
            {"-i", AVideo, "-ss", SecondsArg(ASec), "-frames:v", "1", "-vf", "scale=480:-1", jpg}))
        return {};
    return LoadJpegFile(jpg);
}

double MeanDiff(const QImage& AA, const QImage& AB) {
    if (AA.size() != AB.size() || AA.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < AA.height(); ++y)
        for (int x = 0; x < AA.width(); ++x)
            sum += std::abs(qGray(AA.pixel(x, y)) - qGray(AB.pixel(x, y)));
    return sum / (AA.width() * AA.height());
}

QVector<QByteArray> DecodeLuma(const QString& AFile) {
    const QSize size = VideoSize(AFile);
    const qsizetype plane = qsizetype(size.width()) * size.height();
    QVector<QByteArray> frames;
    if (plane <= 0)
        return frames;
    const QByteArray all = FFmpegStdout(
        {"-v", "error", "-i", AFile, "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    for (qsizetype at = 0; at + plane <= all.size(); at += plane)
        frames << all.mid(at, plane);
    return frames;
}

double Psnr(const QByteArray& AA, const QByteArray& AB) {
    if (AA.size() != AB.size() || AA.isEmpty())
        return 0;
    double sum = 0;
    for (qsizetype i = 0; i < AA.size(); ++i) {
        const double d = double(quint8(AA[i])) - double(quint8(AB[i]));
        sum += d * d;
    }
    if (sum == 0)
        return 1000;
    return 10 * std::log10(255.0 * 255.0 / (sum / AA.size()));
}

QVector<double> ClickTimes(const QString& AFile) {
    constexpr int rate = 44100;
    const QByteArray pcm = FFmpegStdout({"-v", "error", "-i", AFile, "-map", "0:a:0", "-ac", "1",
                                         "-ar", QString::number(rate), "-f", "s16le", "-"});
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    QVector<double> out;
    qsizetype quietSince = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (std::abs(int(s[i])) < 8000)
            continue;
        // A click after at least 0.3 s of quiet is a new one.
        if (i - quietSince > rate * 3 / 10 || out.isEmpty())
            out << double(i) / rate;
        quietSince = i;
    }
    return out;
}

double StreamSeconds(const QString& AFile, const QString& AKind) {
    QProcess p;
    p.setProgram("/usr/bin/ffprobe");
    p.setArguments({"-v", "error", "-select_streams", AKind + ":0", "-show_entries",
                    "stream=duration", "-of", "csv=p=0", AFile});
    p.start();
    p.waitForFinished(60000);
    bool ok = false;
    // Side data adds empty fields after the value.
    const double d = QString::fromUtf8(p.readAllStandardOutput())
                         .trimmed()
                         .section(QLatin1Char(','), 0, 0)
                         .toDouble(&ok);
    return ok ? d : -1;
}

QString DecodeErrors(const QString& AFile) {
    QString err;
    FFmpegStdout({"-v", "error", "-i", AFile, "-f", "null", "-"}, &err);
    return err;
}

RecordingEnv::RecordingEnv(const QString& AWorkDir) {
    env.workDir =
        (AWorkDir.isEmpty() ? NewTempDir(QStringLiteral("clip")) : AWorkDir) + QLatin1Char('/');
    QDir().mkpath(env.workDir);
    env.onRun = [this](const Command& ACmd) {
        (ACmd.program().endsWith("ffprobe") ? probes : runs) << ACmd.text();
    };
}

bool CopyTo(const QString& ASource, const QString& APath) {
    QFile::remove(APath);
    return QFile::copy(ASource, APath);
}

} // namespace halvora::test
