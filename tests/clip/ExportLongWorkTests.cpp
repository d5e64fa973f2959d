// Long work in the clip window under Xvfb with the real ffmpeg: no time limit on a long
// cropped export, progress over the kept time, Stop (button and Esc), closing with Yes; the
// opening of a video on the worker.
#include "ClipWindowTest.h"
#include "Controls.h"
#include "FakeDialogs.h"
#include "MediaIndex.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// A 720p video that is cheap to make and to encode: a plain colour and a tone.
bool MakePlainVideo(const QString& APath, int ASeconds, int AKeyEvery = 50) {
    return RunFixtureFFmpeg(
        {"-f",        "lavfi",
         "-i",        QStringLiteral("color=c=navy:s=1280x720:r=25:d=%1").arg(ASeconds),
         "-f",        "lavfi",
         "-i",        QStringLiteral("sine=frequency=440:duration=%1").arg(ASeconds),
         "-pix_fmt",  "yuv420p",
         "-c:v",      "libx264",
         "-preset",   "ultrafast",
         "-g",        QString::number(AKeyEvery),
         "-c:a",      "aac",
         "-b:a",      "32k",
         "-shortest", APath});
}

QStringList Leftovers(const QString& ADir) {
    QStringList names;
    QDirIterator it(ADir, QDir::Files);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith("seg_") || it.fileName() == "list.txt")
            names << it.fileName();
    }
    return names;
}

class ExportLongWork : public ClipWindowTest {
protected:
    // Esc or the Stop button ends the running export: stopped, without a box.
    bool StopExport(bool AEsc) {
        if (AEsc)
            QTest::keyClick(FForm.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(W<QPushButton>("BtnStop"), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, 30000))
            return false;
        EXPECT_EQ(Status(), "Export stopped");
        EXPECT_TRUE(FDialogs.boxes.isEmpty());
        return true;
    }
    bool Idle(int AMs = 600000) {
        return QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, AMs);
    }
};

} // namespace

TEST_F(ExportLongWork, LongCroppedExportCompletesWithProgressOverTheKeptTime) {
    const QString dir = NewTempDir("long720");
    ASSERT_TRUE(MakePlainVideo(dir + "/plain.mp4", 190));
    FForm->LoadFile(dir + "/plain.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
    ASSERT_EQ(FForm->Duration(), 190);
    // Delete 0:05-0:10: 185 s are kept, re-encoded (the crop) in two cuts.
    W<QSlider>("TrackBar1")->setValue(5);
    QTest::mouseClick(W<QPushButton>("BtnStart"), Qt::LeftButton);
    W<QSlider>("TrackBar1")->setValue(10);
    QTest::mouseClick(W<QPushButton>("BtnEnd"), Qt::LeftButton);
    W<QLineEdit>("EdtCrop")->setText("640:360:0:0");
    const QString out = dir + "/cropped.mp4";
    W<QLineEdit>("EdtOut")->setText(out);

    QList<int> percents;
    const QRegularExpression line(
        "^(Cutting|Joining): (\\d\\d:\\d\\d:\\d\\d) / 00:03:05 \\((\\d+)%\\)");
    QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
    EXPECT_TRUE(FForm->Editor().Exporting());
    EXPECT_FALSE(W<QPushButton>("BtnExport")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("BtnOpen")->isEnabled());
    EXPECT_TRUE(W<QPushButton>("BtnStop")->isEnabled());
    // Sample the cutting progress as the window shows it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto m = line.match(Status());
            if (m.hasMatch() && m.captured(1) == "Cutting")
                percents << m.captured(3).toInt();
            return !FForm->Editor().Exporting();
        },
        600000));
    ASSERT_FALSE(percents.isEmpty());
    for (int i = 1; i < percents.size(); ++i)
        EXPECT_GE(percents[i], percents[i - 1]);
    EXPECT_EQ(Status(), "Export complete: " + out);
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_NEAR(ProbeSeconds(out), 185.0, 1.5);
    EXPECT_EQ(ProbeSize(out), "640x360");
    EXPECT_TRUE(W<QPushButton>("BtnExport")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("BtnStop")->isEnabled());
    QDir(dir).removeRecursively();
}

