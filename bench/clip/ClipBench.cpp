// Frame grab latency and export times on a long 720p video. The video is made once with a
// fast encoder and kept in /tmp/halvora-bench (override with HALVORA_BENCH_DIR).
#include "BenchVideo.h"
#include "ClipExport.h"
#include "FramePreview.h"
#include "MediaIndex.h"
#include "Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

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

// CPU seconds of the finished child processes so far: unlike wall time, hardly changed by
// what else the machine runs.
double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct ExportTiming {
    double seconds = -1; // negative: the export failed
    double cpu = 0;      // CPU seconds of its ffmpeg runs
    double longest = 0;  // longest single ffmpeg run
    int runs = 0;
    QString failure;
};

// One export with the given rows, timed from the call to its return.
ExportTiming TimeExport(const QVector<DeleteSegment>& ARows, const QString& ACrop,
                        const MediaIndex* AIndex) {
    ExportTiming t;
    QElapsedTimer clock;
    qint64 last = -1;
    ClipEnv env;
    env.workDir = WorkDir();
    env.onRun = [&](const Command& ACmd) {
        const qint64 now = clock.elapsed();
        if (qEnvironmentVariableIsSet("HALVORA_BENCH_TRACE"))
            std::fprintf(stderr, "%7.2f s  %s\n", now / 1000.0, qPrintable(ACmd.text()));
        if (last >= 0)
            t.longest = std::max(t.longest, (now - last) / 1000.0);
        last = now;
        ++t.runs;
    };
    ExportRequest r;
    r.inFile = LongVideo();
    r.outText = WorkDir() + QStringLiteral("export.mp4");
    r.cropText = ACrop;
    r.rows = ARows;
    r.duration = kSeconds;
    r.index = AIndex;
    NullView view;
    const double cpuBefore = ChildCpuSeconds();
    clock.start();
    const bool ok = ExportClip(r, view, env);
    const double total = clock.elapsed() / 1000.0;
    t.cpu = ChildCpuSeconds() - cpuBefore;
    t.longest = std::max(t.longest, total - std::max<qint64>(last, 0) / 1000.0);
    if (ok)
        t.seconds = total;
    else
        t.failure = view.failure.isEmpty() ? QStringLiteral("export failed") : view.failure;
    return t;
}

