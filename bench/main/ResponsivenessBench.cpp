// The main window while it converts: the longest gap between ticks of a 10 ms timer on the
// window thread during a conversion and a batch, and the time from Stop to the job's end (ffmpeg
// gone, partial output removed). Run under X (xvfb-run); prints one line per measurement.
// Usage: bench_responsiveness INPUT.ts WORK_DIR
#include "BenchForm.h"
#include "TickGap.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

using namespace halvora;
using namespace halvora::bench;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_responsiveness INPUT.ts WORK_DIR\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString work = QString::fromLocal8Bit(argv[2]);
    OkAnswers answers;
    BenchForm form(answers);
    form.show();
    form.EdtOutput->setText(work + "/out");
    std::printf("idle window: longest tick gap %lld ms over 3 s\n", (long long)IdleTickGap());

    // A conversion of the whole input.
    form.EdtInput->setText(input);
    QElapsedTimer t;
    t.start();
    form.BtnConvert->click();
    std::printf("conversion: %lld ms, longest tick gap %lld ms\n", (long long)t.elapsed(),
                (long long)LongestTickGap([&] { return form.busy(); }));

    // A batch of three folders holding the input.
    for (const char* s : {"one", "two", "three"}) {
        QDir().mkpath(work + "/root/" + s);
        QFile::link(input, work + "/root/" + s + "/local.ts");
    }
    form.EdtRoot->setText(work + "/root");
    t.restart();
    form.BtnBatch->click();
    std::printf("batch of 3: %lld ms, longest tick gap %lld ms\n", (long long)t.elapsed(),
                (long long)LongestTickGap([&] { return form.busy(); }));

    // Stop latency: a re-encoding stopped after two seconds.
    form.ChkFast->setChecked(false);
    form.BtnConvert->click();
    QElapsedTimer sinceStart;
    sinceStart.start();
    QElapsedTimer sinceStop;
    LongestTickGap([&] { return form.busy(); },
                   [&] {
                       if (!sinceStop.isValid() && sinceStart.elapsed() >= 2000) {
                           sinceStop.start();
                           form.BtnStop->click();
                       }
                   });
    std::printf("stop to end of job: %lld ms\n", (long long)sinceStop.elapsed());
    return 0;
}
