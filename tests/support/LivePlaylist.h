#pragma once

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QStringList>
#include <QTimer>

namespace halvora::test {

// A playlist without an end whose segment list grows by one every two seconds.
class LivePlaylist {
public:
    // AFolder's vod.m3u8 and segments, served below AUrlDir as AUrlDir + "live.m3u8".
    LivePlaylist(TestHttpServer& AServer, const QString& AFolder, const QString& AUrlDir = "/live/")
        : FServer(AServer), FUrlDir(AUrlDir) {
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
        FTimer.start(2000);
    }
    int segments() const { return static_cast<int>(FSegments.size()); }

private:
    void publish() {
        QByteArray body = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                          "#EXT-X-MEDIA-SEQUENCE:0\n";
        for (int i = 0; i < FShown; ++i)
            body += FSegments[i].toUtf8();
        TestHttpServer::Reply r;
        r.body = body;
        r.headers = {{"Content-Type", "application/vnd.apple.mpegurl"}};
        FServer.route(FUrlDir + "live.m3u8", r);
    }
    TestHttpServer& FServer;
    QString FUrlDir;
    QStringList FSegments;
    int FShown = 0;
    QTimer FTimer;
};

} // namespace halvora::test
