#include "HlsSubtitles.h"

#include "Links.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <tuple>

namespace halvora {

namespace {

constexpr qint64 kPtsWrap = qint64(1) << 33; // the MPEG-TS clock's range
constexpr qint64 kMaxHours = 1000000;        // beyond any recording; keeps the sums small

// Lines of a text file: a UTF-8 BOM dropped, CRLF and lone CR read as line ends.
QStringList LinesOf(const QByteArray& AText) {
    QString text = QString::fromUtf8(AText);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.split(QLatin1Char('\n'));
}

// "hh:mm:ss.ttt" or "mm:ss.ttt" in milliseconds; -1 when malformed.
qint64 ReadTime(QStringView AText) {
    const QList<QStringView> parts = AText.trimmed().split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return -1;
    const QList<QStringView> secs = parts.last().split(QLatin1Char('.'));
    if (secs.size() != 2 || secs[0].size() != 2 || secs[1].size() != 3)
        return -1;
    qint64 ms = 0;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        bool ok = false;
        const qint64 v = parts[i].toLongLong(&ok);
        if (!ok || v < 0 || v > kMaxHours || (i > 0 && (parts[i].size() != 2 || v > 59)))
            return -1;
        ms = ms * 60 + v;
    }
    bool okS = false;
    bool okT = false;
    const qint64 s = secs[0].toLongLong(&okS);
    const qint64 t = secs[1].toLongLong(&okT);
    if (!okS || !okT || s < 0 || s > 59 || t < 0)
        return -1;
    return (ms * 60 + s) * 1000 + t;
}

QString TimeText(qint64 AMs) {
    return QStringLiteral("%1:%2:%3.%4")
        .arg(AMs / 3600000, 2, 10, QLatin1Char('0'))
        .arg(AMs / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(AMs / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(AMs % 1000, 3, 10, QLatin1Char('0'));
}

// The shift X-TIMESTAMP-MAP's value ("MPEGTS:900000,LOCAL:00:00:00.000", either order) gives
// cue times, in ms; false when malformed.
bool ReadTimestampMap(const QString& AValue, qint64 AStartPts, qint64* AShiftMs) {
    qint64 mpegts = -1;
    qint64 local = -1;
    for (const QString& item : AValue.split(QLatin1Char(','))) {
        const QString key = item.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString value = item.section(QLatin1Char(':'), 1);
        if (key == QLatin1String("MPEGTS")) {
            bool ok = false;
            mpegts = value.trimmed().toLongLong(&ok);
            if (!ok || mpegts < 0)
                return false;
        } else if (key == QLatin1String("LOCAL")) {
            local = ReadTime(value);
        }
    }
    if (mpegts < 0 || local < 0)
        return false;
    // The nearest way round the clock: segments written after a wrap still follow the video.
    qint64 delta = (mpegts - AStartPts) % kPtsWrap;
    if (delta > kPtsWrap / 2)
        delta -= kPtsWrap;
    else if (delta < -kPtsWrap / 2)
        delta += kPtsWrap;
    *AShiftMs = (delta >= 0 ? (delta + 45) / 90 : -((-delta + 45) / 90)) - local;
    return true;
}

} // namespace

QList<VttCue> ReadVttSegment(const QByteArray& AText, qint64 AStartPts) {
    QList<VttCue> cues;
    const QStringList lines = LinesOf(AText);
    if (lines.isEmpty() || !lines[0].startsWith(QLatin1String("WEBVTT")))
        return cues;
    qsizetype i = 1;
    qint64 shift = 0;
    for (; i < lines.size() && !lines[i].trimmed().isEmpty(); ++i)
        if (lines[i].startsWith(QLatin1String("X-TIMESTAMP-MAP=")) &&
            !ReadTimestampMap(lines[i].mid(16), AStartPts, &shift))
            return cues; // cues placed on a clock we cannot read would only mislead
    while (i < lines.size()) {
        while (i < lines.size() && lines[i].trimmed().isEmpty())
            ++i;
        QStringList block;
        for (; i < lines.size() && !lines[i].trimmed().isEmpty(); ++i)
            block << lines[i];
        if (block.isEmpty())
            break;
        // An identifier line may come before the timings; NOTE, STYLE and REGION blocks have none.
        const qsizetype timing = block[0].contains(QLatin1String("-->")) ? 0 : 1;
        if (timing >= block.size() || !block[timing].contains(QLatin1String("-->")))
            continue;
        const QString& line = block[timing];
        const qsizetype arrow = line.indexOf(QLatin1String("-->"));
        const QString rest = line.mid(arrow + 3).trimmed();
        const qsizetype space = rest.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const qint64 start = ReadTime(QStringView(line).left(arrow));
        const qint64 end = ReadTime(space < 0 ? QStringView(rest) : QStringView(rest).left(space));
        if (start < 0 || end <= start)
            continue;
        VttCue cue;
        cue.startMs = start + shift;
        cue.endMs = end + shift;
        cue.settings = space < 0 ? QString() : rest.mid(space).trimmed();
        cue.text = block.mid(timing + 1).join(QLatin1Char('\n'));
        cues << cue;
    }
    return cues;
}

QByteArray WriteVtt(QList<VttCue> ACues, qint64 ALimitMs) {
    // Cut to what is kept first, so that cues which differ only in what is cut off are repeats.
    QList<VttCue> kept;
    for (VttCue& c : ACues)
        if (c.endMs > 0 && c.endMs < kMaxHours * 3600000 &&
            (ALimitMs <= 0 || c.startMs < ALimitMs)) {
            c.startMs = std::max<qint64>(c.startMs, 0);
            kept << c;
        }
    ACues = kept;
    const auto key = [](const VttCue& c) {
        return std::tie(c.startMs, c.endMs, c.text, c.settings);
    };
    std::sort(ACues.begin(), ACues.end(),
              [&](const VttCue& a, const VttCue& b) { return key(a) < key(b); });
    QByteArray out = "WEBVTT\n";
    const VttCue* last = nullptr;
    for (const VttCue& c : ACues) {
        if (last && key(*last) == key(c))
            continue;
        last = &c;
        QString block = QStringLiteral("\n%1 --> %2").arg(TimeText(c.startMs), TimeText(c.endMs));
        if (!c.settings.isEmpty())
            block += QLatin1Char(' ') + c.settings;
        block += QLatin1Char('\n') + c.text + QLatin1Char('\n');
        out += block.toUtf8();
    }
    return out;
}

bool FetchVttRendition(const QString& APlaylistUri, const PlaylistFetcher& AFetch, qint64 AStartPts,
                       qint64 ALimitMs, QByteArray* AOut, QString* AError) {
    const auto fail = [AError](const QString& AWhy) {
        if (AError)
            *AError = AWhy;
        return false;
    };
    const PlaylistText list = AFetch(APlaylistUri);
    if (!list.ok)
        return fail(list.error);
    const QStringList lines = LinesOf(list.body);
    if (std::none_of(lines.begin(), lines.end(), [](const QString& ALine) {
            return ALine.trimmed() == QLatin1String("#EXT-X-ENDLIST");
        }))
        return fail(QStringLiteral("the subtitles are live"));
    QList<VttCue> cues;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString uri = ResolveHlsUri(APlaylistUri, line);
        // A remote playlist names remote segments only.
        if (IsUrl(APlaylistUri) && !IsUrl(uri))
            return fail(QStringLiteral("a segment is no link"));
        const PlaylistText segment = AFetch(uri);
        if (!segment.ok)
            return fail(segment.error);
        cues += ReadVttSegment(segment.body, AStartPts);
    }
    if (AOut)
        *AOut = WriteVtt(cues, ALimitMs);
    return true;
}

QString Mp4Language(const QString& ALanguage) {
    const QString primary = ALanguage.section(QLatin1Char('-'), 0, 0).toLower();
    if (primary.size() == 3 && primary != QLatin1String("und"))
        return primary;
    if (primary.size() != 2)
        return {};
    const QLocale::Language l = QLocale::codeToLanguage(primary, QLocale::ISO639Part1);
    return l == QLocale::AnyLanguage ? QString() : QLocale::languageToCode(l, QLocale::ISO639Part3);
}

} // namespace halvora
