#pragma once

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QSet>
#include <QStringList>
#include <QTimer>
#include <algorithm>

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
// the segments of AFolder/vod.m3u8, which it reveals one at a time). With a window, it lists
// only the AWindow newest segments, as a live stream's sliding window does.
class LivePlaylist {
public:
    // AFolder's vod.m3u8 and segments, served below AUrlDir as AUrlDir + "live.m3u8".
    LivePlaylist(TestHttpServer& AServer, const QString& AFolder, const QString& AUrlDir = "/live/",
                 int ASegSeconds = 2, int AWindow = 0)
        : FServer(AServer), FUrlDir(AUrlDir), FSegSeconds(ASegSeconds), FWindow(AWindow) {
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
    int shown() const { return FShown; } // segments revealed so far
    // No more segments are revealed.
    void freeze() { FTimer.stop(); }
    // ASegments more revealed at once: with a window, those that slide out at once were never
    // listed to anyone.
    void skip(int ASegments) {
        FShown = std::min(static_cast<int>(FSegments.size()), FShown + ASegments);
        publish();
    }
    // The stream ends with the segments it lists now (EXT-X-ENDLIST).
    void end() {
        freeze();
        FEnded = true;
        publish();
    }

private:
    void publish() {
        const int first = FWindow > 0 ? std::max(0, FShown - FWindow) : 0;
        QByteArray body =
            "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + QByteArray::number(FSegSeconds) +
            "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(first) + "\n";
        for (int i = first; i < FShown; ++i)
            body += FSegments[i].toUtf8();
        if (FEnded)
            body += "#EXT-X-ENDLIST\n";
        TestHttpServer::Reply r;
        r.body = body;
        r.headers = {{"Content-Type", "application/vnd.apple.mpegurl"}};
        FServer.route(FUrlDir + "live.m3u8", r);
    }
    TestHttpServer& FServer;
    QString FUrlDir;
    int FSegSeconds;
    int FWindow;
    QStringList FSegments;
    int FShown = 0;
    bool FEnded = false;
    QTimer FTimer;
};

} // namespace halvora::test
