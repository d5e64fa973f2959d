#include "MediaIndex.h"

#include "JsonReader.h"
#include "Process.h"

#include <cmath>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace halvora {

namespace {

// "25/1" or "1/12800"; false when not a positive ratio.
bool ParseRatio(const QString& AText, int& ANum, int& ADen) {
    const QStringList parts = AText.split(QLatin1Char('/'));
    if (parts.size() != 2)
        return false;
    bool okN = false, okD = false;
    const int n = parts[0].toInt(&okN);
    const int d = parts[1].toInt(&okD);
    if (!okN || !okD || n <= 0 || d <= 0)
        return false;
    ANum = n;
    ADen = d;
    return true;
}

// "1.400000" as whole microseconds, without going through a double.
std::int64_t SecondsTextToUs(const QString& AText) {
    const QString t = AText.trimmed();
    const bool negative = t.startsWith(QLatin1Char('-'));
    const QString body = negative ? t.mid(1) : t;
    const qsizetype dot = body.indexOf(QLatin1Char('.'));
    bool ok = false;
    const std::int64_t whole = (dot < 0 ? body : body.left(dot)).toLongLong(&ok);
    if (!ok)
        return 0;
    std::int64_t frac = 0;
    if (dot >= 0) {
        QString f = body.mid(dot + 1).left(6);
        while (f.size() < 6)
            f += QLatin1Char('0');
        frac = f.toLongLong(&ok);
        if (!ok)
            frac = 0;
    }
    const std::int64_t us = whole * 1000000 + frac;
    return negative ? -us : us;
}

// "34000/50000" in units of 1/AScale, rounded; -1 when not a ratio.
std::int64_t Scaled(const JsonValue& AValue, std::int64_t AScale) {
    int num = 0, den = 1;
    const QString t = AValue.text();
    if (t.startsWith(QLatin1String("0/")))
        return 0;
    if (!ParseRatio(t, num, den))
        return -1;
    return (static_cast<std::int64_t>(num) * AScale + den / 2) / den;
}

QString MasterDisplayText(const JsonValue& AData) {
    auto xy = [&](const char* AName) {
        const QByteArray n(AName);
        const std::int64_t x = Scaled(AData.member((n + "_x").constData()), 50000);
        const std::int64_t y = Scaled(AData.member((n + "_y").constData()), 50000);
        return x < 0 || y < 0 ? QString() : QStringLiteral("(%1,%2)").arg(x).arg(y);
    };
    const QString g = xy("green"), b = xy("blue"), r = xy("red"), wp = xy("white_point");
    const std::int64_t max = Scaled(AData.member("max_luminance"), 10000);
    const std::int64_t min = Scaled(AData.member("min_luminance"), 10000);
    if (g.isEmpty() || b.isEmpty() || r.isEmpty() || wp.isEmpty() || max <= 0 || min < 0)
        return {};
    return QStringLiteral("G%1B%2R%3WP%4L(%5,%6)").arg(g, b, r, wp).arg(max).arg(min);
}

// The HDR side data of the video's first picture.
void ReadHdr(const JsonValue& AFrames, int AVideoIndex, MediaIndex& AIndex) {
    for (int i = 0; i < AFrames.size(); ++i) {
        const JsonValue frame = AFrames.at(i);
        if (frame.member("stream_index").toInt(-1) != AVideoIndex)
            continue;
        const JsonValue list = frame.member("side_data_list");
        for (int j = 0; j < list.size(); ++j) {
            const JsonValue sd = list.at(j);
            const QString type = sd.member("side_data_type").text();
            if (type == QLatin1String("Mastering display metadata"))
                AIndex.masterDisplay = MasterDisplayText(sd);
            else if (type == QLatin1String("Content light level metadata"))
                AIndex.contentLight = QStringLiteral("%1,%2")
                                          .arg(sd.member("max_content").toInt())
                                          .arg(sd.member("max_average").toInt());
        }
        return;
    }
}

// ffprobe's disposition object as ffmpeg's -disposition value.
QString DispositionText(const JsonValue& AStream) {
    QStringList seen, set;
    AStream.member("disposition").forEachMember([&](const QString& AKey, const JsonValue& AFlag) {
        if (seen.contains(AKey))
            return; // the first of a repeated key counts
        seen << AKey;
        if (AFlag.toInt() != 0)
            set << AKey;
    });
    // In name order, so the value does not depend on the order ffprobe writes its fields in.
    set.sort();
    return set.isEmpty() ? QStringLiteral("0") : set.join(QLatin1Char('+'));
}

QString Specified(const JsonValue& AStream, const char* AKey) {
    const QString v = AStream.member(AKey).text();
    return v == QLatin1String("unknown") ? QString() : v;
}

void ReadColour(const JsonValue& AStream, MediaIndex& AIndex) {
    AIndex.colorRange = Specified(AStream, "color_range");
    AIndex.colorSpace = Specified(AStream, "color_space");
    AIndex.colorTransfer = Specified(AStream, "color_transfer");
    AIndex.colorPrimaries = Specified(AStream, "color_primaries");
    AIndex.videoDisposition = DispositionText(AStream);
}

QByteArray ReadBytes(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

std::int64_t MediaIndex::toUs(std::int64_t ATs) const {
    // Rounded down, also below zero, so a seek to it never passes the packet.
    const __int128 num = static_cast<__int128>(ATs) * tbNum * 1000000;
    __int128 q = num / tbDen;
    if (num % tbDen != 0 && num < 0)
        --q;
    return static_cast<std::int64_t>(q);
}

std::int64_t MediaIndex::frameUs() const {
    if (rateNum <= 0 || rateDen <= 0)
        return 0;
    return static_cast<std::int64_t>(rateDen) * 1000000 / rateNum;
}

QVector<std::int64_t> MediaIndex::keyframeUs() const {
    QVector<std::int64_t> out;
    for (const VideoPacket& p : packets)
        if (p.key)
            out << toUs(p.pts);
    std::sort(out.begin(), out.end());
    return out;
}

int MediaIndex::audioFrameSamples() const {
    if (audioCodec == QLatin1String("aac"))
        return 1024;
    if (audioCodec == QLatin1String("mp3") || audioCodec == QLatin1String("mp2"))
        return 1152;
    if (audioCodec == QLatin1String("ac3") || audioCodec == QLatin1String("eac3"))
        return 1536;
    if (audioCodec == QLatin1String("opus"))
        return 960;
    return 0;
}

QString FFprobeBeside(const QString& AFFmpeg) {
    const qsizetype slash = AFFmpeg.lastIndexOf(QLatin1Char('/'));
    QString name = AFFmpeg.mid(slash + 1);
    name.replace(QStringLiteral("ffmpeg"), QStringLiteral("ffprobe"));
    if (name == AFFmpeg.mid(slash + 1))
        name = QStringLiteral("ffprobe");
    return AFFmpeg.left(slash + 1) + name;
}

QString FindFFprobe(const QString& AFFmpeg) {
    QString found = ResolveProgram(FFprobeBeside(AFFmpeg));
    if (!found.isEmpty() && QFileInfo(found).isFile())
        return found;
    // The application folder may hold only a link to the system's ffmpeg.
    const QString target = QFileInfo(ResolveProgram(AFFmpeg)).canonicalFilePath();
    if (target.isEmpty())
        return {};
    // A bare name may have been found in the current folder, which is never searched for
    // ffprobe: not even beside an ffmpeg there.
    if (!AFFmpeg.contains(QLatin1Char('/')) &&
        QFileInfo(target).absolutePath() == QDir::current().canonicalPath())
        return {};
    found = FFprobeBeside(target);
    return QFileInfo(found).isFile() ? found : QString();
}

bool ParseStreamInfo(const QByteArray& AJson, MediaIndex& AIndex) {
    const JsonDocument doc(AJson);
    const JsonValue root = doc.root();
    bool video = false;
    int videoIndex = -1;
    AIndex.audioTracks = 0;
    AIndex.audioDispositions.clear();
    const JsonValue streams = root.member("streams");
    for (int i = 0; i < streams.size(); ++i) {
        const JsonValue s = streams.at(i);
        const QString type = s.member("codec_type").text();
        if (type == QLatin1String("video") && !video) {
            video = true;
            videoIndex = s.member("index").toInt();
            ReadColour(s, AIndex);
            AIndex.codec = s.member("codec_name").text();
            AIndex.profile = s.member("profile").text();
            AIndex.pixFmt = s.member("pix_fmt").text();
            AIndex.level = s.member("level").toInt();
            AIndex.width = s.member("width").toInt();
            AIndex.height = s.member("height").toInt();
            if (!ParseRatio(s.member("time_base").text(), AIndex.tbNum, AIndex.tbDen))
                return false;
            ParseRatio(s.member("r_frame_rate").text(), AIndex.rateNum, AIndex.rateDen);
        } else if (type == QLatin1String("audio")) {
            AIndex.audioDispositions << DispositionText(s);
            if (AIndex.audioTracks++ == 0) {
                AIndex.audioCodec = s.member("codec_name").text();
                AIndex.audioSampleRate = s.member("sample_rate").toInt();
            }
        }
    }
    const JsonValue start = root.member("format").member("start_time");
    AIndex.startUs = start.hasText() ? SecondsTextToUs(start.text()) : 0;
    if (video)
        ReadHdr(root.member("frames"), videoIndex, AIndex);
    return video;
}

bool ParsePacketLines(const QByteArray& ALines, MediaIndex& AIndex) {
    AIndex.packets.clear();
    qsizetype at = 0;
    while (at < ALines.size()) {
        qsizetype end = ALines.indexOf('\n', at);
        if (end < 0)
            end = ALines.size();
        const QByteArray line = ALines.mid(at, end - at).trimmed();
        at = end + 1;
        const QList<QByteArray> f = line.split(',');
        if (f.size() < 3)
            continue;
        bool okP = false, okD = false;
        VideoPacket p;
        p.pts = f[0].toLongLong(&okP);
        p.dts = f[1].toLongLong(&okD);
        if (!okP) // a packet without a time can't be placed: no exact cut on this file
            return false;
        if (!okD)
            p.dts = p.pts;
        p.key = f[2].startsWith('K');
        AIndex.packets << p;
    }
    return !AIndex.packets.isEmpty();
}

MediaIndex ReadMediaIndex(const QString& AFileName, const ClipEnv& AEnv) {
    MediaIndex index;
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty())
        return index;
    const QString ffprobe = FindFFprobe(ffmpeg);
    if (ffprobe.isEmpty())
        return index;
    const QString streamsFile = AEnv.dir() + QStringLiteral("streams.json");
    const QString packetsFile = AEnv.dir() + QStringLiteral("packets.txt");
    QFile::remove(streamsFile);
    QFile::remove(packetsFile);

    const Command streams =
        Command(ffprobe)
            .args({QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-read_intervals"),
                   // The first pictures (HDR data rides on them), not the whole file.
                   QStringLiteral("%+#4"), QStringLiteral("-show_entries"),
                   QStringLiteral("format=start_time:stream=index,codec_type,codec_name,profile,"
                                  "level,pix_fmt,width,height,r_frame_rate,time_base,sample_rate,"
                                  "color_range,color_space,color_transfer,color_primaries:"
                                  "stream_disposition:frame=stream_index:frame_side_data"),
                   QStringLiteral("-of"), QStringLiteral("json")})
            .path(AFileName);
    if (AEnv.onRun)
        AEnv.onRun(streams);
    if (RunCaptured(streams, streamsFile, AEnv.timeoutMs, AEnv.stop) != 0 ||
        !ParseStreamInfo(ReadBytes(streamsFile), index))
        return index;

    // Reading packets demuxes the file without decoding it: a second or two for half an hour
    // of 720p.
    const Command packets =
        Command(ffprobe)
            .args({QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("packet=pts,dts,flags"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0")})
            .path(AFileName);
    if (AEnv.onRun)
        AEnv.onRun(packets);
    if (RunCaptured(packets, packetsFile, AEnv.timeoutMs, AEnv.stop) != 0 ||
        !ParsePacketLines(ReadBytes(packetsFile), index))
        return index;
    index.ok = true;
    return index;
}

QVector<double> KeyframeSeconds(const MediaIndex& AIndex) {
    QVector<double> out;
    if (!AIndex.ok)
        return out;
    for (std::int64_t us : AIndex.keyframeUs())
        out << (us - AIndex.startUs) / 1e6;
    return out;
}

bool IsOnKeyframe(const MediaIndex& AIndex, double ASecond) {
    if (!AIndex.ok)
        return false;
    const std::int64_t at = AIndex.startUs + std::llround(ASecond * 1000.0) * 1000;
    const std::int64_t half = std::max<std::int64_t>(AIndex.frameUs() / 2, 1);
    for (std::int64_t k : AIndex.keyframeUs())
        if (k >= at - half && k <= at + half)
            return true;
    return false;
}

} // namespace halvora
