#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace halvora {

// One stream of the first input as "ffmpeg -i" lists it on stderr.
struct StreamEntry {
    int index = -1;   // N of "Stream #0:N"
    QString kind;     // "Video", "Audio", "Subtitle", "Data", "Attachment"
    QString codec;    // "h264", "aac", "dvb_subtitle", "webvtt", ...
    QString language; // "eng"; empty when untagged
    QString title;    // the stream's title tag
    bool attachedPicture = false;
    int width = 0; // video only
    int height = 0;
    QList<int> programs; // the programs that list the stream
    QString rendition;   // of an HLS playlist: the NAME of the EXT-X-MEDIA rendition it comes from
    QStringList flags;   // dispositions as ffmpeg names them: "visual_impaired", "default"
};

// The streams of input #0 in index order (a stream listed under several programs appears once).
QList<StreamEntry> ParseStreamList(const QString& AListing);

// What goes into an MP4 from an input's streams.
struct StreamPlan {
    bool known = false; // the listing named at least one stream
    QList<int> video;   // indexes in input order, attached pictures left out
    QList<int> audio;
    QList<int> textSubs; // kept as mov_text
    QList<int> other;    // what MP4 cannot hold but a TS can (bitmap subtitles, data)
    QStringList leftOut; // kinds MP4 cannot hold, each once ("DVB subtitles", "data streams")
};

// Of several programs (HLS variants, the services of a broadcast mux) only the one holding the
// largest picture is taken, as ffmpeg itself would pick it; everything else of the input is,
// except that of several HLS audio renditions only the default one (else the first) is taken.
StreamPlan PlanMp4Streams(const QList<StreamEntry>& AStreams);

// The text subtitle codecs the MP4 muxer takes once converted to mov_text.
bool IsTextSubtitle(const QString& ACodec);

// "DVB subtitles were not kept: MP4 cannot hold them"; empty for an empty list.
QString LeftOutSentence(const QStringList& AKinds);

// Adds AKinds to AInto, each at most once, keeping the first order.
void MergeKinds(QStringList& AInto, const QStringList& AKinds);

} // namespace halvora
