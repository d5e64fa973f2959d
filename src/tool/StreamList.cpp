#include "StreamList.h"

#include <QRegularExpression>
#include <QSet>

namespace halvora {

namespace {

// What the user reads for a stream MP4 cannot hold.
QString LeftOutKind(const StreamEntry& AStream) {
    const QString& c = AStream.codec;
    if (AStream.kind == QLatin1String("Subtitle")) {
        if (c == QLatin1String("dvb_subtitle"))
            return QStringLiteral("DVB subtitles");
        if (c == QLatin1String("dvb_teletext"))
            return QStringLiteral("teletext pages");
        if (c == QLatin1String("hdmv_pgs_subtitle"))
            return QStringLiteral("PGS subtitles");
        if (c == QLatin1String("dvd_subtitle"))
            return QStringLiteral("DVD subtitles");
        return c + QStringLiteral(" subtitles");
    }
    if (AStream.kind == QLatin1String("Data"))
        return c == QLatin1String("scte_35") ? QStringLiteral("SCTE-35 data")
                                             : QStringLiteral("data streams");
    if (AStream.kind == QLatin1String("Attachment"))
        return QStringLiteral("attachments");
    return AStream.kind.toLower() + QStringLiteral(" streams");
}

// A stream of the listing from its "Stream #0:N..." line.
StreamEntry StreamOfLine(const QRegularExpressionMatch& AMatch) {
    static const QRegularExpression sizeRe(QStringLiteral(R"(\b([1-9]\d*)x([1-9]\d*)\b)"));
    StreamEntry s;
    s.index = AMatch.captured(1).toInt();
    s.language = AMatch.captured(2);
    s.kind = AMatch.captured(3);
    s.codec = AMatch.captured(4);
    const QString rest = AMatch.captured(5);
    s.attachedPicture = rest.contains(QLatin1String("(attached pic)"));
    static const QRegularExpression flagRe(
        QStringLiteral(R"(\((default|dub|original|comment|lyrics|karaoke|forced|hearing impaired|)"
                       R"(visual impaired|clean effects|captions|descriptions)\))"));
    for (auto it = flagRe.globalMatch(rest); it.hasNext();)
        s.flags << it.next().captured(1).replace(QLatin1Char(' '), QLatin1Char('_'));
    if (s.kind == QLatin1String("Video"))
        if (const auto sz = sizeRe.match(rest); sz.hasMatch()) {
            s.width = sz.captured(1).toInt();
            s.height = sz.captured(2).toInt();
        }
    return s;
}

} // namespace

QList<StreamEntry> ParseStreamList(const QString& AListing) {
    static const QRegularExpression streamRe(QStringLiteral(
        R"(^\s*Stream #0:(\d+)(?:\[[^\]]*\])?(?:\(([^)]*)\))?: (\w+): ([^\s,]+)(.*)$)"));
    static const QRegularExpression programRe(QStringLiteral(R"(^\s*Program (\d+))"));
    static const QRegularExpression titleRe(QStringLiteral(R"(^\s+title\s*: (.*)$)"));
    static const QRegularExpression commentRe(QStringLiteral(R"(^\s+comment\s*: (.*)$)"));
    bool hls = false;

    QList<StreamEntry> streams;
    bool inFirst = false;
    int program = -1;
    int last = -1; // position in streams of the stream whose metadata may follow
    for (QString line : AListing.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1String("Input #"))) {
            inFirst = line.startsWith(QLatin1String("Input #0,"));
            hls = line.startsWith(QLatin1String("Input #0, hls,"));
            continue;
        }
        if (line.startsWith(QLatin1String("Output #")) ||
            line.startsWith(QLatin1String("Stream mapping:")))
            inFirst = false;
        if (!inFirst)
            continue;
        if (const auto m = programRe.match(line); m.hasMatch()) {
            program = m.captured(1).toInt();
            last = -1;
            continue;
        }
        if (line.trimmed() == QLatin1String("No Program")) {
            program = -1;
            last = -1;
            continue;
        }
        if (const auto m = streamRe.match(line); m.hasMatch()) {
            const int index = m.captured(1).toInt();
            last = -1;
            for (qsizetype i = 0; i < streams.size(); ++i)
                if (streams[i].index == index)
                    last = static_cast<int>(i);
            if (last < 0) {
                streams << StreamOfLine(m);
                last = static_cast<int>(streams.size() - 1);
            }
            if (program >= 0 && !streams[last].programs.contains(program))
                streams[last].programs << program;
            continue;
        }
        if (last < 0)
            continue;
        if (const auto m = titleRe.match(line); m.hasMatch() && streams[last].title.isEmpty())
            streams[last].title = m.captured(1);
        // ffmpeg's HLS reader names a rendition's streams by the rendition's NAME.
        if (const auto m = commentRe.match(line); hls && m.hasMatch())
            streams[last].rendition = m.captured(1);
    }
    std::sort(streams.begin(), streams.end(),
              [](const StreamEntry& A, const StreamEntry& B) { return A.index < B.index; });
    return streams;
}

