// DownloadFile of a large file over loopback HTTPS (size and SHA-256 verified) against
// `curl -o FILE URL` followed by `sha256sum FILE`, and the download's peak resident memory for
// a small and a large file. Each download runs in a child process of its own so that its peak
// memory is its own; the server runs in this process.
//
//   bench_download [BIG_MIB]      (default 1024; the small file is 64 MiB)
#include "Download.h"
#include "HttpClient.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <cstdio>
#include <sys/resource.h>
#include <vector>

using halvora::test::TestHttpServer;

namespace {

// A file of pseudo-random (incompressible) bytes; gives its SHA-256 as hex.
QString MakeFile(const QString& APath, qint64 AMib) {
    QFile f(APath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<quint64> buf((1 << 20) / 8);
    quint64 x = 0x9e3779b97f4a7c15ull;
    for (qint64 i = 0; i < AMib; ++i) {
        for (auto& w : buf) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        f.write(reinterpret_cast<const char*>(buf.data()), 1 << 20);
        EVP_DigestUpdate(ctx, buf.data(), 1 << 20);
    }
    unsigned char md[32];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    EVP_MD_CTX_free(ctx);
    return QString::fromLatin1(QByteArray(reinterpret_cast<char*>(md), int(len)).toHex());
}

int Client(const QStringList& AArgs) {
    halvora::HttpGlobalInit();
    QString err;
    QElapsedTimer t;
    t.start();
    const bool ok = halvora::DownloadFile(AArgs[0], AArgs[1], AArgs[2], AArgs[3].toLongLong(), err);
    const qint64 ms = t.elapsed();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%d %lld %ld %s\n", ok ? 1 : 0, static_cast<long long>(ms), ru.ru_maxrss,
                qPrintable(err));
    return ok ? 0 : 1;
}

struct Run {
    bool ok = false;
    qint64 ms = 0;
    qint64 sumMs = 0; // the sha256sum part of the curl run
    long rssKib = 0;
};

Run Ours(const QString& AUrl, const QString& ADest, const QString& ASha, qint64 ASize) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {"--client", AUrl, ADest, ASha, QString::number(ASize)});
    p.waitForFinished(-1);
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
    Run r;
    if (f.size() >= 3) {
        r.ok = f[0] == "1";
        r.ms = f[1].toLongLong();
        r.rssKib = f[2].toLong();
    }
    QFile::remove(ADest);
    return r;
}

Run Curl(const QString& AUrl, const QString& ADest, const QString& ASha) {
    QElapsedTimer t;
    t.start();
    Run r;
    QProcess curl;
    curl.start("curl", {"-sS", "--cacert", TestHttpServer::caFile(), "-o", ADest, AUrl});
    curl.waitForFinished(-1);
    const qint64 fetched = t.elapsed();
    QProcess sum;
    sum.start("sha256sum", {ADest});
    sum.waitForFinished(-1);
    r.ms = t.elapsed();
    r.sumMs = r.ms - fetched;
    r.ok = curl.exitCode() == 0 && sum.readAllStandardOutput().startsWith(ASha.toLatin1());
    QFile::remove(ADest);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args[0] == "--client")
        return Client(args.mid(1));
    const qint64 bigMib = args.isEmpty() ? 1024 : args[0].toLongLong();
    const qint64 smallMib = 64;

    QTemporaryDir tmp;
    const QString src = tmp.path() + "/src", out = tmp.path() + "/out";
    QDir().mkpath(src);
    QDir().mkpath(out);
    std::printf("making test files (%lld MiB and %lld MiB)...\n", static_cast<long long>(smallMib),
                static_cast<long long>(bigMib));
    const QString smallSha = MakeFile(src + "/small.bin", smallMib);
    const QString bigSha = MakeFile(src + "/big.bin", bigMib);

    TestHttpServer srv;
    srv.serveFolder("/f/", src);
    qputenv("HALVORA_CA_FILE", QFile::encodeName(TestHttpServer::caFile()));
    const QString bigUrl = srv.url("/f/big.bin");

    const Run small = Ours(srv.url("/f/small.bin"), out + "/small.bin", smallSha, smallMib << 20);
    Run best, bestCurl;
    for (int round = 0; round < 3; ++round) {
        const Run o = Ours(bigUrl, out + "/big.bin", bigSha, bigMib << 20);
        const Run c = Curl(bigUrl, out + "/big.bin", bigSha);
        std::printf(
            "round %d: DownloadFile %lld ms%s, curl + sha256sum %lld ms (sha256sum %lld)%s\n",
            round + 1, static_cast<long long>(o.ms), o.ok ? "" : " (FAILED)",
            static_cast<long long>(c.ms), static_cast<long long>(c.sumMs), c.ok ? "" : " (FAILED)");
        if (o.ok && (!best.ok || o.ms < best.ms))
            best = o;
        if (c.ok && (!bestCurl.ok || c.ms < bestCurl.ms))
            bestCurl = c;
    }
    if (!small.ok || !best.ok || !bestCurl.ok) {
        std::printf("a download failed\n");
        return 1;
    }
    std::printf("\n%lld MiB over loopback HTTPS, size and SHA-256 verified (best of 3):\n",
                static_cast<long long>(bigMib));
    std::printf("  DownloadFile          %7lld ms  (%.0f MiB/s)\n", static_cast<long long>(best.ms),
                double(bigMib) * 1000.0 / double(best.ms));
    std::printf("  curl -o + sha256sum   %7lld ms  (%.0f MiB/s)\n",
                static_cast<long long>(bestCurl.ms), double(bigMib) * 1000.0 / double(bestCurl.ms));
    std::printf("  ratio                 %7.2f  (goal <= 1.00)\n",
                double(best.ms) / double(bestCurl.ms));
    std::printf("peak resident memory of the downloading process:\n");
    std::printf("  %5lld MiB file        %7ld KiB\n", static_cast<long long>(smallMib),
                small.rssKib);
    std::printf("  %5lld MiB file        %7ld KiB\n", static_cast<long long>(bigMib), best.rssKib);
    return 0;
}
