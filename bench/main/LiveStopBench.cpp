// Stop latency of a live recording in the main window: a playlist without an end on a loopback
// server grows by one 2 s segment every two seconds; once three segments have been fetched, Stop
// is pressed. Prints the time from Stop until the download's ffmpeg has gone and until the job
// has ended (what was recorded converted to output.mp4), and the longest tick gap of a 10 ms
// timer on the window thread. Run under X (xvfb-run). Usage: bench_live_stop WORK_DIR
#include "BenchForm.h"
#include "LivePlaylist.h"
#include "TickGap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

using namespace halvora;
using namespace halvora::test;
using namespace halvora::bench;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_live_stop WORK_DIR\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[1]);
    const QString media = work + "/media";
    QDir(work + "/out").removeRecursively();
    QDir().mkpath(media);
    if (!QFile::exists(media + "/vod.m3u8") &&
        !MakeVideo(
            media + "/vod.m3u8", 60, 1280, 720, true, 50,
            {"-f", "hls", "-hls_time", "2", "-hls_list_size", "0", "-hls_playlist_type", "vod"})) {
        std::fprintf(stderr, "could not make the stream\n");
        return 1;
    }
    TestHttpServer srv(TestHttpServer::Mode::Http);
    LivePlaylist live(srv, media);
    OkAnswers answers;
    BenchForm form(answers);
    form.show();
    std::printf("idle window: longest tick gap %lld ms over 3 s\n", (long long)IdleTickGap());
    form.EdtInput->setText(srv.url("/live/live.m3u8"));
    form.EdtOutput->setText(work + "/out");
    form.BtnConvert->click();

    auto segments = [&] {
        int n = 0;
        for (const auto& r : srv.requests())
            n += r.path.endsWith(".ts");
        return n;
    };
    QElapsedTimer sinceStop;
    qint64 recordingEnded = -1;
    const qint64 longest =
        LongestTickGap([&] { return form.busy(); },
                       [&] {
                           if (!sinceStop.isValid() && segments() >= 4 &&
                               form.LblStatus->text().startsWith("Recording: ")) {
                               sinceStop.start();
                               form.BtnStop->click();
                           }
                           // The recording has ended once the window converts what was recorded.
                           if (sinceStop.isValid() && recordingEnded < 0 &&
                               !form.LblStatus->text().startsWith("Recording: "))
                               recordingEnded = sinceStop.elapsed();
                       });
    std::printf("live recording: stop to recording finished %lld ms, to job end (converted) "
                "%lld ms, longest tick gap %lld ms\n",
                (long long)recordingEnded,
                (long long)(sinceStop.isValid() ? sinceStop.elapsed() : -1), (long long)longest);
    std::printf("status: %s\n", qPrintable(form.LblStatus->text()));
    return 0;
}
