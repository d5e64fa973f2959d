// Stop, stall watchdog and progress of the runner, with sh scripts and the real ffmpeg.
#include "FFmpegProgress.h"
#include "Process.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <signal.h>

using namespace halvora;
using namespace halvora::test;

namespace {

Command Sh(const QString& AScript) {
    return Command(QStringLiteral("/bin/sh")).arg(QStringLiteral("-c")).arg(AScript);
}

bool Gone(const QString& APidFile) {
    const pid_t pid = ReadAll(APidFile).trimmed().toInt();
    return pid > 0 && ::kill(pid, 0) != 0;
}

} // namespace

TEST(FFmpegProgress, ReadsDurationTimeAndSizeOfARun) {
    FFmpegProgress p;
    EXPECT_EQ(p.permille(), -1);
    EXPECT_FALSE(p.feed("Input #0, mpegts, from 'clip.ts':"));
    EXPECT_FALSE(p.feed("  Duration: 00:31:05.50, start: 1.400000, bitrate: 1000 kb/s"));
    EXPECT_EQ(p.durationMs(), (31 * 60 + 5) * 1000 + 500);
    // A second input's duration is not the first's.
    EXPECT_FALSE(p.feed("  Duration: 00:00:01.00, start: 0.000000, bitrate: 1 kb/s"));
    EXPECT_EQ(p.durationMs(), (31 * 60 + 5) * 1000 + 500);
    // ffmpeg 5 (kB) and 6+ (KiB) reports; a negative start time is no position.
    EXPECT_FALSE(p.feed("frame=    0 fps=0.0 q=0.0 size=       0kB time=-00:00:00.04 "
                        "bitrate=N/A speed=N/A"));
    EXPECT_TRUE(p.feed("frame=  100 fps=0.0 q=-1.0 size=    1024kB time=00:12:40.00 "
                       "bitrate=11.0kbits/s speed=  50x"));
    EXPECT_EQ(p.timeMs(), (12 * 60 + 40) * 1000);
    EXPECT_EQ(p.sizeBytes(), 1024 * 1024);
    EXPECT_EQ(p.permille(), 407);
    EXPECT_TRUE(p.feed("size=    2048KiB time=00:12:40.00 bitrate=N/A"));
    EXPECT_EQ(p.sizeBytes(), 2048 * 1024);
    // Never backwards, and a repeated report is no progress.
    EXPECT_FALSE(p.feed("size=    2048KiB time=00:10:00.00 bitrate=N/A"));
    EXPECT_EQ(p.timeMs(), (12 * 60 + 40) * 1000);
    EXPECT_TRUE(p.feed("size=N/A time=00:40:00.00 bitrate=N/A"));
    EXPECT_EQ(p.permille(), 1000);

    FFmpegProgress live;
    live.feed("  Duration: N/A, start: 0.000000, bitrate: N/A");
    EXPECT_EQ(live.durationMs(), -1);
    EXPECT_EQ(live.permille(), -1);
}