bool IsTextSubtitle(const QString& ACodec) {
    static const QSet<QString> text{
        QStringLiteral("mov_text"),   QStringLiteral("subrip"),   QStringLiteral("srt"),
        QStringLiteral("webvtt"),     QStringLiteral("ass"),      QStringLiteral("ssa"),
        QStringLiteral("text"),       QStringLiteral("microdvd"), QStringLiteral("subviewer"),
        QStringLiteral("subviewer1"), QStringLiteral("sami"),     QStringLiteral("realtext"),
        QStringLiteral("vplayer"),    QStringLiteral("pjs"),      QStringLiteral("mpl2"),
        QStringLiteral("jacosub"),    QStringLiteral("stl")};
    return text.contains(ACodec);
}

StreamPlan PlanMp4Streams(const QList<StreamEntry>& AStreams) {
    StreamPlan plan;
    plan.known = !AStreams.isEmpty();
    QSet<int> programs;
    for (const StreamEntry& s : AStreams)
        if (s.kind == QLatin1String("Video") || s.kind == QLatin1String("Audio"))
            for (int p : s.programs)
                programs.insert(p);
    int chosen = -1;
    if (programs.size() > 1) {
        qint64 best = -1;
        for (const StreamEntry& s : AStreams)
            if (s.kind == QLatin1String("Video") && !s.attachedPicture && !s.programs.isEmpty() &&
                qint64(s.width) * s.height > best) {
                best = qint64(s.width) * s.height;
                chosen = s.programs.first();
            }
        for (const StreamEntry& s : AStreams)
            if (chosen < 0 && s.kind == QLatin1String("Audio") && !s.programs.isEmpty())
                chosen = s.programs.first();
    }
    // The one audio rendition: the default one, else the first.
    const QString audioKind = QStringLiteral("Audio");
    const QString defaultFlag = QStringLiteral("default");
    const StreamEntry* rendition = nullptr;
    for (const StreamEntry& s : AStreams) {
        if (s.kind != audioKind || s.rendition.isEmpty() ||
            (chosen >= 0 && !s.programs.contains(chosen)))
            continue;
        if (!rendition ||
            (s.flags.contains(defaultFlag) && !rendition->flags.contains(defaultFlag)))
            rendition = &s;
    }
    for (const StreamEntry& s : AStreams) {
        if (chosen >= 0 && !s.programs.contains(chosen))
            continue;
        if (s.kind == audioKind && !s.rendition.isEmpty() && &s != rendition)
            continue;
        if (s.kind == QLatin1String("Video")) {
            if (!s.attachedPicture)
                plan.video << s.index;
        } else if (s.kind == QLatin1String("Audio")) {
            plan.audio << s.index;
        } else if (s.kind == QLatin1String("Subtitle") && IsTextSubtitle(s.codec)) {
            plan.textSubs << s.index;
        } else {
            MergeKinds(plan.leftOut, {LeftOutKind(s)});
            if (s.kind == QLatin1String("Subtitle") || s.kind == QLatin1String("Data"))
                plan.other << s.index;
        }
    }
    return plan;
}

QString LeftOutSentence(const QStringList& AKinds) {
    if (AKinds.isEmpty())
        return {};
    QString list = AKinds.first();
    for (qsizetype i = 1; i < AKinds.size(); ++i)
        list +=
            (i + 1 == AKinds.size() ? QStringLiteral(" and ") : QStringLiteral(", ")) + AKinds[i];
    list[0] = list[0].toUpper();
    return list + QStringLiteral(" were not kept: MP4 cannot hold them");
}

void MergeKinds(QStringList& AInto, const QStringList& AKinds) {
    for (const QString& k : AKinds)
        if (!AInto.contains(k))
            AInto << k;
}

} // namespace halvora
