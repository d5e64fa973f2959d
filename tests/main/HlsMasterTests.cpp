// The master-playlist reader and the choice of a variant, on playlists written here.
#include "HlsMaster.h"
#include "HlsSubtitles.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

const QString kBase = QStringLiteral("https://cdn.example/show/master.m3u8?token=1");

QByteArray Master() {
    return "\xEF\xBB\xBF#EXTM3U\r\n"
           "#EXT-X-VERSION:6\r\n"
           "#EXT-X-INDEPENDENT-SEGMENTS\r\n"
           "#EXT-X-SOMETHING-NEW:FOO=1\r\n"
           "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"English, main\",LANGUAGE=\"en\","
           "AUTOSELECT=YES,URI=\"audio/en.m3u8\"\r\n"
           "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"Deutsch\",LANGUAGE=\"de\","
           "DEFAULT=YES,URI=\"../dub/de.m3u8\"\r\n"
           "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"subs\",NAME=\"English\",URI=\"/subs/"
           "en.m3u8\"\r\n"
           "#EXT-X-STREAM-INF:BANDWIDTH=3200000,RESOLUTION=1280x720,CODECS=\"avc1.64001f,mp4a.40."
           "2\","
           "FRAME-RATE=29.970,AUDIO=\"aac\",SUBTITLES=\"subs\"\r\n"
           "720p/index.m3u8\r\n"
           "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=90000,URI=\"iframes.m3u8\"\r\n"
           "# a comment\r\n"
           "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,AUDIO=\"aac\"\r\n"
           "\r\n"
           "https://other.example/360p.m3u8\r\n"
           "#EXT-X-STREAM-INF:BANDWIDTH=6000000,RESOLUTION=1280x720\r\n"
           "../hi/720p.m3u8\r\n"
           "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.2\"\r\n"
           "audio-only.m3u8\r\n";
}

} // namespace

TEST(HlsMaster, ReadsVariantsRenditionsAndResolvesUris) {
    const HlsPlaylist p = ReadHlsPlaylist(Master(), kBase);
    ASSERT_TRUE(p.isMaster());
    ASSERT_EQ(p.variants.size(), 4);
    const HlsVariant& v = p.variants[0];
    EXPECT_EQ(v.uri, "https://cdn.example/show/720p/index.m3u8");
    EXPECT_EQ(v.bandwidth, 3200000);
    EXPECT_EQ(v.width, 1280);
    EXPECT_EQ(v.height, 720);
    EXPECT_EQ(v.codecs, "avc1.64001f,mp4a.40.2");
    EXPECT_DOUBLE_EQ(v.frameRate, 29.97);
    EXPECT_EQ(v.audioGroup, "aac");
    EXPECT_EQ(v.subtitlesGroup, "subs");
    EXPECT_EQ(p.variants[1].uri, "https://other.example/360p.m3u8");
    EXPECT_EQ(p.variants[2].uri, "https://cdn.example/hi/720p.m3u8");
    EXPECT_EQ(p.variants[3].width, 0);

    ASSERT_EQ(p.renditions.size(), 3);
    EXPECT_EQ(p.renditions[0].name, "English, main");
    EXPECT_EQ(p.renditions[0].language, "en");
    EXPECT_EQ(p.renditions[0].uri, "https://cdn.example/show/audio/en.m3u8");
    EXPECT_FALSE(p.renditions[0].isDefault);
    EXPECT_TRUE(p.renditions[0].autoSelect);
    EXPECT_EQ(p.renditions[1].uri, "https://cdn.example/dub/de.m3u8");
    EXPECT_TRUE(p.renditions[1].isDefault);
    EXPECT_EQ(p.renditions[2].type, "SUBTITLES");
    EXPECT_EQ(p.renditions[2].uri, "https://cdn.example/subs/en.m3u8");

    // The default member of the group, and none for a variant without a group.
    EXPECT_EQ(AudioRenditionOf(p, p.variants[0]), 1);
    EXPECT_EQ(AudioRenditionOf(p, p.variants[2]), -1);
}

