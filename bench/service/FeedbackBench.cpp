// Feedback posts per second into halvora-service over loopback HTTPS with 8 concurrent clients,
// each post committed to the store before its answer. Two runs: clients that keep their
// connection, and clients that connect anew for every post (as the desktop program does), with a
// full TLS handshake each time (the client keeps its TLS context, as any client does, but no
// session).
// usage: bench_feedback [SECONDS_PER_RUN]
#include "ServiceFixture.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace halvora::test;

namespace {

// CPU seconds (user and system) the process has used so far.
double CpuSeconds(qint64 APid) {
    QFile f(QString("/proc/%1/stat").arg(APid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(')').last().split(' ');
    // After the command: state is field 3; utime and stime are fields 14 and 15.
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

double Run(const ServiceProcess& AService, bool AReconnect, double ASeconds, int& AFailed) {
    std::atomic<int> accepted{0}, failed{0};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::duration<double>(ASeconds);
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t)
        clients.emplace_back([&, t] {
            auto c = AService.client();
            // The library's client closes after every request unless told otherwise; like curl,
            // it sends each request at once rather than waiting on Nagle.
            c->set_keep_alive(!AReconnect);
            c->set_tcp_nodelay(true);
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                const QByteArray body =
                    FeedbackBody("bench@mail-host.org",
                                 QString("client %1 post %2 %3").arg(t).arg(i).arg(AReconnect));
                auto r = c->Post("/halvora/feedback", body.constData(), size_t(body.size()),
                                 "application/x-www-form-urlencoded; charset=utf-8");
                if (r && r->body == "{\"ok\":true}")
                    ++accepted;
                else
                    ++failed;
            }
        });
    for (auto& t : clients)
        t.join();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    AFailed = failed;
    return accepted / secs;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("HALVORA_TEST_APP_DIR"))
        qputenv("HALVORA_TEST_APP_DIR", HALVORA_APP_DIR);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/site/update");
    const QString db = dir.path() + "/feedback.db";
    ServiceProcess svc(dir.path() + "/site", db, {"--posts-per-minute", "0"});
    if (!svc.started()) {
        std::fprintf(stderr, "service did not start:\n%s\n", svc.log().constData());
        return 1;
    }
    int failedKeep = 0, failedNew = 0;
    const double cpu0 = CpuSeconds(svc.pid());
    const int rows0 = 0;
    const double keep = Run(svc, false, seconds, failedKeep);
    const double cpu1 = CpuSeconds(svc.pid());
    const int rows1 = StoredMessages(db).size();
    const double fresh = Run(svc, true, seconds, failedNew);
    const double cpu2 = CpuSeconds(svc.pid());
    svc.terminate();
    const int stored = StoredMessages(db).size();
    std::printf("feedback posts accepted per second, 8 clients, loopback HTTPS, %.0f s each:\n",
                seconds);
    std::printf("  keep-alive connections:     %8.1f /s  (%d failed)\n", keep, failedKeep);
    std::printf("  new connection per post:    %8.1f /s  (%d failed)\n", fresh, failedNew);
    std::printf("  service CPU per post: %.2f ms keep-alive, %.2f ms with a new connection\n",
                1000 * (cpu1 - cpu0) / std::max(1, rows1 - rows0),
                1000 * (cpu2 - cpu1) / std::max(1, stored - rows1));
    std::printf("  rows in the store: %d, integrity_check: %s\n", stored,
                qPrintable(IntegrityCheck(db)));
    return 0;
}
