#include "MediaProbe.h"

#include "Process.h"
#include "StreamList.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cstdlib>

namespace halvora {

namespace {

// A run of ASCII digits read as a number; anything else counts as 0.
std::int64_t GroupValue(QStringView AGroup) {
    if (AGroup.isEmpty())
        return 0;
    std::int64_t v = 0;
    for (QChar c : AGroup) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        v = v * 10 + (c.unicode() - '0');
        if (v > INT32_MAX)
            return 0;
    }
    return v;
}

bool IsDigit(QChar AChar) {
    return AChar >= QLatin1Char('0') && AChar <= QLatin1Char('9');
}

// ffmpeg echoes the input's name ("from '...':", error lines) before the facts we look for; a
// name holding "Duration:" or "Video:" must not be taken for them.
QString WithoutName(const QString& ACapture, const QString& AFileName) {
    if (AFileName.isEmpty())
        return ACapture;
    QString s = ACapture;
    s.replace(AFileName, QString());
    return s;
}

QString Capture(const QString& AFileName, const ClipEnv& AEnv, const QString& ACaptureName,
                bool* AFound) {
    *AFound = false;
    const QString ffmpeg = AEnv.ffmpeg();
    if (ffmpeg.isEmpty())
        return {};
    const QString captureFile = AEnv.dir() + ACaptureName;
    // A capture left by an earlier probe must never stand in for this one when the run can't
    // even start.
    QFile::remove(captureFile);
    const Command cmd = Command(ffmpeg).arg(QStringLiteral("-i")).path(AFileName);
    if (AEnv.onRun)
        AEnv.onRun(cmd);
    RunCaptured(cmd, captureFile, AEnv.timeoutMs, AEnv.stop);
    if (!QFile::exists(captureFile))
        return {};
    *AFound = true;
    return WithoutName(ReadTextFile(captureFile), AFileName);
}

} // namespace

QString FormatTime(std::int32_t ASecs) {
    const std::int32_t m = ASecs / 60;
    const std::int32_t s = ASecs % 60;
    auto two = [](std::int32_t AValue) {
        // "%.2d": at least two digits, the sign before them.
        QString digits = QString::number(AValue < 0 ? -static_cast<std::int64_t>(AValue) : AValue);
        if (digits.size() < 2)
            digits.prepend(QLatin1Char('0'));
        return AValue < 0 ? QLatin1Char('-') + digits : digits;
    };
    return two(m) + QLatin1Char(':') + two(s);
}

QString ReadTextFile(const QString& APath) {
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    if (const auto enc = QStringConverter::encodingForData(bytes))
        decoder = QStringDecoder(*enc);
    QString text = decoder(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    if (text.isEmpty())
        return text;
    QString out;
    out.reserve(text.size() + text.size() / 32 + 2);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // The text after the last line break is a line only when it isn't empty.
        if (i == lines.size() - 1 && line.isEmpty())
            break;
        out += line;
        out += QStringLiteral("\r\n");
    }
    return out;
}

std::int32_t ParseDuration(const QString& ACapture) {
    static const QString marker = QStringLiteral("Duration:");
    const qsizetype at = ACapture.indexOf(marker);
    if (at < 0)
        return 0;
    const QStringView rest = QStringView(ACapture).mid(at + marker.size() + 1);
    // Hours are read up to their colon, so 100 hours and more still count; minutes and
    // seconds sit at the fixed places after it.
    qsizetype colon = 0;
    while (colon < rest.size() && IsDigit(rest[colon]))
        ++colon;
    if (colon < 2 || colon >= rest.size() || rest[colon] != QLatin1Char(':'))
        colon = 2;
    const std::int64_t h = GroupValue(rest.left(colon));
    const std::int64_t m = GroupValue(rest.mid(colon + 1, 2));
    const std::int64_t s = GroupValue(rest.mid(colon + 4, 2));
    const std::int64_t total = h * 3600 + m * 60 + s;
    return total > INT32_MAX ? 0 : static_cast<std::int32_t>(total);
}

QString ParseVideoSize(const QString& ACapture) {
    static const QString marker = QStringLiteral("Video:");
    const qsizetype at = ACapture.indexOf(marker);
    if (at < 0)
        return {};
    const QStringView w = QStringView(ACapture).mid(at + marker.size(), 300);
    const qsizetype n = w.size();
    qsizetype i = 0;
    while (i < n) {
        if (!IsDigit(w[i])) {
            ++i;
            continue;
        }
        const qsizetype a = i;
        while (i < n && IsDigit(w[i]))
            ++i;
        if (i >= n)
            return {};
        if (w[i] != QLatin1Char('x')) {
            ++i;
            continue;
        }
        if (i - a == 1 && w[a] == QLatin1Char('0')) {
            ++i; // the 0 of a hexadecimal tag such as 0x1b
            continue;
        }
        if (i + 1 < n && IsDigit(w[i + 1])) {
            qsizetype e = i + 1;
            while (e < n && IsDigit(w[e]))
                ++e;
            return w.mid(a, e - a).toString();
        }
        ++i;
    }
    return {};
}

QStringList ParseAudioTracks(const QString& ACapture) {
    QStringList languages;
    for (const StreamEntry& s : ParseStreamList(ACapture))
        if (s.kind == QLatin1String("Audio"))
            languages << (s.language == QLatin1String("und") ? QString() : s.language);
    return languages;
}

QString AudioTracksText(const QStringList& ALanguages) {
    if (ALanguages.isEmpty())
        return QStringLiteral("Audio: none");
    QString text = ALanguages.size() == 1
                       ? QStringLiteral("Audio: 1 track")
                       : QStringLiteral("Audio: %1 tracks").arg(ALanguages.size());
    QStringList named;
    for (const QString& l : ALanguages)
        named << (l.isEmpty() ? QStringLiteral("?") : l);
    if (named.size() != named.count(QStringLiteral("?")))
        text += QStringLiteral(" (") + named.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

std::int32_t ProbeDuration(const QString& AFileName, const ClipEnv& AEnv) {
    bool found = false;
    const QString text = Capture(AFileName, AEnv, QStringLiteral("duration.txt"), &found);
    return found ? ParseDuration(text) : 0;
}

QString ShownVideoSize(const QString& ACapture) {
    const QString stored = ParseVideoSize(ACapture);
    // The first video stream's side data, up to the next stream.
    const qsizetype video = ACapture.indexOf(QLatin1String("Video:"));
    const qsizetype next = ACapture.indexOf(QLatin1String("Stream #"), video);
    static const QRegularExpression turn(
        QStringLiteral(R"(displaymatrix: rotation of (-?\d+)(?:\.\d+)? degrees)"));
    const auto m = turn.match(QStringView(ACapture).mid(0, next < 0 ? ACapture.size() : next),
                              video < 0 ? 0 : video);
    const qsizetype x = stored.indexOf(QLatin1Char('x'));
    if (!m.hasMatch() || x < 0 || std::abs(m.captured(1).toInt()) % 180 != 90)
        return stored;
    return stored.mid(x + 1) + QLatin1Char('x') + stored.left(x);
}

QString ProbeVideoSize(const QString& AFileName, const ClipEnv& AEnv) {
    bool found = false;
    const QString text = Capture(AFileName, AEnv, QStringLiteral("vsize.txt"), &found);
    return found ? ShownVideoSize(text) : QString();
}

QStringList ProbeAudioTracks(const QString& AFileName, const ClipEnv& AEnv) {
    bool found = false;
    const QString text = Capture(AFileName, AEnv, QStringLiteral("audio.txt"), &found);
    return found ? ParseAudioTracks(text) : QStringList();
}

} // namespace halvora
