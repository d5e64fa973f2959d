#include "TestSupport.h"

#include "Process.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

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

QStringList FilesIn(const QStringList& AFolders) {
    QStringList files;
    for (const QString& folder : AFolders) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    files.removeDuplicates();
    return files;
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

QStringList PictureOptions(int AGop) {
    return {"-pix_fmt", "yuv420p",   "-c:v", "libx264",
            "-preset",  "ultrafast", "-g",   QString::number(AGop)};
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
    a << PictureOptions(AGop);
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

namespace {

// A PGS (Blu-ray) subtitle file: a 32x8 block shown from 0.5 s to 1.5 s. ffmpeg turns such a
// bitmap subtitle into a DVB one; it cannot draw text into one.
QByteArray PgsSubtitle() {
    auto be = [](QByteArray& AOut, quint32 AValue, int ABytes) {
        for (int i = ABytes - 1; i >= 0; --i)
            AOut += char((AValue >> (8 * i)) & 0xff);
    };
    auto segment = [&](quint32 APts, char AType, const QByteArray& AData) {
        QByteArray s("PG");
        be(s, APts, 4);
        be(s, 0, 4);
        s += AType;
        be(s, quint32(AData.size()), 2);
        return s + AData;
    };
    const int w = 32, h = 8;
    auto cue = [&](quint32 APts, bool AShow) {
        QByteArray pcs;
        be(pcs, 320, 2);
        be(pcs, 240, 2);
        pcs += char(0x10);
        be(pcs, AShow ? 1 : 2, 2);
        pcs += char(AShow ? 0x80 : 0);
        pcs += char(0);
        pcs += char(0);
        pcs += char(AShow ? 1 : 0);
        if (AShow) {
            be(pcs, 0, 2); // object 0 in window 0 at 10,10
            pcs += char(0);
            pcs += char(0);
            be(pcs, 10, 2);
            be(pcs, 10, 2);
        }
        QByteArray out = segment(APts, 0x16, pcs);
        QByteArray wds;
        wds += char(1);
        wds += char(0);
        for (int v : {10, 10, w, h})
            be(wds, quint32(v), 2);
        out += segment(APts, 0x17, wds);
        if (AShow) {
            out += segment(APts, 0x14, QByteArray("\x00\x00\x01\xeb\x80\x80\xff", 7));
            QByteArray rle;
            for (int y = 0; y < h; ++y)
                rle += QByteArray("\x00", 1) + char(0x80 | w) + char(1) + QByteArray(2, '\0');
            QByteArray ods;
            be(ods, 0, 2);
            ods += char(0);
            ods += char(0xC0);
            be(ods, quint32(rle.size() + 4), 3);
            be(ods, w, 2);
            be(ods, h, 2);
            out += segment(APts, 0x15, ods + rle);
        }
        return out + segment(APts, char(0x80), {});
    };
    return cue(45000, true) + cue(135000, false);
}

} // namespace

QByteArray RunTool(const QString& AProgram, const QStringList& AArgs) {
    QProcess p;
    p.setProgram(AProgram);
    p.setArguments(AArgs);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return p.readAllStandardOutput();
}

bool MakeToneVideo(const QString& APath, int ASeconds, const QList<ToneTrack>& ATracks,
                   bool ADvbSubtitle, const QStringList& AOutputOptions) {
    QStringList a{"-f", "lavfi", "-i",
                  QStringLiteral("testsrc2=size=320x240:rate=25:duration=%1").arg(ASeconds)};
    for (const ToneTrack& t : ATracks)
        a << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("sine=frequency=%1:duration=%2").arg(t.frequency).arg(ASeconds);
    QString sup;
    if (ADvbSubtitle) {
        sup = APath + QStringLiteral(".sup");
        if (!WriteAll(sup, PgsSubtitle()))
            return false;
        a << "-i" << sup;
    }
    for (int i = 0; i <= ATracks.size(); ++i)
        a << "-map" << QString::number(i);
    if (ADvbSubtitle)
        a << "-map" << QString::number(ATracks.size() + 1) << "-c:s"
          << "dvbsub";
    a << PictureOptions(25) << "-c:a"
      << "aac"
      << "-b:a"
      << "64k";
    for (int i = 0; i < ATracks.size(); ++i) {
        const QString track = QStringLiteral(":s:a:%1").arg(i);
        if (!ATracks[i].language.isEmpty())
            a << "-metadata" + track << "language=" + ATracks[i].language;
        if (!ATracks[i].title.isEmpty())
            a << "-metadata" + track << "title=" + ATracks[i].title;
        if (ATracks[i].visualImpaired)
            a << "-disposition" + track.mid(2) << "visual_impaired+descriptions";
    }
    a << AOutputOptions << APath;
    const bool ok = RunFixtureFFmpeg(a);
    if (!sup.isEmpty())
        QFile::remove(sup);
    return ok;
}

QString HdrSideData(const QString& AFile, double ASeconds) {
    const QJsonObject o =
        QJsonDocument::fromJson(
            RunTool("/usr/bin/ffprobe", {"-v", "error", "-of", "json", "-select_streams", "v:0",
                                         "-read_intervals", QString::number(ASeconds) + "%+#1",
                                         "-show_entries", "frame_side_data", AFile}))
            .object();
    QStringList parts;
    for (const QJsonValue& f : o.value("frames").toArray())
        for (const QJsonValue& sd : f.toObject().value("side_data_list").toArray()) {
            const QJsonObject s = sd.toObject();
            if (s.value("side_data_type").toString().startsWith("H.26"))
                continue; // the encoder's own notes
            for (auto it = s.begin(); it != s.end(); ++it)
                parts << it.key() + "=" + it.value().toVariant().toString();
        }
    return parts.join(' ');
}

QList<TrackInfo> ProbeTracks(const QString& AFile) {
    const QByteArray json =
        RunTool(QStringLiteral("/usr/bin/ffprobe"),
                {"-v", "error", "-show_entries",
                 "stream=codec_type,codec_name:stream_tags=language,title:stream_disposition="
                 "default,visual_impaired",
                 "-of", "json", AFile});
    QList<TrackInfo> tracks;
    for (const QJsonValue& v : QJsonDocument::fromJson(json).object().value("streams").toArray()) {
        const QJsonObject o = v.toObject();
        TrackInfo t;
        t.type = o.value("codec_type").toString();
        t.codec = o.value("codec_name").toString();
        t.language = o.value("tags").toObject().value("language").toString();
        t.title = o.value("tags").toObject().value("title").toString();
        t.isDefault = o.value("disposition").toObject().value("default").toInt() != 0;
        t.visualImpaired = o.value("disposition").toObject().value("visual_impaired").toInt() != 0;
        tracks << t;
    }
    return tracks;
}

double ToneFrequency(const QString& AFile, int AIndex, double* ASeconds) {
    constexpr int kRate = 8000;
    const QByteArray pcm = RunTool(
        FixtureFFmpeg(), {"-v", "error", "-i", AFile, "-map", QStringLiteral("0:a:%1").arg(AIndex),
                          "-ac", "1", "-ar", QString::number(kRate), "-f", "s16le", "-"});
    const qsizetype n = pcm.size() / 2;
    if (ASeconds)
        *ASeconds = double(n) / kRate;
    // Rising crossings with some hysteresis, so the encoder's near-silent edges count nothing.
    QList<qsizetype> rises;
    bool low = false;
    for (qsizetype i = 0; i < n; ++i) {
        const qint16 v = qFromLittleEndian<qint16>(pcm.constData() + 2 * i);
        if (v < -500)
            low = true;
        else if (v > 500 && low) {
            low = false;
            rises << i;
        }
    }
    if (rises.size() < 3)
        return -1;
    return double(rises.size() - 1) * kRate / double(rises.last() - rises.first());
}

QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& APath, const QByteArray& AData) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(AData) == AData.size();
}

int ChildProcesses() {
    int n = 0;
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QByteArray stat = ReadAll(it.filePath() + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> f = stat.mid(close + 2).split(' ');
        if (f.size() > 1 && f[1].toInt() == ::getpid())
            ++n;
    }
    return n;
}

} // namespace halvora::test