TEST_F(ExportLongWork, StopAndEscLeaveNothingBehindAndCloseWithYesStops) {
    const QString dir = NewTempDir("stopexp");
    ASSERT_TRUE(MakePlainVideo(dir + "/plain.mp4", 120));
    FForm->LoadFile(dir + "/plain.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
    W<QLineEdit>("EdtCrop")->setText("640:360:0:0");
    const QString out = dir + "/out.mp4";
    W<QLineEdit>("EdtOut")->setText(out);
    const QString work = MakeClipWorkDir(); // the editor's, this run's own
    // A finished export leaves its cuts; only what this test's stopped exports leave counts.
    for (const QString& f : Leftovers(work))
        QFile::remove(work + f);

    for (const bool esc : {false, true}) {
        FDialogs.boxes.clear();
        QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status().startsWith("Cutting: 00:00:0"); }, 60000))
            << Status().toStdString();
        ASSERT_TRUE(StopExport(esc));
        EXPECT_FALSE(QFile::exists(out));
        EXPECT_TRUE(Leftovers(work).isEmpty()) << Leftovers(work).join(' ').toStdString();
        EXPECT_TRUE(FForm->isVisible());
        EXPECT_TRUE(W<QPushButton>("BtnExport")->isEnabled());
    }

    // Closing during an export with Yes: stopped, nothing left, the window goes.
    QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status().startsWith("Cutting: 00:00:0"); }, 60000));
    FDialogs.answers = {BoxAnswer::Yes};
    FForm->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->isVisible(); }, 30000));
    EXPECT_EQ(FDialogs.texts(), QStringList{"A conversion is running. Stop it and close?"});
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(Leftovers(work).isEmpty());
    FForm.reset();
    QDir(dir).removeRecursively();
}

TEST_F(ExportLongWork, StopAndEscDuringAnExactCutLeaveTheFoldersAsTheyWere) {
    const QString dir = NewTempDir("stopexact");
    // Keyframes a minute apart: the piece re-encoded from a mark to the next keyframe is long.
    ASSERT_TRUE(MakePlainVideo(dir + "/plain.mp4", 120, 1500));
    FForm->LoadFile(dir + "/plain.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
    // Delete 0:02-0:03, no crop: an exact cut.
    W<QSlider>("TrackBar1")->setValue(2);
    QTest::mouseClick(W<QPushButton>("BtnStart"), Qt::LeftButton);
    W<QSlider>("TrackBar1")->setValue(3);
    QTest::mouseClick(W<QPushButton>("BtnEnd"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !FForm->Preview().grabbing() && !FForm->Preview().glimpsing(); }, 30000));
    const QString out = dir + "/out.mp4";
    W<QLineEdit>("EdtOut")->setText(out);
    const QString work = MakeClipWorkDir(); // the editor's, this run's own
    const QStringList folders{work, dir, QDir::tempPath()};
    const QStringList before = FilesIn(folders);

    for (const bool esc : {false, true}) {
        FDialogs.boxes.clear();
        QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
        // Stopped while a piece of the exact cut is being written.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return Status().startsWith("Cutting: ") &&
                       !QDir(work).entryList({"seg_*_v*"}, QDir::Files).isEmpty();
            },
            60000))
            << Status().toStdString();
        ASSERT_TRUE(StopExport(esc));
        EXPECT_EQ(FilesIn(folders), before);
        EXPECT_TRUE(W<QPushButton>("BtnExport")->isEnabled());
    }
    FForm.reset();
    QDir(dir).removeRecursively();
}

namespace {

// Half an hour of small video: cheap to make (copied in a loop), yet reading its 45000 packets
// takes ffprobe a noticeable while.
bool MakeLongVideo(const QString& ADir, const QString& APath) {
    const QString part = ADir + "/part.mp4";
    return MakeVideo(part, 2, 160, 120) &&
           RunFixtureFFmpeg({"-stream_loop", "899", "-i", part, "-c", "copy", APath}) &&
           QFile::remove(part);
}

// A 10 ms timer on the window thread: counts its ticks while the condition holds.
int TicksWhile(const std::function<bool()>& ACondition) {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !ACondition(); }, 120000));
    return ticks;
}

} // namespace