// Export with the given rows; reports the longest single ffmpeg run (each must stay within
// the 30 s limit) next to the total.
void RunExport(benchmark::State& AState, const QVector<DeleteSegment>& ARows, const QString& ACrop,
               const MediaIndex* AIndex = nullptr) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    double longest = 0;
    int runs = 0;
    for (auto _ : AState) {
        const ExportTiming t = TimeExport(ARows, ACrop, AIndex);
        longest = std::max(longest, t.longest);
        runs += t.runs;
        if (t.seconds < 0)
            AState.SkipWithError(qPrintable(QStringLiteral("export failed: ") + t.failure));
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

// Three deleted stretches whose ends fall mid-way between the keyframes (every 10 s).
const QVector<DeleteSegment> kMidInterval{{305, 365}, {905, 965}, {1505, 1565}};
constexpr int kMidIntervalKeptFrames = (kSeconds - 180) * 25;

const MediaIndex& BenchIndex() {
    static const MediaIndex index = [] {
        ClipEnv env;
        env.workDir = WorkDir();
        return ReadMediaIndex(LongVideo(), env);
    }();
    return index;
}

// Video packets (one per frame) of the export, counted without decoding.
int VideoFrames(const QString& AFile) {
    const QString capture = WorkDir() + QStringLiteral("frames.txt");
    RunCaptured(Command(QStringLiteral("/usr/bin/ffprobe"))
                    .args({"-v", "error", "-select_streams", "v:0", "-count_packets",
                           "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0"})
                    .path(AFile),
                capture, 120000);
    QFile f(capture);
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : -1;
}

void BM_KeyframeIndex(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    for (auto _ : AState) {
        ClipEnv env;
        env.workDir = WorkDir();
        const MediaIndex index = ReadMediaIndex(LongVideo(), env);
        if (!index.ok)
            AState.SkipWithError("no index");
        AState.counters["keyframes"] = index.keyframeUs().size();
    }
}
BENCHMARK(BM_KeyframeIndex)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The exact cut: heads re-encoded, the rest copied (the index is read at opening, not here).
void BM_ExactCutMidInterval(benchmark::State& AState) {
    RunExport(AState, kMidInterval, QString(), &BenchIndex());
    AState.counters["frames"] = VideoFrames(WorkDir() + QStringLiteral("export.mp4"));
    AState.counters["frames_expected"] = kMidIntervalKeptFrames;
}
BENCHMARK(BM_ExactCutMidInterval)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The index an input the exact cut can't handle has: the export falls back to copy cuts.
MediaIndex CopyOnlyIndex() {
    MediaIndex index = BenchIndex();
    index.codec = QStringLiteral("unsupported");
    return index;
}

// Copy cuts only, from the keyframe before each mark (what an input the exact cut can't
// handle gets).
void BM_CopyOnlyMidInterval(benchmark::State& AState) {
    const MediaIndex index = CopyOnlyIndex();
    RunExport(AState, kMidInterval, QString(), &index);
    AState.counters["frames"] = VideoFrames(WorkDir() + QStringLiteral("export.mp4"));
}
BENCHMARK(BM_CopyOnlyMidInterval)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// Re-encoding everything kept in one run, to completion (no time limit), with the export's
// own re-encode settings, as a cutter without copies would. Seconds; negative on failure.
double TimeFullReencode() {
    // Half a frame early, so the frame shown at each mark falls on the right side whatever
    // the rounding of its time.
    QString keep;
    for (const DeleteSegment& d : kMidInterval)
        keep += QStringLiteral("%1between(t\\,%2\\,%3)")
                    .arg(keep.isEmpty() ? QString() : QStringLiteral("+"))
                    .arg(d.start - 0.02)
                    .arg(d.end - 0.02);
    // The arguments the export's re-encoding join adds to its input.
    const Command join = JoinCommand(QStringLiteral("/usr/bin/ffmpeg"), QStringLiteral("list"),
                                     WorkDir() + QStringLiteral("reencode.mp4"), true);
    const QStringList joinArgs = join.arguments();
    const qsizetype from = joinArgs.indexOf(QStringLiteral("-c:v"));
    Command c = Command(QStringLiteral("/usr/bin/ffmpeg"))
                    .args({"-y", "-loglevel", "error", "-i"})
                    .path(LongVideo())
                    .args({"-map", "0:V?", "-map", "0:a?", "-vf",
                           QStringLiteral("select=not(%1),setpts=N/FRAME_RATE/TB").arg(keep), "-af",
                           QStringLiteral("aselect=not(%1),asetpts=N/SR/TB").arg(keep)});
    c.args(joinArgs.mid(from, joinArgs.size() - 1 - from));
    c.path(WorkDir() + QStringLiteral("reencode.mp4"));
    if (qEnvironmentVariableIsSet("HALVORA_BENCH_TRACE"))
        std::fprintf(stderr, "%s\n", qPrintable(c.text()));
    QElapsedTimer clock;
    clock.start();
    if (RunProcess(c, QString()) != 0)
        return -1;
    return clock.elapsed() / 1000.0;
}

void BM_FullReencodeMidInterval(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    for (auto _ : AState) {
        if (TimeFullReencode() < 0)
            AState.SkipWithError("re-encode failed");
    }
    AState.counters["frames"] = VideoFrames(WorkDir() + QStringLiteral("reencode.mp4"));
}
BENCHMARK(BM_FullReencodeMidInterval)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

QString LoadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2)
               : QStringLiteral("?");
}

