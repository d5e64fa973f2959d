// How closely the clip window's picture follows the thumb on the 30-minute 720p video: the
// position moved in steps as a drag or a held key moves it, and for each step the time until the
// picture control holds a picture of that position or a later one; then the exact frame once the
// thumb rests. Run under X (xvfb-run); prints median and worst per way of moving.
#include "BenchVideo.h"
#include "BenchWindow.h"
#include "ClipForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>

using namespace halvora;
using namespace halvora::bench;

namespace {

struct Figures {
    qint64 median = 0;
    qint64 worst = 0;
    int steps = 0;
};

// Moves the position AStepMs apart every AEveryMs, ASteps times from AFromMs; the latency of
// each step is the time until a picture of it or of a later step is shown.
Figures Follow(TClipForm& AForm, std::int64_t AFromMs, std::int64_t AStepMs, int AEveryMs,
               int ASteps) {
    ClipEditor& editor = AForm.Editor();
    QVector<double> asked;  // seconds of each step
    QVector<qint64> at;     // when it was asked
    QVector<qint64> answer; // when a picture answered it, -1: not yet
    QElapsedTimer clock;
    clock.start();
    // A quick picture, or the exact frame once the thumb rests, answers its step and every
    // step before it.
    auto answered = [&](double ASec) {
        const qsizetype i = asked.lastIndexOf(ASec);
        for (qsizetype k = 0; k <= i; ++k)
            if (answer[k] < 0)
                answer[k] = clock.elapsed();
    };
    const auto c = QObject::connect(&AForm.Preview(), &FramePreview::glimpsed, answered);
    const auto e = QObject::connect(&AForm.Preview(), &FramePreview::grabbed,
                                    [&](double ASec, bool) { answered(ASec); });
    for (int s = 0; s < ASteps; ++s) {
        editor.SeekMs(AFromMs + AStepMs * s);
        asked << editor.PositionMs() / 1000.0;
        at << clock.elapsed();
        answer << -1;
        QTest::qWait(AEveryMs);
    }
    (void)QTest::qWaitFor([&] { return answer.last() >= 0; }, 10000);
    QObject::disconnect(c);
    QObject::disconnect(e);
    QVector<qint64> lat;
    for (qsizetype i = 0; i < at.size(); ++i)
        lat << (answer[i] < 0 ? 10000 : answer[i] - at[i]);
    std::sort(lat.begin(), lat.end());
    return {lat[lat.size() / 2], lat.last(), int(lat.size())};
}

// The long video opened in AForm, its first still shown; false when it didn't load.
bool OpenLongVideo(TClipForm& AForm) {
    const QString video = LongVideo();
    if (!video.isEmpty()) {
        AForm.LoadFile(video);
        (void)QTest::qWaitFor([&] { return !AForm.Editor().Loading(); }, 120000);
        (void)QTest::qWaitFor([&] { return !AForm.Preview().grabbing(); }, 30000);
    }
    return AForm.Duration() >= kSeconds;
}

} // namespace

int main(int argc, char** argv) {
    PrepareWindowBench();
    QApplication app(argc, argv);
    BenchDialogs answers;
    const std::unique_ptr<TClipForm> window = NewBenchWindow(answers);
    TClipForm& form = *window;
    if (!OpenLongVideo(form)) {
        std::fprintf(stderr, "the video didn't load\n");
        return 1;
    }
    const struct {
        const char* name;
        std::int64_t fromMs, stepMs;
        int everyMs, steps;
    } ways[] = {
        {"drag across the video (37 s steps, every 100 ms)", 1000, 37000, 100, 48},
        {"PageUp held (10 s steps, every 33 ms)", 300000, 10000, 33, 120},
        {"'.' held (one frame, every 33 ms)", 900000, 40, 33, 120},
    };
    for (const auto& w : ways) {
        const Figures f = Follow(form, w.fromMs, w.stepMs, w.everyMs, w.steps);
        std::printf("%s: %d steps, picture after median %lld ms, worst %lld ms\n", w.name, f.steps,
                    (long long)f.median, (long long)f.worst);
        QTest::qWait(1000); // the exact frame of the rest, out of the next way's figures
    }
    // The exact frame once the thumb rests: the 500 ms rest, then the decode from the keyframe.
    QElapsedTimer t;
    QVector<qint64> exact;
    for (int i = 0; i < 5; ++i) {
        bool done = false;
        const auto c = QObject::connect(&form.Preview(), &FramePreview::grabbed,
                                        [&](double, bool) { done = true; });
        t.restart();
        form.Editor().SeekMs(123456 + i * 301234);
        (void)QTest::qWaitFor([&] { return done; }, 30000);
        exact << t.elapsed();
        QObject::disconnect(c);
    }
    std::sort(exact.begin(), exact.end());
    std::printf("exact frame after the thumb rests (500 ms rest included): median %lld ms, worst "
                "%lld ms\n",
                (long long)exact[exact.size() / 2], (long long)exact.last());
    return 0;
}
