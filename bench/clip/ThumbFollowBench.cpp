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
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

using namespace halvora;
using namespace halvora::bench;

namespace {

// Hands each picture the preview shows to AOnScreen once the picture control has painted it.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* ABox, std::function<void(double)> AOnScreen)
        : FBox(ABox), FOnScreen(std::move(AOnScreen)) {
        FBox->installEventFilter(this);
    }
    ~PaintWatch() override { FBox->removeEventFilter(this); }
    void shown(double ASec) { FWaiting << ASec; }

protected:
    bool eventFilter(QObject* AObj, QEvent* AEvent) override {
        if (AObj == FBox && AEvent->type() == QEvent::Paint) {
            // The paint runs after the handler returns; the next turn of the loop sees it done.
            const QVector<double> painted = std::exchange(FWaiting, {});
            QTimer::singleShot(0, this, [this, painted] {
                for (const double sec : painted)
                    FOnScreen(sec);
            });
        }
        return false;
    }

private:
    QWidget* FBox;
    std::function<void(double)> FOnScreen;
    QVector<double> FWaiting;
};

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
    QVector<double> asked; // seconds of each step
    QVector<qint64> at;    // when it was asked
    // Every picture shown: when, and of which second. A picture may come within the step's own
    // seek call, before the step is known, so the steps are matched to them afterwards.
    QVector<QPair<qint64, double>> shown;
    QElapsedTimer clock;
    clock.start();
    PaintWatch watch(AForm.findChild<QWidget*>(QStringLiteral("ImgPreview")), [&](double ASec) {
        shown.append({clock.elapsed(), ASec});
    });
    const auto c = QObject::connect(&AForm.Preview(), &FramePreview::glimpsed,
                                    [&](double ASec) { watch.shown(ASec); });
    const auto e = QObject::connect(&AForm.Preview(), &FramePreview::grabbed,
                                    [&](double ASec, bool) { watch.shown(ASec); });
    for (int s = 0; s < ASteps; ++s) {
        at << clock.elapsed();
        editor.SeekMs(AFromMs + AStepMs * s);
        asked << editor.PositionMs() / 1000.0;
        QTest::qWait(AEveryMs);
    }
    // A picture of a step answers that step and every step before it.
    auto answerOf = [&](qsizetype AStep) -> qint64 {
        for (const auto& [when, sec] : shown) {
            const qsizetype i = asked.lastIndexOf(sec);
            if (when >= at[AStep] && i >= AStep)
                return when;
        }
        return -1;
    };
    (void)QTest::qWaitFor([&] { return answerOf(ASteps - 1) >= 0; }, 10000);
    QObject::disconnect(c);
    QObject::disconnect(e);
    QVector<qint64> lat;
    for (qsizetype i = 0; i < at.size(); ++i) {
        const qint64 answer = answerOf(i);
        lat << (answer < 0 ? 10000 : answer - at[i]);
    }
    std::sort(lat.begin(), lat.end());
    return {lat[lat.size() / 2], lat.last(), int(lat.size())};
}

// The long video opened in AForm, its first still shown; false when it didn't load.
bool OpenLongVideo(TClipForm& AForm) {
    const QString video = LongVideo();
    if (!video.isEmpty()) {
        AForm.LoadFile(video);
        (void)QTest::qWaitFor([&] { return !AForm.Editor().Loading(); }, 120000);
        QElapsedTimer t;
        t.start();
        (void)QTest::qWaitFor([&] { return !AForm.Preview().grabbing(); }, 30000);
        // The keyframe pictures are made in the background once the video is open.
        (void)QTest::qWaitFor([&] { return !AForm.Preview().keyPictures().running(); }, 120000);
        std::printf("keyframe pictures: %d ready %lld ms after the video was read\n",
                    AForm.Preview().keyPictures().count(), (long long)t.elapsed());
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