TEST_F(ExportLongWork, OpeningRunsOnTheWorkerSupersededStoppedAndClosed) {
    const QString dir = NewTempDir("opening");
    const QString big = dir + "/big.mp4";
    const QString small = dir + "/small.mp4";
    ASSERT_TRUE(MakeLongVideo(dir, big));
    ASSERT_TRUE(MakeVideo(small, 4));
    QSignalSpy finished(&FForm->Editor(), &ClipEditor::loadFinished);

    // The window keeps working while the probes run; nothing that needs the video is offered.
    FForm->LoadFile(big);
    ASSERT_TRUE(FForm->Editor().Loading());
    EXPECT_EQ(Status(), "Reading big.mp4...");
    for (const char* n : {"BtnExport", "BtnStart", "BtnPlay", "TrackBar1", "EdtOut"})
        EXPECT_FALSE(W<QWidget>(n)->isEnabled()) << n;
    EXPECT_TRUE(W<QWidget>("BtnOpen")->isEnabled());
    EXPECT_TRUE(W<QWidget>("BtnStop")->isEnabled());
    EXPECT_GE(TicksWhile([&] { return FForm->Editor().Loading(); }), 5);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(FForm->InFile(), big);
    EXPECT_GE(FForm->Duration(), 1800);
    EXPECT_TRUE(FForm->Editor().Index().ok);
    EXPECT_TRUE(Status().startsWith("Loaded big.mp4 (duration 30:"));
    EXPECT_TRUE(W<QWidget>("BtnExport")->isEnabled());
    EXPECT_FALSE(W<QWidget>("BtnStop")->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Preview().image().isNull(); }, 30000));

    // A second open while the first still reads: only the second one's results are taken.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Preview().grabbing(); }, 30000));
    FForm->LoadFile(big);
    ASSERT_TRUE(QTest::qWaitFor([] { return ChildProcesses() > 0; }, 30000));
    FForm->LoadFile(small);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
    EXPECT_EQ(finished.count(), 2);
    EXPECT_EQ(FForm->InFile(), small);
    EXPECT_EQ(FForm->Duration(), 4);
    EXPECT_EQ(Status(), "Loaded small.mp4 (duration 00:04)");
    EXPECT_EQ(W<QSlider>("TrackBar1")->maximum(), 4);
    EXPECT_EQ(KeyframeSeconds(FForm->Editor().Index()), QVector<double>({0, 1, 2, 3}));

    // Stop and Esc end an opening: nothing is loaded, no probe is left running.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Preview().grabbing(); }, 30000));
    for (const bool esc : {false, true}) {
        FForm->LoadFile(big);
        ASSERT_TRUE(QTest::qWaitFor([] { return ChildProcesses() > 0; }, 30000));
        if (esc)
            QTest::keyClick(FForm.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(W<QPushButton>("BtnStop"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 30000));
        EXPECT_EQ(Status(), "Reading big.mp4 stopped");
        EXPECT_TRUE(FForm->InFile().isEmpty());
        EXPECT_FALSE(W<QWidget>("BtnExport")->isEnabled());
        EXPECT_FALSE(W<QWidget>("BtnStop")->isEnabled());
        EXPECT_EQ(ChildProcesses(), 0);
        EXPECT_TRUE(FDialogs.boxes.isEmpty());
    }

    // Closing while a video opens asks nothing and leaves no child behind.
    FForm->LoadFile(big);
    ASSERT_TRUE(QTest::qWaitFor([] { return ChildProcesses() > 0; }, 30000));
    FForm->close();
    EXPECT_FALSE(FForm->isVisible());
    FForm.reset();
    EXPECT_EQ(ChildProcesses(), 0);
    EXPECT_TRUE(FDialogs.boxes.isEmpty());
    QDir(dir).removeRecursively();
}