// The three ways to export the same kept stretches, in one run: copy cuts, the exact cut and
// a full re-encode (which takes many minutes).
void BM_ThreeWaysMidInterval(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    const MediaIndex copyIndex = CopyOnlyIndex();
    for (auto _ : AState) {
        const QString loadBefore = LoadAverage();
        const ExportTiming copy = TimeExport(kMidInterval, QString(), &copyIndex);
        const ExportTiming exact = TimeExport(kMidInterval, QString(), &BenchIndex());
        const int frames = VideoFrames(WorkDir() + QStringLiteral("export.mp4"));
        const double full = TimeFullReencode();
        if (copy.seconds < 0 || exact.seconds < 0 || full < 0) {
            AState.SkipWithError("an export failed");
            return;
        }
        std::printf("copy-only %.1f s (CPU %.1f s), exact %.1f s (CPU %.1f s; %.2fx copy-only, "
                    "%d of %d frames), full re-encode %.1f s (%.1fx exact); load average "
                    "before %s, after %s\n",
                    copy.seconds, copy.cpu, exact.seconds, exact.cpu, exact.seconds / copy.seconds,
                    frames, kMidIntervalKeptFrames, full, full / exact.seconds,
                    qPrintable(loadBefore), qPrintable(LoadAverage()));
        std::fflush(stdout);
        AState.counters["copy_s"] = copy.seconds;
        AState.counters["exact_s"] = exact.seconds;
        AState.counters["reencode_s"] = full;
        AState.counters["exact_per_copy"] = exact.seconds / copy.seconds;
        AState.counters["reencode_per_exact"] = full / exact.seconds;
    }
}
BENCHMARK(BM_ThreeWaysMidInterval)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// Copy-only and exact exports in turns (the order swapped every round), so a shared machine's
// load falls on both alike: the ratio of each pair, and their median.
void BM_ExactPerCopyInterleaved(benchmark::State& AState) {
    if (LongVideo().isEmpty()) {
        AState.SkipWithError("no test video");
        return;
    }
    const MediaIndex copyIndex = CopyOnlyIndex();
    const int rounds = static_cast<int>(AState.range(0));
    for (auto _ : AState) {
        QVector<double> ratios;
        QVector<double> cpuRatios;
        for (int i = 0; i < rounds; ++i) {
            const QString load = LoadAverage();
            ExportTiming copy;
            ExportTiming exact;
            if (i % 2 == 0) {
                copy = TimeExport(kMidInterval, QString(), &copyIndex);
                exact = TimeExport(kMidInterval, QString(), &BenchIndex());
            } else {
                exact = TimeExport(kMidInterval, QString(), &BenchIndex());
                copy = TimeExport(kMidInterval, QString(), &copyIndex);
            }
            if (copy.seconds < 0 || exact.seconds < 0) {
                AState.SkipWithError("an export failed");
                return;
            }
            ratios << exact.seconds / copy.seconds;
            cpuRatios << exact.cpu / copy.cpu;
            std::printf("round %d: copy-only %.1f s (CPU %.1f s), exact %.1f s (CPU %.1f s), "
                        "ratio %.2f (CPU %.2f); load average %s\n",
                        i + 1, copy.seconds, copy.cpu, exact.seconds, exact.cpu, ratios.last(),
                        cpuRatios.last(), qPrintable(load));
            std::fflush(stdout);
        }
        std::sort(ratios.begin(), ratios.end());
        AState.counters["ratio_min"] = ratios.first();
        AState.counters["ratio_median"] = ratios[ratios.size() / 2];
        AState.counters["ratio_max"] = ratios.last();
        std::sort(cpuRatios.begin(), cpuRatios.end());
        AState.counters["cpu_ratio_median"] = cpuRatios[cpuRatios.size() / 2];
    }
}
BENCHMARK(BM_ExactPerCopyInterleaved)
    ->Arg(5)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

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
