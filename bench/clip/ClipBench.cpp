// Frame grab latency and export times on a long 720p video. The video is made once with a
// fast encoder and kept in /tmp/halvora-bench (override with HALVORA_BENCH_DIR).
#include "BenchVideo.h"
#include "ClipExport.h"
#include "FramePreview.h"
#include "Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

using namespace halvora;
using namespace halvora::bench;

namespace {

QString WorkDir() {
    const QString d = BenchDir() + QStringLiteral("/work/");
    QDir().mkpath(d);
    return d;
}

class NullView : public ExportView {
public:
    QString failure;
    void setStatus(const QString&) override {}
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons) override {
        // Every iteration writes over the previous one's export.
        if (AKind == BoxKind::Confirmation)
            return BoxAnswer::Yes;
        if (AKind != BoxKind::Information)
            failure = AText;
        return BoxAnswer::Ok;
    }
    void processMessages() override {}
};

void BM_GrabFrame(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    FramePreview preview;
    ClipEnv env;
    env.workDir = WorkDir();
    preview.setEnv(env);
    preview.setVideo(LongVideo());
    const auto sec = static_cast<std::int32_t>(AState.range(0));
    for (auto _ : AState) {
        if (!preview.GrabFrame(sec))
            AState.SkipWithError("grab failed");
    }
}
BENCHMARK(BM_GrabFrame)
    ->Arg(10)
    ->Arg(1500)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// Export with the given rows; reports the longest single ffmpeg run (each must stay within
// the 30 s limit) next to the total.
void RunExport(benchmark::State& AState, const QVector<DeleteSegment>& ARows,
               const QString& ACrop) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    double longest = 0;
    int runs = 0;
    for (auto _ : AState) {
        QElapsedTimer clock;
        qint64 last = -1;
        ClipEnv env;
        env.workDir = WorkDir();
        env.onRun = [&](const Command&) {
            const qint64 now = clock.elapsed();
            if (last >= 0)
                longest = std::max(longest, (now - last) / 1000.0);
            last = now;
            ++runs;
        };
        ExportRequest r;
        r.inFile = LongVideo();
        r.outText = WorkDir() + QStringLiteral("export.mp4");
        r.cropText = ACrop;
        r.rows = ARows;
        r.duration = kSeconds;
        NullView view;
        clock.start();
        const bool ok = ExportClip(r, view, env);
        longest = std::max(longest, (clock.elapsed() - last) / 1000.0);
        if (!ok)
            AState.SkipWithError(qPrintable(QStringLiteral("export failed: ") + view.failure));
    }
    AState.counters["longest_run_s"] = longest;
    AState.counters["ffmpeg_runs"] = runs / static_cast<double>(AState.iterations());
}

void BM_ExportCopyThreeDeleted(benchmark::State& AState) {
    RunExport(AState, {{300, 360}, {900, 960}, {1500, 1560}}, QString());
}
BENCHMARK(BM_ExportCopyThreeDeleted)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_ExportCropLateTwentySeconds(benchmark::State& AState) {
    RunExport(AState, {{0, 1500}, {1520, kSeconds}}, QStringLiteral("640:360:0:0"));
}
BENCHMARK(BM_ExportCropLateTwentySeconds)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The yardstick: one ffmpeg stream copy of the whole file.
void BM_SingleStreamCopy(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    for (auto _ : AState) {
        const Command c = Command(QStringLiteral("/usr/bin/ffmpeg"))
                              .args({"-y", "-loglevel", "error", "-i"})
                              .path(LongVideo())
                              .args({"-c", "copy"})
                              .path(WorkDir() + QStringLiteral("copy.mp4"));
        if (RunProcessTimed(c, QString(), kClipRunTimeoutMs) != 0)
            AState.SkipWithError("copy failed");
    }
}
BENCHMARK(BM_SingleStreamCopy)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
