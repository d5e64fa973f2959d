#include "MediaPlaylist.h"

#include "HlsMaster.h"

#include <QHash>

namespace halvora {

namespace {

// "n[@o]"; AEnds holds where the last range of each URI ended, for a range without an offset.
ByteRange ReadRange(QStringView AText, const QString& AUri, QHash<QString, qint64>& AEnds) {
    ByteRange r;
    const qsizetype at = AText.indexOf(u'@');
    bool ok = false;
    r.length = (at < 0 ? AText : AText.left(at)).trimmed().toLongLong(&ok);
    if (!ok || r.length < 0)
        return {};
    r.offset = at < 0 ? AEnds.value(AUri, 0) : AText.mid(at + 1).trimmed().toLongLong();
    AEnds[AUri] = r.offset + r.length;
    return r;
}

struct Reader {
    MediaPlaylist list;
    QString base;
    MediaSegment next; // what the tags so far say of the next segment
    QString pendingRange;
    QHash<QString, qint64> rangeEnds;
    int key = -1;
    int map = -1;

    void readKey(QStringView AAttrs) {
        const auto a = ReadAttributeList(AAttrs);
        HlsKey k;
        k.method = AttributeValue(a, QLatin1String("METHOD")).toUpper();
        const QString uri = AttributeValue(a, QLatin1String("URI"));
        k.uri = uri.isEmpty() ? QString() : ResolveHlsUri(base, uri);
        k.iv = AttributeValue(a, QLatin1String("IV"));
        k.keyFormat = AttributeValue(a, QLatin1String("KEYFORMAT"));
        if (k.method.isEmpty() || k.method == u"NONE") {
            key = -1;
            return;
        }
        list.keys.append(k);
        key = int(list.keys.size() - 1);
    }

    void readMap(QStringView AAttrs) {
        const auto a = ReadAttributeList(AAttrs);
        HlsMap m;
        m.uri = ResolveHlsUri(base, AttributeValue(a, QLatin1String("URI")));
        const QString range = AttributeValue(a, QLatin1String("BYTERANGE"));
        if (!range.isEmpty())
            m.range = ReadRange(range, m.uri, rangeEnds);
        list.maps.append(m);
        map = int(list.maps.size() - 1);
    }

    void readSegmentUri(QStringView ALine) {
        next.uri = ResolveHlsUri(base, ALine.toString());
        if (!pendingRange.isEmpty())
            next.range = ReadRange(pendingRange, next.uri, rangeEnds);
        next.sequence = list.mediaSequence + list.segments.size();
        next.key = key;
        next.map = map;
        list.segments.append(next);
        next = MediaSegment();
        pendingRange.clear();
    }

    void readTag(QStringView ALine);
};

QStringView After(QStringView ALine, QStringView ATag) {
    return ALine.mid(ATag.size());
}

void Reader::readTag(QStringView ALine) {
    if (ALine.startsWith(u"#EXTINF:")) {
        const QStringView v = After(ALine, u"#EXTINF:");
        const qsizetype comma = v.indexOf(u',');
        next.duration = (comma < 0 ? v : v.left(comma)).toDouble();
        next.title = comma < 0 ? QString() : v.mid(comma + 1).toString();
    } else if (ALine.startsWith(u"#EXT-X-BYTERANGE:")) {
        pendingRange = After(ALine, u"#EXT-X-BYTERANGE:").toString();
    } else if (ALine == u"#EXT-X-DISCONTINUITY") {
        next.discontinuity = true;
    } else if (ALine.startsWith(u"#EXT-X-KEY:")) {
        readKey(After(ALine, u"#EXT-X-KEY:"));
    } else if (ALine.startsWith(u"#EXT-X-MAP:")) {
        readMap(After(ALine, u"#EXT-X-MAP:"));
    } else if (ALine.startsWith(u"#EXT-X-TARGETDURATION:")) {
        list.targetDuration = After(ALine, u"#EXT-X-TARGETDURATION:").toDouble();
    } else if (ALine.startsWith(u"#EXT-X-MEDIA-SEQUENCE:")) {
        list.mediaSequence = After(ALine, u"#EXT-X-MEDIA-SEQUENCE:").toLongLong();
    } else if (ALine.startsWith(u"#EXT-X-DISCONTINUITY-SEQUENCE:")) {
        list.discontinuitySequence = After(ALine, u"#EXT-X-DISCONTINUITY-SEQUENCE:").toLongLong();
    } else if (ALine.startsWith(u"#EXT-X-VERSION:")) {
        list.version = After(ALine, u"#EXT-X-VERSION:").toInt();
    } else if (ALine.startsWith(u"#EXT-X-PLAYLIST-TYPE:")) {
        list.playlistType = After(ALine, u"#EXT-X-PLAYLIST-TYPE:").trimmed().toString().toUpper();
    } else if (ALine == u"#EXT-X-ENDLIST") {
        list.endList = true;
    } else if (ALine == u"#EXT-X-INDEPENDENT-SEGMENTS" || ALine.startsWith(u"#EXT-X-START:")) {
        list.keptTags << ALine.toString();
    } else if (ALine.startsWith(u"#EXT-X-STREAM-INF:")) {
        list.ok = false; // a master playlist
    }
}

} // namespace

MediaPlaylist ReadMediaPlaylist(const QByteArray& AText, const QString& ABaseUrl) {
    Reader r;
    r.base = ABaseUrl;
    bool first = true;
    bool master = false;
    bool playlist = true;
    ForEachPlaylistLine(AText, [&](QStringView line) {
        if (first && line != u"#EXTM3U")
            return playlist = false;
        first = false;
        master = master || line.startsWith(u"#EXT-X-STREAM-INF:");
        if (line.startsWith(u'#'))
            r.readTag(line);
        else
            r.readSegmentUri(line);
        return true;
    });
    if (!playlist)
        return {};
    r.list.ok = !master && !r.list.segments.isEmpty();
    return r.list;
}

} // namespace halvora
