#include "FetchFixtures.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

namespace halvora::test {

namespace {

QStringList HlsOptions(const QStringList& AMore = {}) {
    return QStringList{"-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type",
                       "vod"} +
           AMore;
}

bool MakeAes(const QString& ADir) {
    QDir().mkpath(ADir + "/keys");
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    if (!WriteAll(ADir + "/keys/k.bin", key))
        return false;
    // No IV line: each segment's IV is its sequence number, as the playlist then implies.
    const QString info = ADir + "/keyinfo";
    WriteAll(info, ("/keys/k.bin\n" + ADir + "/keys/k.bin\n").toUtf8());
    if (!MakeVideo(ADir + "/index.m3u8", 6, 320, 240, true, 25,
                   HlsOptions({"-hls_key_info_file", info})))
        return false;
    // The same list with the key where ffmpeg finds it on disk, to decode for comparison.
    const QByteArray local =
        ReadAll(ADir + "/index.m3u8")
            .replace("\"/keys/k.bin\"", "\"" + ADir.toUtf8() + "/keys/k.bin\"");
    return WriteAll(ADir + "/reference.m3u8", local);
}

// Two halves, each with its timestamps starting at 0, in one playlist.
bool MakeDiscontinuity(const QString& ADir) {
    QByteArray list = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n"
                      "#EXT-X-PLAYLIST-TYPE:VOD\n";
    const QStringList halves{"a", "b"};
    for (const QString& h : halves) {
        const QString part = ADir + "/" + h + ".m3u8";
        if (!MakeVideo(part, 3, 320, 240, true, 25,
                       HlsOptions({"-hls_segment_filename", ADir + "/" + h + "%d.ts"})))
            return false;
        if (h == "b")
            list += "#EXT-X-DISCONTINUITY\n";
        for (const QString& line : QString::fromUtf8(ReadAll(part)).split('\n'))
            if (line.startsWith("#EXTINF") || line.endsWith(".ts"))
                list += line.toUtf8() + '\n';
    }
    return WriteAll(ADir + "/index.m3u8", list + "#EXT-X-ENDLIST\n");
}

bool Make(StreamKind AKind, const QString& ADir) {
    const QString list = ADir + "/index.m3u8";
    switch (AKind) {
    case StreamKind::Ts:
        return MakeHls(list, 6, 1);
    case StreamKind::Fmp4:
        return MakeVideo(
            list, 6, 320, 240, true, 25,
            HlsOptions({"-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4"}));
    case StreamKind::ByteRange:
        return MakeVideo(list, 6, 320, 240, true, 25, HlsOptions({"-hls_flags", "single_file"}));
    case StreamKind::Aes:
        return MakeAes(ADir);
    case StreamKind::Discontinuity:
        return MakeDiscontinuity(ADir);
    }
    return false;
}

} // namespace

QString StreamFixture(StreamKind AKind) {
    static QMap<StreamKind, QString> made;
    if (!made.contains(AKind)) {
        const QString dir = NewTempDir("stream");
        made[AKind] = Make(AKind, dir) ? dir : QString();
    }
    return made[AKind];
}

QString ReferencePlaylist(const QString& AFixture) {
    const QString reference = AFixture + "/reference.m3u8";
    return QFileInfo::exists(reference) ? reference : AFixture + "/index.m3u8";
}

QStringList DecodedFrames(const QString& AFile, const QString& AType) {
    QStringList args{"-v", "error"};
    if (AFile.endsWith(".m3u8"))
        args << "-allowed_extensions"
             << "ALL";
    args << "-i" << AFile << "-map"
         << "0:" + AType + ":0"
         << "-f"
         << "framemd5"
         << "-";
    QStringList sums;
    for (const QByteArray& line : RunTool(FixtureFFmpeg(), args).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            sums << QString::fromLatin1(line.split(',').last().trimmed());
    return sums;
}

} // namespace halvora::test