TEST(HlsMaster, LocalPlaylistUrisAndOtherSchemes) {
    const QByteArray text = "#EXTM3U\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=1\nlow/a.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=2\n../up/b.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=3\n/abs/c.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=4\nfile:///etc/d.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=5\nhttps://h.example/e.m3u8\n";
    const HlsPlaylist p = ReadHlsPlaylist(text, "/rec/show/local.m3u8");
    ASSERT_EQ(p.variants.size(), 5);
    EXPECT_EQ(p.variants[0].uri, "/rec/show/low/a.m3u8");
    EXPECT_EQ(p.variants[1].uri, "/rec/up/b.m3u8");
    EXPECT_EQ(p.variants[2].uri, "/abs/c.m3u8");
    EXPECT_EQ(p.variants[3].uri, "/etc/d.m3u8");
    EXPECT_EQ(p.variants[4].uri, "https://h.example/e.m3u8");

    // A remote master may name only links: file:, data: and the like are never fetched.
    const QByteArray remote = "#EXTM3U\n"
                              "#EXT-X-STREAM-INF:BANDWIDTH=9000000,RESOLUTION=1920x1080\n"
                              "file:///etc/passwd\n"
                              "#EXT-X-STREAM-INF:BANDWIDTH=8000000,RESOLUTION=1920x1080\n"
                              "data:application/x-mpegurl,xyz\n"
                              "#EXT-X-STREAM-INF:BANDWIDTH=100000,RESOLUTION=320x180\n"
                              "ok.m3u8\n";
    const HlsPlaylist r = ReadHlsPlaylist(remote, kBase);
    ASSERT_EQ(r.variants.size(), 3);
    EXPECT_EQ(VariantOrder(r, {}), QList<int>({2}));
}

TEST(HlsMaster, AttributeLists) {
    struct Case {
        const char* text;
        QList<QPair<QString, QString>> attrs;
    };
    const QList<Case> cases = {
        {"A=1,B=\"x,y\",C=z", {{"A", "1"}, {"B", "x,y"}, {"C", "z"}}},
        {"codecs=\"avc1,mp4a\"", {{"CODECS", "avc1,mp4a"}}},
        {"A=\"unterminated, still", {{"A", "unterminated, still"}}},
        {"NOVALUE,B=2", {{"B", "2"}}},
        {"A=\"q\"junk,B=3", {{"A", "q"}, {"B", "3"}}},
        {",,=4, A = 5 ", {{"A", "5"}}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAttributeList(QString::fromUtf8(c.text)), c.attrs) << c.text;
}

TEST(HlsMaster, MediaPlaylistsAndNonPlaylistsHaveNoVariants) {
    const QList<QByteArray> texts = {
        "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg0.ts\n#EXT-X-ENDLIST\n",
        // Stream tags inside a media playlist: read as today (ffmpeg decides).
        "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\na.m3u8\n#EXTINF:2,\nseg0.ts\n",
        "<html>not found</html>\n#EXT-X-STREAM-INF:BANDWIDTH=1\na.m3u8\n", "",
        "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", // no URI line
    };
    for (const QByteArray& t : texts)
        EXPECT_FALSE(ReadHlsPlaylist(t, kBase).isMaster()) << t.constData();
}

TEST(HlsMaster, ChoiceOrderAndLabels) {
    const HlsPlaylist p = ReadHlsPlaylist(Master(), kBase);
    // By resolution, then bandwidth: 720p 6M, 720p 3.2M, 360p, audio only.
    EXPECT_EQ(VariantsByQuality(p), QList<int>({2, 0, 1, 3}));
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Best, {}}), QList<int>({2, 0, 1, 3}));
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Smallest, {}}), QList<int>({3, 1, 0, 2}));
    // A chosen one, then the next best below it, then upwards.
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Variant, p.variants[0].uri}),
              QList<int>({0, 1, 3, 2}));
    // Read again with other URIs (a fresh token): found by its label.
    EXPECT_EQ(VariantOrder(
                  p, {QualityChoice::Variant, "https://x/360p.m3u8?token=2", "640x360, 800 kb/s"}),
              QList<int>({1, 3, 0, 2}));
    // By picture size alone (the command line's --quality WxH): the best of that size.
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Variant, {}, "640x360"}), QList<int>({1, 3, 0, 2}));
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Variant, {}, "1280x720"}), QList<int>({2, 0, 1, 3}));
    // A choice no longer in the playlist counts as Best.
    EXPECT_EQ(VariantOrder(p, {QualityChoice::Variant, "https://gone/x.m3u8"}),
              QList<int>({2, 0, 1, 3}));

    EXPECT_EQ(VariantLabel(p.variants[0]), "1280x720, 3.2 Mb/s");
    EXPECT_EQ(VariantLabel(p.variants[3]), "64 kb/s");
    HlsVariant bare;
    bare.uri = "https://x/y/low.m3u8";
    EXPECT_EQ(VariantLabel(bare), "low.m3u8");
    const HlsPlaylist bad = ReadHlsPlaylist(
        "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=-5,RESOLUTION=99999999x1,FRAME-RATE=abc\nv.m3u8\n",
        kBase);
    ASSERT_EQ(bad.variants.size(), 1);
    EXPECT_EQ(bad.variants[0].bandwidth, 0);
    EXPECT_EQ(bad.variants[0].width, 0);
    EXPECT_EQ(bad.variants[0].frameRate, 0);
}

