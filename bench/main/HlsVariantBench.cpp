// Bytes a link to a five-variant master playlist moves over loopback HTTPS: the download as
// ffmpeg does it when handed the master playlist, against the download of the chosen variant
// with its audio rendition. Both are compared with the bytes of that variant and its audio
// (playlists and segments). Goal: the chosen download at most 1.05 times those.
//
//   bench_hls_variants [SECONDS]      (default 20)
#include "Conversion.h"
#include "FakeView.h"
#include "HttpClient.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

using namespace halvora;
using halvora::test::TestHttpServer;

namespace {

// Bytes the server sent for the requests it logged (whole files; each request counted).
qint64 BytesServed(const TestHttpServer& ASrv, const QString& ARoot) {
    qint64 sum = 0;
    for (const auto& r : ASrv.requests()) {
        const QString path = QString::fromUtf8(r.path).section(u'?', 0, 0);
        if (path.startsWith(QLatin1String("/hls/")))
            sum += QFileInfo(ARoot + path.mid(4)).size();
    }
    return sum;
}

qint64 FolderBytes(const QString& ADir) {
    qint64 sum = 0;
    QDirIterator it(ADir, QDir::Files);
    while (it.hasNext())
        sum += QFileInfo(it.next()).size();
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    HttpGlobalInit();
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20;
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/master";
    const QList<QSize> sizes = {QSize(256, 144), QSize(426, 240), QSize(640, 360), QSize(854, 480),
                                QSize(1280, 720)};
    std::printf("making a master playlist of %d variants, %d s each...\n", int(sizes.size()),
                seconds);
    if (!halvora::test::MakeHlsMaster(root, sizes, seconds)) {
        std::fprintf(stderr, "could not make the playlists\n");
        return 1;
    }
    TestHttpServer srv;
    srv.exportServiceEnv();
    srv.serveFolder("/hls/", root);
    const QString link = srv.url("/hls/master.m3u8");
    const QString ffmpeg = halvora::test::FixtureFFmpeg();

    QElapsedTimer t;
    halvora::test::FakeView view;
    ConversionFlow flow(view, {}, [&] { return ffmpeg; });

    // As before: ffmpeg reads the master playlist itself.
    srv.clearRequests();
    t.start();
    RunOptions quiet;
    quiet.onStderrLine = [](const QString&) {};
    RunCommand(DownloadCommand(ffmpeg, link, tmp.path() + "/all.ts"), quiet);
    const qint64 allMs = t.elapsed();
    const qint64 all = BytesServed(srv, root);

    std::printf("%-22s %14s %14s %9s %8s\n", "choice", "moved (B)", "variant+audio", "ratio",
                "time");
    std::printf("%-22s %14lld %14s %9s %6lld ms\n", "master to ffmpeg", (long long)all, "-", "-",
                (long long)allMs);
    const qint64 audio = FolderBytes(root + "/audio");
    qint64 every = audio;
    for (const QSize& s : sizes)
        every += FolderBytes(root + QStringLiteral("/v%1x%2").arg(s.width()).arg(s.height()));
    std::printf("%-22s %14lld\n", "every variant + audio", (long long)every);
    for (int k = 0; k < 2; ++k) {
        view.choice = {k == 0 ? QualityChoice::Best : QualityChoice::Smallest, {}};
        const QSize size = k == 0 ? sizes.last() : sizes.first();
        srv.clearRequests();
        t.restart();
        int missing = 0;
        const int rc = flow.DownloadStream(link, tmp.path() + "/one.ts", &missing).code;
        const qint64 ms = t.elapsed();
        const qint64 moved = BytesServed(srv, root);
        const qint64 own =
            FolderBytes(root + QStringLiteral("/v%1x%2").arg(size.width()).arg(size.height())) +
            audio;
        std::printf("%-22s %14lld %14lld %9.3f %6lld ms%s\n",
                    (k == 0 ? "Best (1280x720)" : "Smallest (256x144)"), (long long)moved,
                    (long long)own, double(moved) / double(own), (long long)ms,
                    rc == 0 ? "" : "  (download failed)");
        if (k == 0)
            std::printf("%-22s %14s %14lld %9.3f\n", "  master / Best", "", (long long)own,
                        double(all) / double(own));
    }
    return 0;
}
