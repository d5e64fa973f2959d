// The master-playlist reader and the choice of a variant, on playlists written here.
#include "HlsMaster.h"

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
