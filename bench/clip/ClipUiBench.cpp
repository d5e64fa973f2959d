// Clip window figures on a 30-minute 720p video: opening it until the first still frame shows
// (two probes and one grab), and the track bar's handler during playback (a seek per change,
// no ffmpeg run). Run under Xvfb (xcb) for the playback figure. The video is the one the clip
// core benchmarks make and cache (HALVORA_BENCH_DIR, default /tmp/halvora-bench).
#include "BenchVideo.h"
#include "BenchWindow.h"
#include "ClipForm.h"
#include "Process.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSlider>
#include <QTest>
#include <benchmark/benchmark.h>

#include <cstdio>

using namespace halvora;
using namespace halvora::bench;

namespace {

void BM_OpenLongVideoToFirstFrame(benchmark::State& AState) {
    const QString video = LongVideo();
    if (video.isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    BenchDialogs dialogs;
    TClipForm form(dialogs);
    for (auto _ : AState) {
        form.LoadFile(video);
        // Opening and the first still run on workers.
        if (!QTest::qWaitFor([&] { return !form.Editor().Loading(); }, 120000) ||
            !QTest::qWaitFor([&] { return !form.Preview().grabbing(); }, 120000) ||
            form.Duration() != 1800 || form.Preview().image().isNull()) {
            AState.SkipWithError("the video didn't load");
            return;
        }
    }
}
BENCHMARK(BM_OpenLongVideoToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TrackBarChangeDuringPlayback(benchmark::State& AState) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        AState.SkipWithError("needs the xcb platform (run under xvfb-run)");
        return;
    }
    const QString video = LongVideo();
    BenchDialogs dialogs;
    TClipForm form(dialogs);
    int runs = 0;
    ClipEnv env;
    env.onRun = [&runs](const Command&) { ++runs; };
    form.SetClipEnv(env);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        AState.SkipWithError("window not shown");
        return;
    }
    form.LoadFile(video);
    if (!QTest::qWaitFor([&] { return !form.Editor().Loading(); }, 120000)) {
        AState.SkipWithError("the video didn't load");
        return;
    }
    form.BtnPlayClick();
    if (!form.Playing() || !QTest::qWaitFor([&] { return form.Player()->IsPlaying(); }, 10000)) {
        AState.SkipWithError("playback didn't start");
        return;
    }
    QSlider* track = form.findChild<QSlider*>(QStringLiteral("TrackBar1"));
    runs = 0;
    int i = 0;
    double worstMs = 0;
    for (auto _ : AState) {
        // 100 positions spread over the whole video, each one different from the last.
        const int pos = (i++ % 100) * 17 + 5;
        QElapsedTimer t;
        t.start();
        track->setValue(pos);
        const double s = t.nsecsElapsed() / 1e9;
        worstMs = std::max(worstMs, s * 1000);
        AState.SetIterationTime(s);
        AState.PauseTiming();
        QCoreApplication::processEvents(); // the play timer keeps ticking between changes
        AState.ResumeTiming();
    }
    AState.counters["ffmpeg_runs"] = runs;
    AState.counters["worst_ms"] = worstMs;
    AState.counters["frame_armed"] = form.Preview().armed() ? 1 : 0;
}
BENCHMARK(BM_TrackBarChangeDuringPlayback)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(100);

} // namespace

int main(int argc, char** argv) {
    PrepareWindowBench();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
