#include "FFmpegLog.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace halvora {

qint64 ListedStartPts(const QString& AText) {
    static const QRegularExpression start(
        QStringLiteral("^\\s*Duration: [^,]*, start: (-?[0-9]+(?:\\.[0-9]+)?)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch s = start.match(AText);
    return s.hasMatch() ? std::max<qint64>(std::llround(s.captured(1).toDouble() * 90000), 0) : -1;
}

// ffmpeg's HLS reader skips a segment it cannot open and goes on, ending with 0 ("Failed to
// open segment N of playlist 0"); a segment cut short by a lost connection is only reported
// by the HTTP layer ("Stream ends prematurely").
void FFmpegLogReader::readLine(const QString& ALine) {
    // Keyed by reader and playlist too: a variant and its audio rendition are two inputs
    // whose segments are numbered alike.
    static const QRegularExpression failed(
        QStringLiteral("(?:\\[hls @ ([^\\]]*)\\] )?Failed to open segment (\\d+)(?: of playlist "
                       "(\\d+))?"));
    // Input #0's line comes first; the outputs have none.
    if (FStartPts < 0)
        FStartPts = ListedStartPts(ALine);
    const QRegularExpressionMatch m = failed.match(ALine);
    if (m.hasMatch())
        FSegments.insert(m.captured(1) + u':' + m.captured(3) + u':' + m.captured(2));
    else if (ALine.contains(QLatin1String("Stream ends prematurely")))
        ++FCutShort;
    else if (ALine.contains(QLatin1String("Error writing trailer")) ||
             ALine.contains(QLatin1String("No space left on device")) ||
             ALine.contains(QLatin1String("File too large")))
        FWriteFailed = true;
}

QString FirstSegmentUrl(const QString& AListing) {
    static const QRegularExpression opening(
        QStringLiteral(R"(^\[hls @ [^\]]*\] Opening '(.*)' for reading\s*$)"));
    for (const QString& line : AListing.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = opening.match(line);
        const QString url = m.captured(1);
        const QString path = url.section(QLatin1Char('?'), 0, 0).toLower();
        if (m.hasMatch() && !path.endsWith(QLatin1String(".m3u8")) &&
            !path.endsWith(QLatin1String(".m3u")))
            return url;
    }
    return {};
}

QStringList SegmentTagArgs(const QList<StreamEntry>& APlaylist, const QList<StreamEntry>& ASegment,
                           const StreamPlan& APlan) {
    if (ASegment.size() != APlaylist.size())
        return {};
    for (qsizetype i = 0; i < APlaylist.size(); ++i)
        if (ASegment[i].kind != APlaylist[i].kind || ASegment[i].codec != APlaylist[i].codec)
            return {};
    QStringList args;
    int k = 0; // the output stream, in the order the download maps them
    for (const QList<int>* group : {&APlan.video, &APlan.audio, &APlan.other})
        for (int index : *group) {
            const StreamEntry& e = ASegment[index];
            if (!e.language.isEmpty() && e.language != QLatin1String("und") &&
                APlaylist[index].language.isEmpty())
                args << QStringLiteral("-metadata:s:%1").arg(k)
                     << QStringLiteral("language=") + e.language;
            if (!e.flags.isEmpty() && APlaylist[index].flags.isEmpty())
                args << QStringLiteral("-disposition:%1").arg(k) << e.flags.join(QLatin1Char('+'));
            ++k;
        }
    return args;
}

} // namespace halvora
