// Feedback posts per second into halvora-service over loopback HTTPS with 8 concurrent clients,
// each post committed to the store before its answer. Three runs, interleaved over the rounds:
// clients that keep their connection; clients that connect anew for every post (as the desktop
// program does) with a full TLS handshake each time; and clients that connect anew but resume
// their TLS session.
// usage: bench_feedback [SECONDS_PER_RUN] [ROUNDS]
#include "ServiceFixture.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <httplib.h>

#include <algorithm>
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

enum class Mode { KeepAlive, NewConnection, Resumed };
const char* const kModeNames[] = {"keep-alive connections", "new connection per post",
                                  "new connection, TLS session resumed"};

double Run(const ServiceProcess& AService, Mode AMode, double ASeconds, int& AFailed) {
    std::atomic<int> accepted{0}, failed{0};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::duration<double>(ASeconds);
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t)
        clients.emplace_back([&, t] {
            auto c = AService.client();
            // The library's client closes after every request unless told otherwise; like curl,
            // it sends each request at once rather than waiting on Nagle.
            c->set_keep_alive(AMode == Mode::KeepAlive);
            c->set_tcp_nodelay(true);
            ResumingPoster resuming(AService.port());
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                const QByteArray body =
                    FeedbackBody("bench@mail-host.org",
                                 QString("client %1 post %2 %3").arg(t).arg(i).arg(int(AMode)));
                bool ok = false;
                if (AMode == Mode::Resumed) {
                    ok = resuming.Post(body);
                } else {
                    auto r = c->Post("/halvora/feedback", body.constData(), size_t(body.size()),
                                     "application/x-www-form-urlencoded; charset=utf-8");
                    ok = r && r->body == "{\"ok\":true}";
                }
                ++(ok ? accepted : failed);
            }
        });
    for (auto& t : clients)
        t.join();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    AFailed = failed;
    return accepted / secs;
}

QString LoadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).section(' ', 0, 2)
                                       : QString("?");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("HALVORA_TEST_APP_DIR"))
        qputenv("HALVORA_TEST_APP_DIR", HALVORA_APP_DIR);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/site/update");
    const QString db = dir.path() + "/feedback.db";
    // All clients come from 127.0.0.1: the per-address limits (10 posts a minute, 32
    // connections) are off here.
    ServiceProcess svc(dir.path() + "/site", db,
                       {"--posts-per-minute", "0", "--max-connections-per-address", "0"});
    if (!svc.started()) {
        std::fprintf(stderr, "service did not start:\n%s\n", svc.log().constData());
        return 1;
    }
    std::printf("feedback posts accepted per second, 8 clients, loopback HTTPS, %.0f s per run, "
                "%d round(s) with the runs interleaved; %d cores, load average before: %s\n",
                seconds, rounds, int(std::thread::hardware_concurrency()),
                qPrintable(LoadAverage()));
    std::vector<double> rates[3];
    double cpu[3] = {0, 0, 0}, clientCpu[3] = {0, 0, 0};
    int posts[3] = {0, 0, 0}, failed[3] = {0, 0, 0};
    int rows = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int m = 0; m < 3; ++m) {
            int fails = 0;
            const double cpu0 = CpuSeconds(svc.pid()), own0 = CpuSeconds(::getpid());
            const double rate = Run(svc, Mode(m), seconds, fails);
            cpu[m] += CpuSeconds(svc.pid()) - cpu0;
            clientCpu[m] += CpuSeconds(::getpid()) - own0;
            const int now = StoredMessages(db).size();
            posts[m] += now - rows;
            rows = now;
            failed[m] += fails;
            rates[m].push_back(rate);
            std::printf("  round %d, %-36s %8.1f /s  (load %s)\n", r + 1, kModeNames[m], rate,
                        qPrintable(LoadAverage()));
            std::fflush(stdout);
        }
    }
    svc.terminate();
    const int stored = StoredMessages(db).size();
    std::printf("summary (median of the rounds, lowest, CPU per post of the service and of the "
                "clients):\n");
    for (int m = 0; m < 3; ++m) {
        std::vector<double> v = rates[m];
        std::sort(v.begin(), v.end());
        std::printf("  %-36s %8.1f /s  lowest %8.1f /s  %.2f ms + %.2f ms CPU  (%d failed)\n",
                    kModeNames[m], v[v.size() / 2], v.front(),
                    1000 * cpu[m] / std::max(1, posts[m]),
                    1000 * clientCpu[m] / std::max(1, posts[m]), failed[m]);
    }
    std::printf("  rows in the store: %d, integrity_check: %s; load average after: %s\n", stored,
                qPrintable(IntegrityCheck(db)), qPrintable(LoadAverage()));
    return 0;
}