TEST(WebVtt, CuesArePlacedOnTheVideosTimeline) {
    // LOCAL 10 s is the MPEG-TS clock's 20 s; the video begins at 12 s: a cue at 10.5 s plays at
    // 8.5 s. An identifier, a NOTE, a STYLE block and a malformed timing are read past.
    const QByteArray seg = "\xEF\xBB\xBFWEBVTT\r\nX-TIMESTAMP-MAP=MPEGTS:1800000,LOCAL:00:00:10.000"
                           "\r\n\r\nNOTE hi\r\n\r\nSTYLE\r\n::cue { color: red }\r\n\r\nid-1\r\n"
                           "00:00:10.500 --> 00:00:11.000 line:0\r\nOne\r\ntwo\r\n\r\n"
                           "00:11.000 --> 00:10.000\r\nbackwards\r\n\r\n"
                           "00:00:1.0 --> 00:00:02.000\r\nmalformed\r\n";
    QList<VttCue> cues = ReadVttSegment(seg, 12 * 90000);
    ASSERT_EQ(cues.size(), 1);
    EXPECT_EQ(cues[0].startMs, 8500);
    EXPECT_EQ(cues[0].endMs, 9000);
    EXPECT_EQ(cues[0].settings, "line:0");
    EXPECT_EQ(cues[0].text, "One\ntwo");

    // Segments written after the 33-bit clock wrapped still follow a video that began before.
    const qint64 nearWrap = (qint64(1) << 33) - 90000; // 1 s before the wrap
    cues = ReadVttSegment("WEBVTT\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:90000\n\n"
                          "00:00.000 --> 00:01.000\nafter\n",
                          nearWrap);
    ASSERT_EQ(cues.size(), 1);
    EXPECT_EQ(cues[0].startMs, 2000);

    // Without a map the times are the stream's own; with an unreadable one nothing is trusted.
    EXPECT_EQ(ReadVttSegment("WEBVTT\n\n00:03.000 --> 00:04.000\nx\n", 99 * 90000)[0].startMs,
              3000);
    EXPECT_TRUE(ReadVttSegment("WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:x,LOCAL:00:00:00.000\n\n"
                               "00:03.000 --> 00:04.000\nx\n",
                               0)
                    .isEmpty());
    EXPECT_TRUE(ReadVttSegment("00:03.000 --> 00:04.000\nno header\n", 0).isEmpty());
}