TEST(FFmpegProgress, StatusTexts) {
    EXPECT_EQ(ClockText((12 * 60 + 40) * 1000 + 999), "00:12:40");
    EXPECT_EQ(ClockText(101LL * 3600 * 1000), "101:00:00");
    EXPECT_EQ(ShortClockText(52000), "0:52");
    EXPECT_EQ(ShortClockText(3723000), "1:02:03");
    EXPECT_EQ(SizeText(310'400'000), "310 MB");
    EXPECT_EQ(SizeText(1'400'000'000), "1.4 GB");
    EXPECT_EQ(SizeText(12'000), "12 KB");
    EXPECT_EQ(ProgressText::recording((4 * 60 + 12) * 1000, 310'000'000),
              "Recording: 00:04:12, 310 MB");
    ProgressText t;
    t.start();
    // No estimate before any time has passed.
    EXPECT_EQ(t.known("Converting clip.ts", 760000, 1865000),
              "Converting clip.ts: 00:12:40 / 00:31:05 (40%)");
}

TEST(RunCommand, StopAsksTheChildToFinishFirst) {
    const QString dir = NewTempDir("stop");
    auto token = std::make_shared<StopToken>();
    RunOptions o;
    o.workDir = dir;
    o.stop = token;
    o.pollIntervalMs = 20;
    // The child finishes its work on SIGINT, as ffmpeg does; its exit code is not the result.
    o.onStderrLine = [&](const QString& ALine) {
        if (ALine == "ready")
            token->request();
    };
    const int r =
        RunCommand(Sh("echo $$ > pid; trap 'echo finished > done; exit 255' INT; echo ready >&2; "
                      "while :; do sleep 0.05; done"),
                   o);
    EXPECT_EQ(r, kRunStopped);
    EXPECT_EQ(ReadAll(dir + "/done").trimmed(), "finished");
    EXPECT_TRUE(Gone(dir + "/pid"));

    // A child that ignores the request is killed after the grace.
    auto deaf = std::make_shared<StopToken>();
    deaf->request();
    RunOptions d;
    d.workDir = dir;
    d.stop = deaf;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunCommand(Sh("echo $$ > pid2; trap '' INT; while :; do sleep 0.05; done"), d),
              kRunStopped);
    EXPECT_GE(t.elapsed(), kStopGraceMs - 100);
    EXPECT_TRUE(Gone(dir + "/pid2"));
    // A run whose output is thrown away anyway is killed after a much shorter grace.
    d.stopGraceMs = kDiscardStopGraceMs;
    t.restart();
    EXPECT_EQ(RunCommand(Sh("echo $$ > pid3; trap '' INT; while :; do sleep 0.05; done"), d),
              kRunStopped);
    EXPECT_LT(t.elapsed(), kStopGraceMs - 100);
    EXPECT_TRUE(Gone(dir + "/pid3"));
    // Asked again after stopAgainMs: a child that only hears the second request (as ffmpeg
    // waiting for a live segment) finishes before the grace; one that ends on the first one
    // in time is asked once.
    RunOptions a;
    a.workDir = dir;
    a.stopAgainMs = 200;
    a.pollIntervalMs = 20;
    std::shared_ptr<StopToken> asked;
    a.onStderrLine = [&](const QString& ALine) {
        if (ALine == "ready")
            asked->request();
    };
    const QString counting =
        "echo $$ > %1; n=0; trap 'n=$((n+1)); [ $n -ge %2 ] && { echo $n > %3; exit 255; }' INT; "
        "echo ready >&2; while :; do sleep 0.05; done";
    a.stop = asked = std::make_shared<StopToken>();
    t.restart();
    EXPECT_EQ(RunCommand(Sh(counting.arg("pid4").arg(2).arg("again")), a), kRunStopped);
    EXPECT_LT(t.elapsed(), kStopGraceMs - 100);
    EXPECT_EQ(ReadAll(dir + "/again").trimmed(), "2");
    EXPECT_TRUE(Gone(dir + "/pid4"));
    a.stop = asked = std::make_shared<StopToken>();
    EXPECT_EQ(RunCommand(Sh(counting.arg("pid5").arg(1).arg("once")), a), kRunStopped);
    EXPECT_EQ(ReadAll(dir + "/once").trimmed(), "1");
    EXPECT_TRUE(Gone(dir + "/pid5"));
    // Stop requested before the child ends on its own: whatever was first, no hang.
    EXPECT_TRUE(RunCommand(Sh("exit 0"), d) == 0 || RunCommand(Sh("exit 0"), d) == kRunStopped);
}

TEST(RunCommand, StallWatchdogCountsProgressAndOutputGrowth) {
    const QString dir = NewTempDir("stall");
    RunOptions o;
    o.workDir = dir;
    o.stallMs = 400;
    o.pollIntervalMs = 20;
    // Lines that are no progress do not keep a run alive.
    EXPECT_EQ(RunCommand(Sh("while :; do echo Opening x >&2; sleep 0.05; done"), o), kRunStalled);
    // Advancing time= does, for longer than the limit.
    int reports = 0;
    o.onProgress = [&](const FFmpegProgress&) { ++reports; };
    EXPECT_EQ(RunCommand(Sh("i=0; while [ $i -lt 12 ]; do i=$((i+1)); "
                            "echo \"size=1kB time=00:00:0$((i/2)).$((i%2*5))0\" >&2; "
                            "sleep 0.1; done"),
                         o),
              0);
    EXPECT_GE(reports, 10);
    // So does a growing output file, with nothing on stderr.
    o.onProgress = {};
    o.watchFile = dir + "/grow";
    EXPECT_EQ(RunCommand(Sh("i=0; while [ $i -lt 12 ]; do i=$((i+1)); echo x >> grow; "
                            "sleep 0.1; done"),
                         o),
              0);
}

TEST(RunCommand, StoppedFFmpegLeavesAPlayableMp4) {
    const QString dir = NewTempDir("ffstop");
    auto token = std::make_shared<StopToken>();
    RunOptions o;
    o.stop = token;
    std::int64_t last = -1;
    bool backwards = false;
    o.onProgress = [&](const FFmpegProgress& AP) {
        backwards = backwards || AP.timeMs() < last;
        last = AP.timeMs();
        if (AP.timeMs() >= 3000)
            token->request();
    };
    // An endless source, encoded in real time: only the stop ends it.
    Command c(FixtureFFmpeg());
    c.args({"-y", "-re", "-f", "lavfi", "-i", "color=c=blue:s=160x120:r=25", "-pix_fmt", "yuv420p",
            "-c:v", "libx264", "-preset", "ultrafast"});
    c.path(dir + "/out.mp4");
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunCommand(c, o), kRunStopped);
    EXPECT_FALSE(backwards);
    EXPECT_GE(last, 3000);
    // Finished, not killed: the index is there and the duration readable.
    EXPECT_GE(ProbeSeconds(dir + "/out.mp4"), 2.5);
}
