// Requests per second and latency of halvora-service over loopback HTTPS.
// usage:
//   bench_http rps PORT PATH [SECONDS] [CLIENTS]  keep-alive GETs of PATH on 127.0.0.1:PORT
//   bench_http slow-latency [SLOW] [SAMPLES]      a normal GET's time with SLOW slow clients open
#include "RawClient.h"
#include "ServiceFixture.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace halvora::test;

namespace {

QString LoadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).section(' ', 0, 2)
                                       : QString("?");
}

int Rps(int APort, const std::string& APath, double ASeconds, int AClients) {
    std::atomic<long> done{0}, failed{0};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::duration<double>(ASeconds);
    std::vector<std::thread> clients;
    for (int t = 0; t < AClients; ++t)
        clients.emplace_back([&] {
            httplib::SSLClient c("127.0.0.1", APort);
            c.enable_server_certificate_verification(false);
            c.set_keep_alive(true);
            c.set_tcp_nodelay(true);
            while (std::chrono::steady_clock::now() < until) {
                auto r = c.Get(APath);
                ++(r && r->status == 200 ? done : failed);
            }
        });
    for (auto& t : clients)
        t.join();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.0f\n", double(done) / secs);
    if (failed)
        std::fprintf(stderr, "%ld failed\n", long(failed));
    return 0;
}

// One normal GET on a new TLS connection, handshake included; ms, or -1.
double TimedGet(int APort) {
    QElapsedTimer t;
    t.start();
    RawClient c(APort, true);
    QByteArray got;
    if (!c.Send(
            "GET /update/version.json HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n") ||
        !c.ReadToClose(got, 10000) || ResponseStatuses(got) != QList<int>{200})
        return -1;
    return double(t.nsecsElapsed()) / 1e6;
}

int SlowLatency(int ASlow, int ASamples) {
    // The slow clients and the service (which inherits the limit) need a descriptor each.
    rlimit lim{};
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &lim);
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/site/update");
    WriteAll(dir.path() + "/site/update/version.json", R"({"version":"1.0.31.6"})");
    ServiceProcess svc(dir.path() + "/site", dir.path() + "/feedback.db",
                       {"--max-connections", QString::number(ASlow + 100)});
    if (!svc.started()) {
        std::fprintf(stderr, "service did not start:\n%s\n", svc.log().constData());
        return 1;
    }
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < ASlow; ++i) {
        // 25 per address (the default limit is 32); silent, no hello, head drip, body drip.
        const QByteArray from = "127.0.1." + QByteArray::number(1 + i / 25);
        slow.push_back(std::make_unique<RawClient>(svc.port(), true, from.constData(), i % 4 >= 2));
        if (i % 4 == 2)
            slow.back()->Send("GET /update/version.json HTTP/1.1\r\nHost: x\r\n");
        else if (i % 4 == 3)
            slow.back()->Send("POST /halvora/feedback HTTP/1.1\r\nHost: x\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: 900\r\n\r\nn");
    }
    std::vector<double> ms;
    for (int i = 0; i < ASamples; ++i) {
        for (int k = 2; k < ASlow; k += 4) // the drips go on
            slow[size_t(k)]->Send("X-Drip: 1\r\n");
        ms.push_back(TimedGet(svc.port()));
    }
    int open = 0;
    for (auto& c : slow)
        open += c->PeerClosed() ? 0 : 1;
    std::sort(ms.begin(), ms.end());
    std::printf("normal GET (new TLS connection) with %d slow clients open (%d still open at the "
                "end): median %.1f ms, p90 %.1f ms, max %.1f ms, failed %ld; load %s\n",
                ASlow, open, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(),
                long(std::count(ms.begin(), ms.end(), -1.0)), qPrintable(LoadAverage()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("HALVORA_TEST_APP_DIR"))
        qputenv("HALVORA_TEST_APP_DIR", HALVORA_APP_DIR);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == "rps" && args.size() >= 3)
        return Rps(args[1].toInt(), args[2].toStdString(), args.value(3, "5").toDouble(),
                   args.value(4, "8").toInt());
    if (args.value(0) == "slow-latency")
        return SlowLatency(args.value(1, "1000").toInt(), args.value(2, "50").toInt());
    std::fprintf(stderr, "usage: bench_http rps PORT PATH [SECONDS] [CLIENTS]\n"
                         "       bench_http slow-latency [SLOW] [SAMPLES]\n");
    return 2;
}