TEST(WebVtt, JoinedInOrderWithoutRepeatsWithinTheRecording) {
    const QList<VttCue> cues{{3000, 4000, {}, "c"}, {-500, 700, {}, "cut"},
                             {1000, 2000, {}, "b"}, {-900, -100, {}, "gone"},
                             {1000, 2000, {}, "b"}, {9000, 9500, {}, "late"}};
    EXPECT_EQ(WriteVtt(cues, 5000), "WEBVTT\n\n00:00:00.000 --> 00:00:00.700\ncut\n"
                                    "\n00:00:01.000 --> 00:00:02.000\nb\n"
                                    "\n00:00:03.000 --> 00:00:04.000\nc\n");
    EXPECT_TRUE(WriteVtt(cues).contains("00:00:09.000 --> 00:00:09.500\nlate\n"));
    EXPECT_EQ(WriteVtt({{3723004, 3723005, "align:end", "t"}}),
              "WEBVTT\n\n01:02:03.004 --> 01:02:03.005 align:end\nt\n");
}

TEST(WebVtt, RenditionsAreReadWhole) {
    QMap<QString, QByteArray> files{
        {"https://h/s/en.m3u8", "#EXTM3U\n#EXTINF:2,\nen0.vtt\n#EXTINF:2,\n../en1.vtt\n"
                                "#EXT-X-ENDLIST\n"},
        {"https://h/s/en0.vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\nA\n"},
        {"https://h/en1.vtt",
         "WEBVTT\n\n00:01.000 --> 00:02.000\nA\n\n00:03.000 --> 00:04.000\nB\n"},
        {"https://h/s/live.m3u8", "#EXTM3U\n#EXTINF:2,\nen0.vtt\n"},
        {"https://h/s/local.m3u8", "#EXTM3U\n#EXTINF:2,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n"},
        {"https://h/s/gap.m3u8", "#EXTM3U\n#EXTINF:2,\nen0.vtt\n#EXTINF:2,\nnone.vtt\n"
                                 "#EXT-X-ENDLIST\n"}};
    QStringList asked;
    const PlaylistFetcher fetch = [&](const QString& AUri) {
        asked << AUri;
        PlaylistText t;
        t.ok = files.contains(AUri);
        t.body = files.value(AUri);
        t.error = t.ok ? QString() : QStringLiteral("HTTP 404");
        return t;
    };
    QByteArray vtt;
    QString error;
    ASSERT_TRUE(FetchVttRendition("https://h/s/en.m3u8", fetch, 0, 0, &vtt, &error));
    EXPECT_EQ(vtt,
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nA\n\n00:00:03.000 --> 00:00:04.000\nB\n");
    // A live rendition is not read past its playlist; nor a segment that is no link.
    asked.clear();
    EXPECT_FALSE(FetchVttRendition("https://h/s/live.m3u8", fetch, 0, 0, &vtt, &error));
    EXPECT_EQ(asked, QStringList{"https://h/s/live.m3u8"});
    EXPECT_FALSE(FetchVttRendition("https://h/s/local.m3u8", fetch, 0, 0, &vtt, &error));
    EXPECT_FALSE(asked.contains("file:///etc/passwd"));
    EXPECT_FALSE(FetchVttRendition("https://h/s/gap.m3u8", fetch, 0, 0, &vtt, &error));
    EXPECT_EQ(error, "HTTP 404");
}

TEST(WebVtt, LanguagesAsMp4KeepsThem) {
    EXPECT_EQ(Mp4Language("en"), "eng");
    EXPECT_EQ(Mp4Language("fr-CA"), "fra");
    EXPECT_EQ(Mp4Language("DE"), "deu");
    EXPECT_EQ(Mp4Language("deu"), "deu");
    EXPECT_EQ(Mp4Language("und"), "");
    EXPECT_EQ(Mp4Language("x"), "");
    EXPECT_EQ(Mp4Language(""), "");
}
