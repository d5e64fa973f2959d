// Cost of one ffmpeg lookup: it runs at every keystroke in the main window.
#include "FFmpegLocator.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void BM_FindFFmpeg(benchmark::State& AState) {
    for (auto _ : AState)
        benchmark::DoNotOptimize(halvora::FindFFmpeg());
}
BENCHMARK(BM_FindFFmpeg);

// The worst case: no candidate exists, so all five are probed.
void BM_FindFFmpegNowhere(benchmark::State& AState) {
    const QString nowhere = QStringLiteral("/nonexistent/halvora-bench/");
    for (auto _ : AState)
        benchmark::DoNotOptimize(halvora::FindFFmpegIn(nowhere));
}
BENCHMARK(BM_FindFFmpegNowhere);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
