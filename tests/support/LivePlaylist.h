#pragma once

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QSet>
#include <QStringList>
#include <QTimer>

namespace halvora::test {

// The names of the segment files requested (ffmpeg may ask for one more than once).
inline QSet<QString> SegmentsServed(const TestHttpServer& AServer) {
    QSet<QString> names;
    for (const auto& r : AServer.requests())
        if (r.path.endsWith(".ts"))
            names << QString::fromUtf8(r.path).section('/', -1);
    return names;
}

// A playlist without an end whose segment list grows by one every ASegSeconds (the length of
// the segments of AFolder/vod.m3u8, which it reveals one at a time).
class LivePlaylist {
public:
    // AFolder's vod.m3u8 and segments, served below AUrlDir as AUrlDir + "live.m3u8".
    LivePlaylist(TestHttpServer& AServer, const QString& AFolder, const QString& AUrlDir = "/live/",
                 int ASegSeconds = 2)
        : FServer(AServer), FUrlDir(AUrlDir), FSegSeconds(ASegSeconds) {
        const QStringList lines = QString::fromUtf8(ReadAll(AFolder + "/vod.m3u8")).split('\n');
        for (int i = 0; i + 1 < lines.size(); ++i)
            if (lines[i].startsWith("#EXTINF"))
                FSegments << lines[i] + "\n" + lines[i + 1] + "\n";
        AServer.serveFolder(AUrlDir, AFolder);
        FShown = 2;
        publish();
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (FShown < FSegments.size()) {
                ++FShown;
                publish();
            }
        });
        FTimer.start(ASegSeconds * 1000);
    }
    int segments() const { return static_cast<int>(FSegments.size()); }
    // No more segments are revealed.
    void freeze() { FTimer.stop(); }

private:
    void publish() {
        QByteArray body =
            "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + QByteArray::number(FSegSeconds) +
            "\n#EXT-X-MEDIA-SEQUENCE:0\n";
        for (int i = 0; i < FShown; ++i)
            body += FSegments[i].toUtf8();
        TestHttpServer::Reply r;
        r.body = body;
        r.headers = {{"Content-Type", "application/vnd.apple.mpegurl"}};
        FServer.route(FUrlDir + "live.m3u8", r);
    }
    TestHttpServer& FServer;
    QString FUrlDir;
    int FSegSeconds;
    QStringList FSegments;
    int FShown = 0;
    QTimer FTimer;
};

} // namespace halvora::test
