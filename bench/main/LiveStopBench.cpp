// Stop latency of a live recording in the main window: a playlist without an end on a loopback
// server grows by one segment per segment length (2 s, then 6 s as real streams have); once
// three segments have been fetched and ffmpeg waits for the next one, Stop is pressed. Prints
// the time from Stop until the recording has finished (ffmpeg gone, the TS complete) and until
// the job has ended (what was recorded converted to output.mp4), the video frames of the
// segments served against those of the TS and the MP4, and the longest tick gap of a 10 ms
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
#include <QSet>
#include <QTest>
#include <cstdio>

using namespace halvora;
using namespace halvora::test;
using namespace halvora::bench;

namespace {

bool Record(const QString& AWork, int ASegSeconds) {
    const QString media = AWork + QStringLiteral("/media%1").arg(ASegSeconds);
    const QString out = AWork + QStringLiteral("/out%1").arg(ASegSeconds);
    QDir(out).removeRecursively();
    QDir().mkpath(media);
    if (!QFile::exists(media + "/vod.m3u8") &&
        !MakeVideo(media + "/vod.m3u8", 10 * ASegSeconds, 1280, 720, true, 50,
                   {"-f", "hls", "-hls_time", QString::number(ASegSeconds), "-hls_list_size", "0",
                    "-hls_playlist_type", "vod"})) {
        std::fprintf(stderr, "could not make the stream\n");
        return false;
    }
    TestHttpServer srv(TestHttpServer::Mode::Http);
    LivePlaylist live(srv, media, "/live/", ASegSeconds);
    OkAnswers answers;
    BenchForm form(answers);
    form.show();
    form.EdtInput->setText(srv.url("/live/live.m3u8"));
    form.EdtOutput->setText(out);
    form.BtnConvert->click();

    // Three segments fetched, and all of them in the TS: ffmpeg now waits for the fourth.
    const QString ts = out + "/output.ts";
    int expected = 0;
    QSet<QString> served;
    if (!QTest::qWaitFor([&] { return SegmentsServed(srv).size() >= 3; }, 120000)) {
        std::fprintf(stderr, "the segments were not fetched\n");
        return false;
    }
    live.freeze();
    served = SegmentsServed(srv);
    for (const QString& name : served)
        expected += CountVideoFrames(media + "/" + name);
    if (!QTest::qWaitFor([&] { return CountVideoFrames(ts) >= expected - 3; }, 60000)) {
        std::fprintf(stderr, "the TS did not receive the segments\n");
        return false;
    }

    QElapsedTimer sinceStop;
    qint64 recordingEnded = -1;
    const qint64 longest = LongestTickGap([&] { return form.busy(); },
                                          [&] {
                                              if (!sinceStop.isValid()) {
                                                  sinceStop.start();
                                                  form.BtnStop->click();
                                              }
                                              // The recording has ended once the window converts
                                              // what was recorded.
                                              if (recordingEnded < 0 &&
                                                  !form.LblStatus->text().startsWith("Recording: "))
                                                  recordingEnded = sinceStop.elapsed();
                                          });
    std::printf("%d s segments: stop to recording finished %lld ms, to job end (converted) %lld "
                "ms, longest tick gap %lld ms\n",
                ASegSeconds, (long long)recordingEnded, (long long)sinceStop.elapsed(),
                (long long)longest);
    std::printf("  frames: served %d, TS %d, MP4 %d; segments fetched after the stop: %d\n",
                expected, CountVideoFrames(ts), CountVideoFrames(out + "/output.mp4"),
                int(SegmentsServed(srv).size() - served.size()));
    std::printf("  status: %s\n", qPrintable(form.LblStatus->text()));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_live_stop WORK_DIR\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[1]);
    std::printf("idle window: longest tick gap %lld ms over 3 s\n", (long long)IdleTickGap());
    for (int seg : {2, 6})
        if (!Record(work, seg))
            return 1;
    return 0;
}
