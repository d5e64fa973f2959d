// The clip window while it works on the 30-minute 720p video: the longest gap between ticks of a
// 10 ms timer on the window thread while the video opens, during an export (one stretch deleted,
// exact cut), during a burst of still-frame grabs, and the time from Stop to the end of a libx264
// re-encode (ffmpeg gone, cuts and partial output removed). Run under X (xvfb-run); prints one
// line per measurement. The video is the one the clip benchmarks cache (HALVORA_BENCH_DIR).
#include "BenchVideo.h"
#include "BenchWindow.h"
#include "ClipForm.h"
#include "TickGap.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <cstdio>

using namespace halvora;
using namespace halvora::bench;

int main(int argc, char** argv) {
    PrepareWindowBench();
    QApplication app(argc, argv);
    const QString video = LongVideo();
    if (video.isEmpty()) {
        std::fprintf(stderr, "no test video\n");
        return 1;
    }
    BenchDialogs answers;
    // Playback is not measured here.
    const std::unique_ptr<TClipForm> window = NewBenchWindow(answers);
    TClipForm& form = *window;
    ClipEditor& editor = form.Editor();
    QSlider* track = form.findChild<QSlider*>(QStringLiteral("TrackBar1"));
    QLineEdit* out = form.findChild<QLineEdit*>(QStringLiteral("EdtOut"));
    QLineEdit* crop = form.findChild<QLineEdit*>(QStringLiteral("EdtCrop"));
    QPushButton* stop = form.findChild<QPushButton*>(QStringLiteral("BtnStop"));

    std::printf("idle window: longest tick gap %lld ms over 3 s\n", (long long)IdleTickGap());
    QElapsedTimer t;
    t.start();
    form.LoadFile(video);
    const qint64 openGap = LongestTickGap([&] { return editor.Loading(); });
    std::printf("opening (probes, keyframes): %lld ms, longest tick gap %lld ms\n",
                (long long)t.elapsed(), (long long)openGap);
    if (form.Duration() < kSeconds) {
        std::fprintf(stderr, "the video didn't load\n");
        return 1;
    }
    LongestTickGap([&] { return form.Preview().grabbing(); });

    // A burst of still frames: one grab after the other at 20 positions over the video.
    int next = 0;
    t.restart();
    const qint64 grabGap = LongestTickGap([&] { return next < 20 || form.Preview().grabbing(); },
                                          [&] {
                                              if (next < 20 && !form.Preview().grabbing()) {
                                                  form.Preview().GrabSoon(next * 89 + 7);
                                                  ++next;
                                              }
                                          });
    std::printf("20 frame grabs: %lld ms, longest tick gap %lld ms\n", (long long)t.elapsed(),
                (long long)grabGap);

    // The export: 10:00-10:30 deleted, the rest kept (exact cut: re-encoded to the keyframes).
    const QString outFile = BenchDir() + QStringLiteral("/ui-temp/export.mp4");
    QFile::remove(outFile);
    track->setValue(600);
    form.findChild<QPushButton*>(QStringLiteral("BtnStart"))->click();
    track->setValue(630);
    form.findChild<QPushButton*>(QStringLiteral("BtnEnd"))->click();
    out->setText(outFile);
    t.restart();
    editor.StartExport();
    const qint64 exportGap = LongestTickGap([&] { return editor.Exporting(); });
    std::printf("export of 29:30 kept: %lld ms, longest tick gap %lld ms\n", (long long)t.elapsed(),
                (long long)exportGap);
    QFile::remove(outFile);

    // Stop latency: a cropped export (libx264 re-encode) stopped three seconds into its cut.
    crop->setText(QStringLiteral("640:360:0:0"));
    QLabel* status = form.findChild<QLabel*>(QStringLiteral("LblStatus"));
    editor.StartExport();
    QElapsedTimer sinceCut;
    QElapsedTimer sinceStop;
    QString stoppedAt;
    const qint64 stopGap = LongestTickGap(
        [&] { return editor.Exporting(); },
        [&] {
            if (!sinceCut.isValid() && status->text().startsWith(QStringLiteral("Cutting: ")))
                sinceCut.start();
            if (sinceCut.isValid() && !sinceStop.isValid() && sinceCut.elapsed() >= 3000) {
                stoppedAt = status->text();
                sinceStop.start();
                stop->click();
            }
        });
    std::printf("stop to end of a libx264 export: %lld ms (stopped at \"%s\"; longest tick gap "
                "%lld ms)\n",
                (long long)sinceStop.elapsed(), qPrintable(stoppedAt), (long long)stopGap);
    QFile::remove(outFile);
    return 0;
}
