#include "TestSupport.h"

#include "Process.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

#include <csignal>
#include <sys/resource.h>

namespace halvora::test {

CurrentDir::CurrentDir(const QString& ADir) : FOld(QDir::currentPath()) {
    QDir::setCurrent(ADir);
}

CurrentDir::~CurrentDir() {
    QDir::setCurrent(FOld);
}

QString SandboxRoot() {
    return QFile::decodeName(qgetenv("HALVORA_TEST_SANDBOX"));
}

QString NewTempDir(const QString& AHint) {
    const QString dir = SandboxRoot() + QStringLiteral("/work/") + AHint + QLatin1Char('-') +
                        QUuid::createUuid().toString(QUuid::Id128).left(12);
    QDir().mkpath(dir);
    return dir;
}

QString FixtureFFmpeg() {
    return QStringLiteral("/usr/bin/ffmpeg");
}

QString SizeLimitedFFmpeg(const QString& ADir, int AKiB) {
    const QString path = ADir + QStringLiteral("/ffmpeg");
    // Ignoring SIGXFSZ turns the limit into a write error the program must handle.
    WriteAll(path, QStringLiteral("#!/bin/sh\ntrap '' XFSZ\nulimit -f %1\nexec %2 \"$@\"\n")
                       .arg(AKiB * 2) // blocks of 512 bytes
                       .arg(FixtureFFmpeg())
                       .toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

void LimitFileSize(QProcess& AProcess, int AKiB) {
    AProcess.setChildProcessModifier([AKiB] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(AKiB) * 1024, rlim_t(AKiB) * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
}

bool RunFixtureFFmpeg(const QStringList& AArgs, QString* AErr) {
    QProcess p;
    p.setProgram(FixtureFFmpeg());
    p.setArguments(QStringList{"-y", "-hide_banner", "-loglevel", "error"} + AArgs);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (AErr)
        *AErr = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool MakeVideo(const QString& APath, int ASeconds, int AWidth, int AHeight, bool AAudio, int AGop,
               const QStringList& AOutputOptions) {
    QStringList a{"-f", "lavfi", "-i",
                  QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=%3")
                      .arg(AWidth)
                      .arg(AHeight)
                      .arg(ASeconds)};
    if (AAudio)
        a << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("sine=frequency=440:duration=%1").arg(ASeconds);
    a << "-pix_fmt"
      << "yuv420p"
      << "-c:v"
      << "libx264"
      << "-preset"
      << "ultrafast"
      << "-g" << QString::number(AGop);
    if (AAudio)
        a << "-c:a"
          << "aac"
          << "-b:a"
          << "64k";
    a << "-shortest" << AOutputOptions << APath;
    return RunFixtureFFmpeg(a);
}

bool MakeHls(const QString& APlaylist, int ASeconds, int ASegSeconds, int AWidth, int AHeight) {
    return MakeVideo(APlaylist, ASeconds, AWidth, AHeight, true, 25,
                     {"-f", "hls", "-hls_time", QString::number(ASegSeconds), "-hls_list_size", "0",
                      "-hls_playlist_type", "vod"});
}

bool MakeHlsMaster(const QString& ADir, const QList<QSize>& ASizes, int ASeconds) {
    const QStringList hls{
        "-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type", "vod"};
    QByteArray master = "#EXTM3U\n#EXT-X-VERSION:3\n"
                        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"English\",LANGUAGE=\"en\","
                        "DEFAULT=YES,AUTOSELECT=YES,URI=\"audio/index.m3u8\"\n";
    for (const QSize& size : ASizes) {
        const QString name = QStringLiteral("v%1x%2").arg(size.width()).arg(size.height());
        if (!QDir().mkpath(ADir + "/" + name) ||
            !MakeVideo(ADir + "/" + name + "/index.m3u8", ASeconds, size.width(), size.height(),
                       false, 25, hls))
            return false;
        master +=
            QStringLiteral("#EXT-X-STREAM-INF:BANDWIDTH=%1,RESOLUTION=%2x%3,AUDIO=\"aud\"\n%4/"
                           "index.m3u8\n")
                .arg(qint64(size.width()) * size.height() * 8)
                .arg(size.width())
                .arg(size.height())
                .arg(name)
                .toUtf8();
    }
    if (!QDir().mkpath(ADir + "/audio") ||
        !RunFixtureFFmpeg(
            QStringList{"-f", "lavfi", "-i",
                        QStringLiteral("sine=frequency=440:duration=%1").arg(ASeconds), "-c:a",
                        "aac", "-b:a", "64k"} +
            hls + QStringList{ADir + "/audio/index.m3u8"}))
        return false;
    return WriteAll(ADir + "/master.m3u8", master);
}

// Seconds of sound decoded from the first audio stream: the sum of its frames' durations.
double AudioSeconds(const QString& AFile) {
    QProcess p;
    p.setProgram(FixtureFFmpeg());
    p.setArguments({"-hide_banner", "-loglevel", "error", "-i", AFile, "-map", "0:a:0", "-f",
                    "framemd5", "-"});
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return 0;
    QStringList tb;
    double units = 0;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QLatin1String("#tb 0: ")))
            tb = line.mid(7).trimmed().split(u'/');
        else if (!line.startsWith(u'#') && !line.trimmed().isEmpty())
            units += line.split(u',').value(3).trimmed().toDouble();
    }
    if (tb.size() != 2 || tb[1].toDouble() <= 0)
        return 0;
    return units * tb[0].toDouble() / tb[1].toDouble();
}

namespace {
QString ProbeText(const QString& AFile) {
    QProcess p;
    p.setProgram(FixtureFFmpeg());
    p.setArguments({"-hide_banner", "-i", AFile});
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardError());
}
} // namespace

double ProbeSeconds(const QString& AFile) {
    static const QRegularExpression re(
        QStringLiteral("Duration: (\\d+):(\\d\\d):(\\d\\d(?:\\.\\d+)?)"));
    const auto m = re.match(ProbeText(AFile));
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toDouble() * 3600 + m.captured(2).toDouble() * 60 +
           m.captured(3).toDouble();
}

QString ProbeSize(const QString& AFile) {
    static const QRegularExpression re(QStringLiteral("Video:.*?(\\d{2,5})x(\\d{2,5})"));
    const auto m = re.match(ProbeText(AFile));
    return m.hasMatch() ? m.captured(1) + QLatin1Char('x') + m.captured(2) : QString();
}

int CountVideoFrames(const QString& AFile) {
    QProcess p;
    p.setProgram(FixtureFFmpeg());
    p.setArguments({"-hide_banner", "-nostdin", "-i", AFile, "-map", "0:v:0", "-f", "null", "-"});
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return -1;
    // The last progress line holds the total.
    static const QRegularExpression re(QStringLiteral("frame=\\s*(\\d+)"));
    int frames = -1;
    auto it = re.globalMatch(QString::fromUtf8(p.readAllStandardError()));
    while (it.hasNext())
        frames = it.next().captured(1).toInt();
    return frames;
}

QString FileDigest(const QString& APath) {
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& APath, const QByteArray& AData) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(AData) == AData.size();
}

} // namespace halvora::test
