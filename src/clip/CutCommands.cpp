#include "CutCommands.h"

#include "ClipTime.h"
#include "Encoding.h"
#include "SourceTags.h"

#include <QFile>

namespace halvora {

namespace {

QString Num(double AValue) {
    return SecondsArg(AValue);
}

Command& Reencode(Command& ACmd, const QString& ACrop) {
    return ACmd.arg(QStringLiteral("-vf"))
        .arg(QStringLiteral("crop=") + ACrop)
        .args(H264AacArgs(EncodePreset::VeryFast));
}

// Every video stream (no cover pictures) and every audio track, in order; ffmpeg alone would
// keep only one audio track.
Command& MapAll(Command& ACmd) {
    return ACmd.args({QStringLiteral("-map"), QStringLiteral("0:V?"), QStringLiteral("-map"),
                      QStringLiteral("0:a?")});
}

// The concat demuxer reads a quoted path literally up to the next quote; a quote inside is
// closed, escaped and reopened.
QString ConcatQuoted(const QString& APath) {
    QString s = APath;
    s.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

} // namespace

QString CutFileName(double AFrom, double ATo) {
    return QStringLiteral("seg_%1_%2.mp4").arg(SecondsArg(AFrom), SecondsArg(ATo));
}

QString TailFileName(double AFrom) {
    return QStringLiteral("seg_%1_end.mp4").arg(SecondsArg(AFrom));
}

Command CutCommand(const QString& AFFmpeg, const QString& AInput, double AFrom, double ATo,
                   const QString& ACrop, const QString& ACutPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        // Stream copy: the seek stays after the input, which decides the packets kept.
        c.arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-to")).arg(Num(ATo));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        // Re-encoding: seeking before the input skips decoding everything up to the range and
        // is still frame-accurate.
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        c.arg(QStringLiteral("-t")).arg(SecondsArg(RoundToMs(ATo - AFrom)));
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ACutPath);
}

Command TailCommand(const QString& AFFmpeg, const QString& AInput, double AFrom,
                    const QString& ACrop, const QString& ATailPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y"));
    if (ACrop.isEmpty()) {
        c.arg(QStringLiteral("-i")).path(AInput).arg(QStringLiteral("-ss")).arg(Num(AFrom));
        MapAll(c).arg(QStringLiteral("-c")).arg(QStringLiteral("copy"));
    } else {
        c.arg(QStringLiteral("-ss")).arg(Num(AFrom)).arg(QStringLiteral("-i")).path(AInput);
        Reencode(MapAll(c), ACrop);
    }
    return c.path(ATailPath);
}

QString UsText(std::int64_t AUs) {
    const bool negative = AUs < 0;
    const std::int64_t a = negative ? -AUs : AUs;
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(a / 1000000)
        .arg(a % 1000000, 6, 10, QLatin1Char('0'));
}

Command KeyframeCutCommand(const QString& AFFmpeg, const QString& AInput, std::int64_t AStartUs,
                           double ATo, const QString& ACutPath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y")).arg(QStringLiteral("-ss")).arg(UsText(AStartUs));
    c.arg(QStringLiteral("-i")).path(AInput);
    if (ATo >= 0)
        c.arg(QStringLiteral("-t")).arg(UsText(ToMs(ATo) * 1000 - AStartUs));
    // Without this ffmpeg copies the packets between the keyframe it seeked to and the start.
    MapAll(c).args({QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-copypriorss"),
                    QStringLiteral("0")});
    return c.path(ACutPath);
}

Command JoinCommand(const QString& AFFmpeg, const QString& AListPath, const QString& AOutput,
                    bool AReencode, const QString& ATagsFrom, const MediaIndex* AIndex) {
    Command c(AFFmpeg);
    c.args({QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"),
            QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i")});
    c.path(AListPath);
    const bool tags = !ATagsFrom.isEmpty() && AIndex && !AIndex->videoDisposition.isEmpty();
    if (tags)
        c.arg(QStringLiteral("-i")).path(ATagsFrom);
    MapAll(c);
    if (tags)
        KeepSourceTags(c, 1, *AIndex, true);
    if (AReencode)
        c.args(H264AacArgs(EncodePreset::VeryFast));
    else
        c.args({QStringLiteral("-c"), QStringLiteral("copy")});
    c.args({QStringLiteral("-movflags"), QStringLiteral("+faststart")});
    return c.path(AOutput);
}

QByteArray ConcatListText(const QStringList& APaths) {
    QByteArray out;
    for (const QString& p : APaths) {
        out += "file ";
        out += ConcatQuoted(p).toUtf8();
        out += "\r\n";
    }
    return out;
}

bool StripUtf8Bom(const QString& AFileName) {
    QFile f(AFileName);
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const QByteArray bytes = f.readAll();
    f.close();
    if (bytes.size() < 3 || !bytes.startsWith("\xEF\xBB\xBF"))
        return true;
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray rest = bytes.mid(3);
    return f.write(rest) == rest.size() && f.flush();
}

} // namespace halvora
