// Halvora's own segment fetcher (StreamFetch on SegmentFetcher, the program's rules: 6 at once)
// against ffmpeg's HLS reader and curl, over loopback HTTP with each connection throttled to
// 1 MB/s. The VOD is 30 minutes of 720p in 2 s segments: one segment encoded once and served
// under every segment's URI. Goals: Halvora's download at most 0.3 times ffmpeg's; bytes the
// server sent at most 1.01 times the segments' bytes; CPU time at most 1.2 times curl's for the
// same URLs; on a 10,000-segment playlist (tiny segments, no throttle) the fetch's memory grows
// by at most 64 MiB.
//
//   bench_fetch [SEGMENTS]     (default 900: 30 minutes)
//   bench_fetch fetch URL DIR  the fetch alone, in a process of its own, so its memory is its own
#include "HttpClient.h"
#include "StreamFetch.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtMath>

#include <cstdio>
#include <sys/resource.h>

using namespace halvora;
using halvora::test::TestHttpServer;

namespace {

constexpr qint64 kRate = 1'000'000; // bytes a second, each connection
constexpr int kMemorySegments = 10'000;

// A field of /proc/self/status in KiB.
qint64 StatusKb(const char* AField) {
    const QList<QByteArray> lines = halvora::test::ReadAll("/proc/self/status").split('\n');
    for (const QByteArray& l : lines)
        if (l.startsWith(AField))
            return l.mid(qsizetype(qstrlen(AField)) + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

int FetchOnly(const QString& AUrl, const QString& ADir) {
    HttpGlobalInit();
    const qint64 before = StatusKb("VmRSS");
    QString line; // the progress line, as the window would show it
    StreamFetch fetch(FetchRules(), ADir, {},
                      [&](const FetchTally& ATally) { line = FetchProgressText(ATally); });
    StreamFetchResult r;
    if (fetch.open({AUrl}, &r))
        r = fetch.run();
    std::printf("rss_kb=%lld hwm_kb=%lld segments=%d missing=%d\n%s\n", (long long)before,
                (long long)StatusKb("VmHWM"), r.segments, r.missing, qPrintable(line));
    return r.kind == StreamFetchResult::Complete ? 0 : 1;
}

double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One run of a program: its wall time, CPU time, the bytes the server sent, what it printed.
struct Run {
    double seconds = 0, cpu = 0;
    qint64 sent = 0;
    int code = -1;
    QByteArray out;
};

Run Measure(const TestHttpServer& ASrv, const QString& AProgram, const QStringList& AArgs) {
    Run r;
    const double cpu = ChildCpuSeconds();
    const qint64 sent = ASrv.bytesSent();
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(AProgram, AArgs);
    p.waitForFinished(-1);
    r.seconds = double(t.elapsed()) / 1000.0;
    r.cpu = ChildCpuSeconds() - cpu;
    r.sent = ASrv.bytesSent() - sent;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    return r;
}

QByteArray Playlist(int ASegments, double ASeconds) {
    QByteArray list =
        "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + QByteArray::number(qCeil(ASeconds)) +
        "\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    for (int i = 0; i < ASegments; ++i)
        list += "#EXTINF:" + QByteArray::number(ASeconds, 'f', 3) + ",\nseg" +
                QByteArray::number(i) + ".ts\n";
    return list + "#EXT-X-ENDLIST\n";
}

// A server whose playlist lists ASegments segments, every one of them AFile.
void Serve(TestHttpServer& ASrv, const QString& AFile, int ASegments, double ASeconds) {
    ASrv.route("/vod/index.m3u8", TestHttpServer::Json(Playlist(ASegments, ASeconds)));
    ASrv.setDefaultReply(TestHttpServer::File(AFile));
}

bool MakeSegment(const QString& APath, const QString& ASize, const QString& ASeconds) {
    const QString picture = "testsrc2=size=" + ASize + ":rate=25:duration=" + ASeconds;
    return halvora::test::RunFixtureFFmpeg(
        QStringList{"-f",       "lavfi",   "-i",       picture,
                    "-f",       "lavfi",   "-i",       "sine=frequency=440:duration=" + ASeconds,
                    "-c:v",     "libx264", "-pix_fmt", "yuv420p",
                    "-g",       "50",      "-b:v",     "1M",
                    "-maxrate", "1M",      "-bufsize", "2M",
                    "-c:a",     "aac",     "-b:a",     "64k",
                    "-f",       "mpegts",  APath});
}

// A curl config fetching every segment into ADir.
QString CurlConfig(const TestHttpServer& ASrv, int ASegments, const QString& ADir) {
    QByteArray cfg;
    for (int i = 0; i < ASegments; ++i)
        cfg += "url = \"" + ASrv.url("/vod/seg" + QString::number(i) + ".ts").toUtf8() +
               "\"\noutput = \"" + (ADir + "/seg" + QString::number(i) + ".ts").toUtf8() + "\"\n";
    const QString path = ADir + ".cfg";
    halvora::test::WriteAll(path, cfg);
    return path;
}

void Report(const char* AName, const Run& AR, qint64 ASegmentBytes) {
    std::printf("%-26s %8.1f s %8.2f s CPU %12lld B (%.4fx the segments)%s\n", AName, AR.seconds,
                AR.cpu, (long long)AR.sent, double(AR.sent) / double(ASegmentBytes),
                AR.code == 0 ? "" : "  FAILED");
    std::fflush(stdout);
}

void Verdict(const char* AWhat, double AValue, double AGoal) {
    std::printf("%-44s %10.3f  goal <= %-8g %s\n", AWhat, AValue, AGoal,
                AValue <= AGoal ? "met" : "MISSED");
}

// The fetch's memory growth over a long playlist of tiny segments, unthrottled.
double MemoryGrowthMiB(const QString& ASelf, const QString& ATiny, const QString& ADir) {
    TestHttpServer big(TestHttpServer::Mode::Http);
    Serve(big, ATiny, kMemorySegments, 0.04);
    const Run many = Measure(big, ASelf, {"fetch", big.url("/vod/index.m3u8"), ADir});
    const QByteArray line = many.out.split('\n').value(0);
    std::printf("%d tiny segments: %.1f s, %s%s\n", kMemorySegments, many.seconds, line.constData(),
                many.code == 0 ? "" : "  FAILED");
    const QList<QByteArray> kb = line.split(' ');
    return double(kb.value(1).mid(7).toLongLong() - kb.value(0).mid(7).toLongLong()) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("fetch"))
        return FetchOnly(args.value(2), args.value(3));
    const int segments = args.size() > 1 ? args[1].toInt() : 900;
    QTemporaryDir tmp;
    const QString seg = tmp.path() + "/seg.ts", tiny = tmp.path() + "/tiny.ts";
    std::printf("making a 2 s 720p segment and a tiny one...\n");
    if (!MakeSegment(seg, "1280x720", "2") || !MakeSegment(tiny, "64x64", "0.04"))
        return 1;
    const qint64 segmentBytes = QFileInfo(seg).size() * segments;
    std::printf("%d segments of %lld B: %lld B, %d:%02d of video\n", segments,
                (long long)QFileInfo(seg).size(), (long long)segmentBytes, segments * 2 / 60,
                segments * 2 % 60);
    TestHttpServer srv(TestHttpServer::Mode::Http);
    Serve(srv, seg, segments, 2.0);
    srv.setBytesPerSecond(kRate);
    const QString link = srv.url("/vod/index.m3u8");
    const QString self = QCoreApplication::applicationFilePath();

    const Run own = Measure(srv, self, {"fetch", link, tmp.path() + "/own"});
    Report("Halvora (6 at once)", own, segmentBytes);
    std::printf("  %s", own.out.constData());
    QDir(tmp.path() + "/own").removeRecursively();
    const QString cfg = CurlConfig(srv, segments, tmp.path() + "/curl");
    QDir().mkpath(tmp.path() + "/curl");
    const Run curl =
        Measure(srv, "curl", {"-s", "-f", "--parallel", "--parallel-max", "6", "-K", cfg});
    Report("curl --parallel-max 6", curl, segmentBytes);
    QDir(tmp.path() + "/curl").removeRecursively();
    const Run reader =
        Measure(srv, halvora::test::FixtureFFmpeg(),
                {"-v", "error", "-y", "-i", link, "-c", "copy", tmp.path() + "/ff.ts"});
    Report("ffmpeg -i LINK -c copy", reader, segmentBytes);
    // ffmpeg's reader opens the next segment while it reads one (http_multiple, on for HTTP/1.1
    // servers): two connections. One, for comparison.
    const Run single = Measure(srv, halvora::test::FixtureFFmpeg(),
                               {"-v", "error", "-y", "-http_multiple", "0", "-i", link, "-c",
                                "copy", tmp.path() + "/ff.ts"});
    Report("  the same, -http_multiple 0", single, segmentBytes);
    QFile::remove(tmp.path() + "/ff.ts");

    const double growth = MemoryGrowthMiB(self, tiny, tmp.path() + "/big");
    std::printf("\n");
    Verdict("Halvora's time / ffmpeg's", own.seconds / reader.seconds, 0.3);
    Verdict("  / ffmpeg's on one connection", own.seconds / single.seconds, 0.3);
    Verdict("bytes sent to Halvora / segments' bytes", double(own.sent) / double(segmentBytes),
            1.01);
    Verdict("memory growth, 10,000 segments (MiB)", growth, 64);
    Verdict("Halvora's CPU / curl's", own.cpu / curl.cpu, 1.2);
    return own.code == 0 ? 0 : 1;
}
