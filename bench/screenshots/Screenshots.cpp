// Takes the README's two pictures of the windows at work, with the real ffmpeg and libVLC: the
// main window converting a long TS (bar and status mid-way) and the clip window exporting a
// video with segments marked. Run by scripts/screenshots under Xvfb.
// Usage: halvora_screenshots LONG.ts VIDEO.mp4 WORK_DIR OUT_DIR
#include "ClipForm.h"
#include "Umain.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTreeView>
#include <cstdio>

using namespace halvora;

namespace {

class ShotForm : public TForm2 {
public:
    using TForm2::TForm2;

protected:
    void CheckForUpdateAsync() override {}
};

// Answers every box, so that the windows never wait for a person.
class Answers : public DialogService {
public:
    BoxAnswer message(QWidget*, BoxKind, const QString&, const QString& AText,
                      BoxButtons) override {
        std::fprintf(stderr, "box: %s\n", qPrintable(AText));
        return BoxAnswer::Yes;
    }
};

bool Fail(const char* AWhat) {
    std::fprintf(stderr, "screenshots: %s\n", AWhat);
    return false;
}

// The window as the X server shows it, libVLC's picture included.
QImage Shot(QWidget& AWindow) {
    AWindow.repaint();
    QApplication::processEvents();
    return AWindow.screen()->grabWindow(AWindow.winId()).toImage();
}

bool MainWindowConverting(const QString& AInput, const QString& AWork, const QString& AOut) {
    Answers answers;
    ShotForm form(answers);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return Fail("main window not shown");
    form.EdtOutput->setText(AWork);
    form.EdtInput->setText(AInput);
    // Re-encoding takes long enough to be caught half-way.
    form.ChkFast->setChecked(false);
    form.BtnConvert->click();
    QImage shot;
    const bool caught = QTest::qWaitFor(
        [&] {
            if (!form.busy())
                return true;
            if (form.ProgressBar1->value() < 41 || !form.LblStatus->text().contains("left"))
                return false;
            shot = Shot(form);
            return true;
        },
        600000);
    std::printf("main window: %s\n", qPrintable(form.LblStatus->text()));
    form.BtnStop->click();
    if (!QTest::qWaitFor([&] { return !form.busy(); }, 60000))
        return Fail("the conversion didn't stop");
    if (!caught || shot.isNull())
        return Fail("the conversion ended before it could be caught");
    return shot.save(AOut + "/main-window.png");
}

bool ClipWindowExporting(const QString& AVideo, const QString& AWork, const QString& AOut) {
    Answers answers;
    TClipForm form(answers);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return Fail("clip window not shown");
    form.OpenFile(AVideo);
    auto* track = form.findChild<QSlider*>("TrackBar1");
    if (!QTest::qWaitFor([&] { return form.Playing() && track->value() >= 3; }, 30000))
        return Fail("the video didn't play");
    // Marks on frames between whole seconds, as the frame keys leave them.
    auto mark = [&](std::int64_t AFromMs, std::int64_t AToMs) {
        form.Editor().SeekMs(AFromMs);
        form.findChild<QPushButton*>("BtnStart")->click();
        form.Editor().SeekMs(AToMs);
        form.findChild<QPushButton*>("BtnEnd")->click();
    };
    mark(15240, 42000);
    mark(130520, 151960);
    mark(290000, 333480);
    // Paused where the thumb is, as a user leaves it before exporting.
    track->setValue(96);
    if (!QTest::qWaitFor([&] { return track->value() >= 98; }, 30000))
        return Fail("the video didn't play on");
    form.findChild<QPushButton*>("BtnPlay")->click();
    form.findChild<QLineEdit*>("EdtOut")->setText(AWork + "/holiday cit.mp4");
    // A crop re-encodes all of it: long enough to be caught on its way.
    form.findChild<QLineEdit*>("EdtCrop")->setText("960:480:0:30");
    form.findChild<QPushButton*>("BtnExport")->click();
    auto* status = form.findChild<QLabel*>("LblStatus");
    QImage shot;
    const bool caught = QTest::qWaitFor(
        [&] {
            if (!form.Editor().Exporting())
                return true;
            // "Cutting: 00:01:21 / 00:04:29 (30%), about 1:02 left"
            static const QRegularExpression percent(QStringLiteral("\\((\\d+)%\\), about"));
            const QRegularExpressionMatch m = percent.match(status->text());
            if (!m.hasMatch() || m.captured(1).toInt() < 30)
                return false;
            shot = Shot(form);
            return true;
        },
        600000);
    std::printf("clip window: %s\n", qPrintable(status->text()));
    form.Editor().StopExport();
    if (!QTest::qWaitFor([&] { return !form.Editor().Exporting(); }, 60000))
        return Fail("the export didn't stop");
    if (!caught || shot.isNull())
        return Fail("the export ended before it could be caught");
    return shot.save(AOut + "/clip-window.png");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: halvora_screenshots LONG.ts VIDEO.mp4 WORK_DIR OUT_DIR\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[3]);
    const QString out = QString::fromLocal8Bit(argv[4]);
    if (!ApplySkyStyle())
        return Fail("no style"), 1;
    const bool main = MainWindowConverting(QString::fromLocal8Bit(argv[1]), work, out);
    const bool clip = ClipWindowExporting(QString::fromLocal8Bit(argv[2]), work, out);
    return main && clip ? 0 : 1;
}
