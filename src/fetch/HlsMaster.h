#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>
#include <functional>

namespace halvora {

// One quality of a master playlist (#EXT-X-STREAM-INF and the URI line after it).
struct HlsVariant {
    QString uri; // resolved against the master playlist's address
    qint64 bandwidth = 0;
    qint64 averageBandwidth = 0;
    int width = 0; // 0 x 0 when RESOLUTION is absent or malformed
    int height = 0;
    QString codecs;
    double frameRate = 0;
    QString audioGroup;     // AUDIO
    QString subtitlesGroup; // SUBTITLES
};

// An alternative rendition (#EXT-X-MEDIA).
struct HlsRendition {
    QString type; // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS (as written, upper-cased)
    QString groupId;
    QString name;
    QString language;
    QString uri; // resolved; empty when the rendition is carried in the variant itself
    bool isDefault = false;
    bool autoSelect = false;
};

// What a playlist lists. A media playlist (segments, no variants) gives no variants.
struct HlsPlaylist {
    bool extM3u = false; // begins with #EXTM3U
    QList<HlsVariant> variants;
    QList<HlsRendition> renditions;
    bool isMaster() const { return !variants.isEmpty(); }
};

// Calls ALine with each non-empty line of a playlist, trimmed (a UTF-8 BOM dropped; LF, CRLF
// and a lone CR end lines), until it returns false.
void ForEachPlaylistLine(const QByteArray& AText, const std::function<bool(QStringView)>& ALine);

// Reads the master-playlist tags of AText; APlaylistUrl (a link or a local path) is the base
// of relative URIs. Unknown tags and malformed lines are skipped; a UTF-8 BOM and CRLF are read.
HlsPlaylist ReadHlsPlaylist(const QByteArray& AText, const QString& APlaylistUrl);

// An attribute list ("NAME=value,NAME="quoted, with commas""): names with their values, quotes
// removed, in order.
QList<QPair<QString, QString>> ReadAttributeList(QStringView AText);
// The value of attribute AName (upper case) of a list ReadAttributeList read; empty when absent.
QString AttributeValue(const QList<QPair<QString, QString>>& AAttrs, QLatin1String AName);

// AUri read against ABase: a link or a local path (absolute, or relative to ABase's folder).
QString ResolveHlsUri(const QString& ABase, const QString& AUri);

// "1280x720, 3.2 Mb/s"; "128 kb/s" without a resolution; the file name with neither.
QString VariantLabel(const HlsVariant& AVariant);

// The user's pick of a quality: the best (highest resolution, then highest bandwidth), the
// smallest, or one variant named by its URI (or, when a new reading of the playlist names it
// otherwise, as a token in its URI would, by its label or its picture size "WxH").
struct QualityChoice {
    enum Kind { Best, Smallest, Variant };
    QualityChoice() = default;
    QualityChoice(Kind AKind, QString AUri = {}, QString ALabel = {})
        : kind(AKind), uri(std::move(AUri)), label(std::move(ALabel)) {}
    Kind kind = Best;
    QString uri;   // for Variant
    QString label; // for Variant, as VariantLabel gives it
};

// The variants to try, in order: the chosen one first, then the next best below it, then
// those above it (lowest first). Variants whose URI cannot be fetched (no http(s) link or
// local path) are left out.
QList<int> VariantOrder(const HlsPlaylist& APlaylist, const QualityChoice& AChoice);

// The variants from best to smallest (usable ones only).
QList<int> VariantsByQuality(const HlsPlaylist& APlaylist);

// The audio rendition a variant plays with: of its AUDIO group, the DEFAULT=YES one, else the
// first. -1 when the variant names no group or the group has no member.
int AudioRenditionOf(const HlsPlaylist& APlaylist, const HlsVariant& AVariant);

} // namespace halvora
