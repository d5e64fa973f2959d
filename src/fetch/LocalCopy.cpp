#include "LocalCopy.h"

#include <QFile>
#include <QUrl>

#include <cmath>

namespace halvora {

namespace {

// The segment's kind of file, from its URI: ffmpeg reads by content, the name only helps.
QString SegmentExtension(const MediaSegment& ASeg) {
    if (ASeg.map >= 0)
        return QStringLiteral("m4s");
    const QString path = QUrl(ASeg.uri).path();
    const QString ext = path.section(QLatin1Char('.'), -1).toLower();
    static const QStringList known = {
        QStringLiteral("ts"),  QStringLiteral("aac"), QStringLiteral("ac3"), QStringLiteral("ec3"),
        QStringLiteral("mp3"), QStringLiteral("mp4"), QStringLiteral("m4s"), QStringLiteral("m4a")};
    return path.contains(QLatin1Char('.')) && known.contains(ext) ? ext : QStringLiteral("ts");
}

QString Quoted(const QString& AText) {
    return QLatin1Char('"') + AText + QLatin1Char('"');
}

} // namespace

QString LocalCopy::sideFile(const QString& AKind, const QString& AUri, const ByteRange& ARange,
                            qint64 ASequence, QList<FetchItem>* AItems) {
    const QString id = AUri + QLatin1Char(' ') + QString::number(ARange.length) + QLatin1Char('@') +
                       QString::number(ARange.offset);
    auto it = FSideFiles.constFind(id);
    if (it != FSideFiles.constEnd())
        return *it;
    const QString name = QStringLiteral("%1-%2.%3")
                             .arg(AKind, QString::number(ASequence),
                                  AKind == u"key" ? QStringLiteral("key") : QStringLiteral("mp4"));
    FSideFiles.insert(id, name);
    AItems->append({AUri, ARange, FDir + QLatin1Char('/') + name, false});
    return name;
}

QList<FetchItem> LocalCopy::plan(const MediaPlaylist& APlaylist) {
    QList<FetchItem> items;
    FVersion = qMax(FVersion, APlaylist.version);
    FTargetDuration = qMax(FTargetDuration, APlaylist.targetDuration);
    FKeptTags = APlaylist.keptTags;
    for (const MediaSegment& s : APlaylist.segments) {
        if (FPlanned.contains(s.sequence))
            continue;
        Segment local;
        local.seg = s;
        // A live window that slid past segments between two reloads: they are gone for good.
        const qint64 next = FSegments.isEmpty() ? s.sequence : FSegments.last().seg.sequence + 1;
        local.afterLost = s.sequence > next;
        FLost += qMax(qint64(0), s.sequence - next);
        if (s.key >= 0) {
            local.key = APlaylist.keys[s.key];
            if (!local.key.uri.isEmpty())
                local.keyFile =
                    sideFile(QStringLiteral("key"), local.key.uri, {}, s.sequence, &items);
        }
        if (s.map >= 0) {
            const HlsMap& m = APlaylist.maps[s.map];
            local.mapFile = sideFile(QStringLiteral("init"), m.uri, m.range, s.sequence, &items);
        }
        local.file = QStringLiteral("seg-%1.%2").arg(s.sequence).arg(SegmentExtension(s));
        const bool ts = local.file.endsWith(QLatin1String(".ts"));
        items.append(
            {s.uri, s.range, FDir + QLatin1Char('/') + local.file, ts && s.key < 0 && s.map < 0});
        FPlanned.insert(s.sequence, int(FSegments.size()));
        FSegments.append(local);
    }
    return items;
}

bool LocalCopy::readable(const Segment& AS) const {
    const auto here = [this](const QString& AName) {
        return AName.isEmpty() || QFile::exists(FDir + QLatin1Char('/') + AName);
    };
    return here(AS.file) && here(AS.keyFile) && here(AS.mapFile) &&
           !(AS.key.encrypts() && AS.keyFile.isEmpty());
}

int LocalCopy::missing() const {
    int n = 0;
    for (const Segment& s : FSegments)
        n += readable(s) ? 0 : 1;
    return n;
}

// A key tag before each encrypted segment whose IV is implied: the local list may skip
// segments, so the sequence number is written out rather than left to be counted.
void LocalCopy::writeKey(QByteArray& AOut, const Segment& AS, QString& ALastKey) const {
    QString tag = QStringLiteral("#EXT-X-KEY:METHOD=NONE");
    if (AS.key.encrypts()) {
        tag = QStringLiteral("#EXT-X-KEY:METHOD=%1,URI=%2").arg(AS.key.method, Quoted(AS.keyFile));
        const QString iv = AS.key.iv.isEmpty() ? QStringLiteral("0x%1").arg(AS.seg.sequence, 32, 16,
                                                                            QLatin1Char('0'))
                                               : AS.key.iv;
        tag += QStringLiteral(",IV=") + iv;
        if (!AS.key.keyFormat.isEmpty())
            tag += QStringLiteral(",KEYFORMAT=") + Quoted(AS.key.keyFormat);
    }
    if (tag != ALastKey && !(ALastKey.isEmpty() && !AS.key.encrypts()))
        AOut += tag.toUtf8() + '\n';
    ALastKey = tag;
}

QByteArray LocalCopy::header(bool AVod) const {
    QByteArray out = "#EXTM3U\n#EXT-X-VERSION:" + QByteArray::number(FVersion) + '\n';
    out += "#EXT-X-TARGETDURATION:" + QByteArray::number(qint64(std::ceil(FTargetDuration))) + '\n';
    out += "#EXT-X-MEDIA-SEQUENCE:" +
           QByteArray::number(FSegments.isEmpty() ? 0 : FSegments[0].seg.sequence) + '\n';
    for (const QString& t : FKeptTags)
        out += t.toUtf8() + '\n';
    if (AVod)
        out += "#EXT-X-PLAYLIST-TYPE:VOD\n";
    return out;
}

void LocalCopy::appendSegment(QByteArray& AOut, const Segment& AS, bool AGap, QString& ALastKey,
                              QString& ALastMap) const {
    if (AS.seg.discontinuity || AGap)
        AOut += "#EXT-X-DISCONTINUITY\n";
    writeKey(AOut, AS, ALastKey);
    if (!AS.mapFile.isEmpty() && AS.mapFile != ALastMap)
        AOut += "#EXT-X-MAP:URI=" + Quoted(AS.mapFile).toUtf8() + '\n';
    ALastMap = AS.mapFile;
    AOut += "#EXTINF:" + QByteArray::number(AS.seg.duration, 'f', 6) + ',' + AS.seg.title.toUtf8() +
            '\n' + AS.file.toUtf8() + '\n';
}

QByteArray LocalCopy::playlistText() const {
    QByteArray out = header(true);
    QString lastKey, lastMap;
    bool gap = false;
    for (const Segment& s : FSegments) {
        if (!readable(s)) {
            gap = true;
            continue;
        }
        appendSegment(out, s, gap, lastKey, lastMap);
        gap = false;
    }
    return out + "#EXT-X-ENDLIST\n";
}

void LocalCopy::listReceived(bool AFinal) {
    for (; FListed < FSegments.size(); ++FListed) {
        Segment& s = FSegments[FListed];
        if (readable(s))
            continue;
        if (!AFinal)
            return; // still on its way: what follows waits for it
        s.skipped = true;
        ++FSkipped;
    }
}

void LocalCopy::listAllReceived() {
    for (; FListed < FSegments.size(); ++FListed)
        FSegments[FListed].skipped = !readable(FSegments[FListed]);
}

QByteArray LocalCopy::liveText(bool AEnded) const {
    QByteArray out = header(false);
    QString lastKey, lastMap;
    bool gap = false;
    for (qsizetype i = 0; i < FListed; ++i) {
        if (FSegments[i].skipped) {
            gap = true;
            continue;
        }
        appendSegment(out, FSegments[i], gap || FSegments[i].afterLost, lastKey, lastMap);
        gap = false;
    }
    return AEnded ? out + "#EXT-X-ENDLIST\n" : out;
}

} // namespace halvora
