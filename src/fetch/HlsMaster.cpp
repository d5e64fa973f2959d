#include "HlsMaster.h"

#include "Links.h"

#include <QDir>
#include <QUrl>

#include <algorithm>

namespace halvora {

namespace {

// Only links and local paths are handed on: a remote playlist must not name other schemes
// (file:, data:, ...) for ffmpeg to open.
bool IsFetchable(const QString& AUri) {
    return IsUrl(AUri) || AUri.startsWith(QLatin1Char('/'));
}

void ReadResolution(const QString& AText, int& AWidth, int& AHeight) {
    const qsizetype x = AText.indexOf(QLatin1Char('x'), 0, Qt::CaseInsensitive);
    if (x <= 0)
        return;
    bool okW = false;
    bool okH = false;
    const int w = AText.left(x).toInt(&okW);
    const int h = AText.mid(x + 1).toInt(&okH);
    // Sizes beyond any real picture are malformed; they would only distort the ranking.
    if (okW && okH && w > 0 && h > 0 && w <= 65535 && h <= 65535) {
        AWidth = w;
        AHeight = h;
    }
}

qint64 ReadCount(const QString& AText) {
    bool ok = false;
    const qint64 v = AText.toLongLong(&ok);
    return ok && v > 0 ? v : 0;
}

QString RateText(qint64 ABitsPerSecond) {
    if (ABitsPerSecond >= 1000000)
        return QStringLiteral("%1 Mb/s").arg(double(ABitsPerSecond) / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kb/s").arg((ABitsPerSecond + 500) / 1000);
}

} // namespace

QString AttributeValue(const QList<QPair<QString, QString>>& AAttrs, QLatin1String AName) {
    for (const auto& a : AAttrs)
        if (a.first == AName)
            return a.second;
    return {};
}

QList<QPair<QString, QString>> ReadAttributeList(QStringView AText) {
    QList<QPair<QString, QString>> attrs;
    qsizetype i = 0;
    const qsizetype n = AText.size();
    while (i < n) {
        while (i < n && (AText[i] == u' ' || AText[i] == u'\t'))
            ++i;
        const qsizetype nameStart = i;
        while (i < n && AText[i] != u'=' && AText[i] != u',')
            ++i;
        const QString name = AText.mid(nameStart, i - nameStart).trimmed().toString().toUpper();
        if (i >= n || AText[i] == u',') { // a name without a value: skipped
            ++i;
            continue;
        }
        ++i; // '='
        QString value;
        if (i < n && AText[i] == u'"') {
            const qsizetype close = AText.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            value = AText.mid(i + 1, end - i - 1).toString();
            i = close < 0 ? n : close + 1;
            while (i < n && AText[i] != u',') // stray text after the closing quote
                ++i;
        } else {
            const qsizetype start = i;
            while (i < n && AText[i] != u',')
                ++i;
            value = AText.mid(start, i - start).trimmed().toString();
        }
        ++i; // ','
        if (!name.isEmpty())
            attrs.append({name, value});
    }
    return attrs;
}

QString ResolveHlsUri(const QString& ABase, const QString& AUri) {
    if (IsUrl(ABase)) {
        const QUrl resolved = QUrl(ABase).resolved(QUrl(AUri));
        return resolved.toString(QUrl::FullyEncoded);
    }
    if (IsUrl(AUri))
        return AUri;
    const QUrl asUrl(AUri);
    if (asUrl.isLocalFile())
        return QDir::cleanPath(asUrl.toLocalFile());
    if (!asUrl.scheme().isEmpty() && asUrl.scheme().size() > 1) // another scheme: left as is
        return AUri;
    if (QDir::isAbsolutePath(AUri))
        return QDir::cleanPath(AUri);
    const QString folder = ABase.left(ABase.lastIndexOf(QLatin1Char('/')) + 1);
    return QDir::cleanPath(
        QDir(folder.isEmpty() ? QStringLiteral(".") : folder).absoluteFilePath(AUri));
}

namespace {

// The attributes of an EXT-X-STREAM-INF tag; its URI follows on the next line.
HlsVariant ReadVariant(QStringView AAttributes) {
    const auto attrs = ReadAttributeList(AAttributes);
    HlsVariant variant;
    variant.bandwidth = ReadCount(AttributeValue(attrs, QLatin1String("BANDWIDTH")));
    variant.averageBandwidth = ReadCount(AttributeValue(attrs, QLatin1String("AVERAGE-BANDWIDTH")));
    ReadResolution(AttributeValue(attrs, QLatin1String("RESOLUTION")), variant.width,
                   variant.height);
    variant.codecs = AttributeValue(attrs, QLatin1String("CODECS"));
    bool ok = false;
    const double rate = AttributeValue(attrs, QLatin1String("FRAME-RATE")).toDouble(&ok);
    variant.frameRate = ok && rate > 0 && rate < 1000 ? rate : 0;
    variant.audioGroup = AttributeValue(attrs, QLatin1String("AUDIO"));
    variant.subtitlesGroup = AttributeValue(attrs, QLatin1String("SUBTITLES"));
    return variant;
}

// An EXT-X-MEDIA tag; no type: not one to keep.
HlsRendition ReadRendition(QStringView AAttributes, const QString& APlaylistUrl) {
    const auto attrs = ReadAttributeList(AAttributes);
    HlsRendition r;
    r.type = AttributeValue(attrs, QLatin1String("TYPE")).toUpper();
    r.groupId = AttributeValue(attrs, QLatin1String("GROUP-ID"));
    r.name = AttributeValue(attrs, QLatin1String("NAME"));
    r.language = AttributeValue(attrs, QLatin1String("LANGUAGE"));
    const QString uri = AttributeValue(attrs, QLatin1String("URI"));
    if (!uri.isEmpty())
        r.uri = ResolveHlsUri(APlaylistUrl, uri);
    r.isDefault = AttributeValue(attrs, QLatin1String("DEFAULT")).toUpper() == u"YES";
    r.autoSelect = AttributeValue(attrs, QLatin1String("AUTOSELECT")).toUpper() == u"YES";
    return r;
}

} // namespace

void ForEachPlaylistLine(const QByteArray& AText, const std::function<bool(QStringView)>& ALine) {
    QByteArray bytes = AText;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QString text = QString::fromUtf8(bytes);
    for (QStringView raw : QStringView(text).split(u'\n')) {
        // CRLF, and a lone CR as some servers write it.
        for (QStringView piece : raw.split(u'\r')) {
            const QStringView line = piece.trimmed();
            if (!line.isEmpty() && !ALine(line))
                return;
        }
    }
}

HlsPlaylist ReadHlsPlaylist(const QByteArray& AText, const QString& APlaylistUrl) {
    HlsPlaylist list;
    bool pending = false;
    bool segments = false;
    HlsVariant variant;
    bool first = true;
    ForEachPlaylistLine(AText, [&](QStringView line) {
        if (first) {
            first = false;
            list.extM3u = line == u"#EXTM3U";
            if (list.extM3u)
                return true;
        }
        if (line.startsWith(u"#EXT-X-STREAM-INF:")) {
            variant = ReadVariant(line.mid(18));
            pending = true;
        } else if (line.startsWith(u"#EXT-X-MEDIA:")) {
            const HlsRendition r = ReadRendition(line.mid(13), APlaylistUrl);
            if (!r.type.isEmpty())
                list.renditions.append(r);
        } else if (line.startsWith(u"#EXTINF")) {
            segments = true;
        } else if (line.startsWith(u'#')) {
            // Unknown tags and comments.
        } else if (pending) {
            variant.uri = ResolveHlsUri(APlaylistUrl, line.toString());
            list.variants.append(variant);
            pending = false;
        }
        return true;
    });
    // Not a playlist, or a media playlist that also carries stream tags: read as today.
    if (!list.extM3u || segments) {
        list.variants.clear();
        list.renditions.clear();
    }
    return list;
}

QString VariantLabel(const HlsVariant& AVariant) {
    QStringList parts;
    if (AVariant.width > 0)
        parts << QStringLiteral("%1x%2").arg(AVariant.width).arg(AVariant.height);
    if (AVariant.bandwidth > 0)
        parts << RateText(AVariant.bandwidth);
    if (parts.isEmpty())
        return AVariant.uri.mid(AVariant.uri.lastIndexOf(QLatin1Char('/')) + 1);
    return parts.join(QStringLiteral(", "));
}

QList<int> VariantsByQuality(const HlsPlaylist& APlaylist) {
    QList<int> order;
    for (int i = 0; i < APlaylist.variants.size(); ++i)
        if (IsFetchable(APlaylist.variants[i].uri))
            order << i;
    std::stable_sort(order.begin(), order.end(), [&](int A, int B) {
        const HlsVariant& a = APlaylist.variants[A];
        const HlsVariant& b = APlaylist.variants[B];
        const qint64 pa = qint64(a.width) * a.height;
        const qint64 pb = qint64(b.width) * b.height;
        if (pa != pb)
            return pa > pb;
        return a.bandwidth > b.bandwidth;
    });
    return order;
}

QList<int> VariantOrder(const HlsPlaylist& APlaylist, const QualityChoice& AChoice) {
    const QList<int> ranked = VariantsByQuality(APlaylist);
    if (ranked.isEmpty())
        return {};
    qsizetype at = 0;
    if (AChoice.kind == QualityChoice::Smallest) {
        at = ranked.size() - 1;
    } else if (AChoice.kind == QualityChoice::Variant) {
        qsizetype byUri = -1;
        qsizetype byLabel = -1;
        for (qsizetype i = ranked.size() - 1; i >= 0; --i) {
            const HlsVariant& v = APlaylist.variants[ranked[i]];
            if (v.uri == AChoice.uri)
                byUri = i;
            // A label may also be the picture size alone ("1280x720").
            const QString size = QStringLiteral("%1x%2").arg(v.width).arg(v.height);
            if (!AChoice.label.isEmpty() &&
                (VariantLabel(v) == AChoice.label || (v.width > 0 && size == AChoice.label)))
                byLabel = i;
        }
        at = byUri >= 0 ? byUri : qMax<qsizetype>(byLabel, 0);
    }
    QList<int> order = ranked.mid(at);
    for (qsizetype i = at - 1; i >= 0; --i)
        order << ranked[i];
    return order;
}

int AudioRenditionOf(const HlsPlaylist& APlaylist, const HlsVariant& AVariant) {
    if (AVariant.audioGroup.isEmpty())
        return -1;
    int first = -1;
    for (int i = 0; i < APlaylist.renditions.size(); ++i) {
        const HlsRendition& r = APlaylist.renditions[i];
        if (r.type != u"AUDIO" || r.groupId != AVariant.audioGroup)
            continue;
        if (r.isDefault)
            return i;
        if (first < 0)
            first = i;
    }
    return first;
}

} // namespace halvora
