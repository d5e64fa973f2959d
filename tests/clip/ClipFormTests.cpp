// The clip window under Xvfb with the real ffmpeg and libVLC, driven by object names; boxes and
// file dialogs are answered by a recording dialog service.
#include "ClipForm.h"
#include "Controls.h"
#include "DropSupport.h"
#include "FakeDialogs.h"
#include "LayoutSupport.h"
#include "MediaProbe.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

using namespace halvora;
using namespace halvora::test;

namespace {

class ClipFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sDir = new QString(NewTempDir(QStringLiteral("clipform")));
        ASSERT_TRUE(MakeVideo(*sDir + "/movie.mp4", 3));
        ASSERT_TRUE(MakeVideo(*sDir + "/long clip.mp4", 8));
        ASSERT_TRUE(WriteAll(*sDir + "/broken.mp4", QByteArray("this is no video\n")));
    }
    static void TearDownTestSuite() {
        QDir(*sDir).removeRecursively();
        delete sDir;
    }
    void SetUp() override {
        // The videos are shared by the tests: a cut list one of them left is not offered to
        // the next.
        for (const QString& f : QDir(*sDir).entryList({"*.halvora-cuts.json"}))
            QFile::remove(*sDir + "/" + f);
        FForm = std::make_unique<TClipForm>(FDialogs);
        FForm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
    }
    void TearDown() override { FForm.reset(); }

    template <typename T> T* W(const char* AName) { return Child<T>(FForm.get(), AName); }
    QSlider* Track() { return W<QSlider>("TrackBar1"); }
    QString Status() { return W<QLabel>("LblStatus")->text(); }

    // Mean and spread of the grey levels the X server shows in the preview panel's place,
    // libVLC's picture included.
    std::pair<double, double> PanelStats(QImage* AShot = nullptr) {
        QWidget* panel = W<QWidget>("PanelPreview");
        const QImage shot = FForm->screen()
                                ->grabWindow(FForm->winId())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        if (AShot)
            *AShot = shot;
        if (shot.isNull())
            return {0, 0};
        const QRect area(panel->mapTo(FForm.get(), QPoint(0, 0)), panel->size());
        double sum = 0, sumSq = 0;
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); y += 2)
            for (int x = area.left(); x <= area.right(); x += 2) {
                const int g = qGray(shot.pixel(x, y));
                sum += g;
                sumSq += double(g) * g;
                ++n;
            }
        const double mean = sum / n;
        return {mean, std::sqrt(std::max(0.0, sumSq / n - mean * mean))};
    }
    void Click(const char* AName) { QTest::mouseClick(W<QPushButton>(AName), Qt::LeftButton); }
    // Export runs on a worker: clicks Export and waits until it has ended (boxes answered).
    void ExportAndWait() {
        Click("BtnExport");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, 60000));
    }
    // Opening runs on a worker: waits until its results are in.
    void WaitLoaded() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
    }
    void Load(const QString& AFile) {
        FForm->LoadFile(AFile);
        WaitLoaded();
    }
    // Opens AFile through "Open MP4...", the dialog answered with it.
    void OpenThroughDialog(const QString& AFile) {
        FDialogs.files << AFile;
        Click("BtnOpen");
        WaitLoaded();
    }
    bool PlayerAt(std::int64_t AMinMs) {
        return FForm->Player() && FForm->Player()->GetTime() >= AMinMs;
    }

    static QString* sDir;
    FakeDialogs FDialogs;
    std::unique_ptr<TClipForm> FForm;
};
QString* ClipFormTest::sDir = nullptr;

} // namespace

TEST(ClipPicture, ScaledWithAspectRatioKept) {
    TPictureBox box;
    box.resize(800, 400);
    EXPECT_TRUE(box.PictureRect().isEmpty());
    QImage img(480, 360, QImage::Format_RGB888);
    img.fill(Qt::red);
    box.SetImage(img);
    EXPECT_EQ(box.PictureRect(), QRect(133, 0, 533, 400));
    box.resize(400, 800);
    EXPECT_EQ(box.PictureRect(), QRect(0, 250, 400, 300));
}

TEST_F(ClipFormTest, KeyframeTicksUnderTheTrackBar) {
    auto* ticks = W<TKeyframeTicks>("KeyframeTicks");
    ASSERT_NE(ticks, nullptr);
    EXPECT_TRUE(ticks->TickPositions().isEmpty());
    const QString sparse = *sDir + "/sparse.mp4";
    ASSERT_TRUE(MakeVideo(sparse, 8, 160, 120, true, 50)); // a keyframe every 2 s
    Load(sparse);
    ASSERT_EQ(FForm->InFile(), sparse);
    EXPECT_GE(ticks->geometry().top(), Track()->geometry().bottom());
    EXPECT_LT(ticks->geometry().bottom(), W<QWidget>("BtnStart")->geometry().top());
    const QVector<int> x = ticks->TickPositions();
    ASSERT_EQ(x.size(), 4); // 0, 2, 4, 6 s of 8
    for (int i = 1; i < x.size(); ++i)
        EXPECT_NEAR(x[i] - x[i - 1], x[1] - x[0], 1);
    EXPECT_GT(x[1] - x[0], 50);
    EXPECT_GE(x[0], 0);
    EXPECT_LT(x.last(), ticks->width());
    EXPECT_LT(x[0], 20); // under the thumb at 0 s, near the left end
    Track()->setValue(3);
    Click("BtnStart");
    EXPECT_TRUE(Status().endsWith(" - between keyframes")) << Status().toStdString();
}

TEST_F(ClipFormTest, LayoutTextsAndStartState) {
    EXPECT_EQ(FForm->windowTitle(),
              "Halvora - MP4 Clip (mark segments to delete, stitch the rest)");
    EXPECT_EQ(FForm->size(), QSize(857, 876));
    EXPECT_EQ(FForm->font().pointSize(), 9);
    struct Item {
        const char* name;
        QRect geom;
        const char* text;
    };
    const Item buttons[] = {
        {"BtnOpen", {565, 13, 100, 28}, "Open MP4..."},
        {"BtnStart", {26, 36, 100, 30}, "Mark start"},
        {"BtnEnd", {174, 36, 100, 30}, "Mark end"},
        {"BtnDel", {298, 36, 110, 30}, "Remove marks"},
        {"BtnClear", {424, 36, 80, 30}, "Clear"},
        {"BtnPlay", {526, 36, 80, 30}, "Play"},
        {"BtnOut", {541, 227, 100, 28}, "Output dir..."},
        {"BtnExport", {11, 261, 630, 36}, "Export (stitch everything except deleted segments)"},
    };
    for (const Item& b : buttons) {
        EXPECT_EQ(W<QPushButton>(b.name)->geometry(), b.geom) << b.name;
        EXPECT_EQ(W<QPushButton>(b.name)->text(), b.text) << b.name;
    }
    EXPECT_EQ(W<QLineEdit>("EdtClip")->geometry(), QRect(8, 17, 537, 23));
    EXPECT_EQ(W<QLineEdit>("EdtOut")->geometry(), QRect(11, 227, 500, 23));
    const QRect crop = W<QLineEdit>("EdtCrop")->geometry();
    EXPECT_GE(crop.x(), 274);
    EXPECT_EQ(QRect(274, crop.y(), crop.width(), crop.height()), QRect(274, 343, 108, 23));
    EXPECT_FALSE(crop.intersects(W<QLabel>("LblCrop")->geometry())); // its label stays readable
    EXPECT_EQ(W<QLineEdit>("EdtCrop")->toolTip(),
              "W:H:x:y e.g. 1280:720:0:0 (crop requires re-encode)");
    EXPECT_EQ(W<QWidget>("PanelPreview")->geometry(), QRect(8, 46, 801, 364));
    EXPECT_TRUE(W<QWidget>("PanelPreview")->testAttribute(Qt::WA_NativeWindow));
    EXPECT_FALSE(W<QWidget>("PanelPreview")->isVisible());
    EXPECT_EQ(W<QWidget>("ImgPreview")->parentWidget(), W<QWidget>("PanelPreview"));
    EXPECT_EQ(W<QWidget>("ImgPreview")->geometry(), QRect(0, 0, 801, 364));
    EXPECT_EQ(W<QWidget>("Panel1")->geometry(), QRect(0, 450, 857, 426));
    EXPECT_EQ(Track()->geometry(), QRect(1, 0, 519, 30));
    EXPECT_EQ(W<QLabel>("LblTime")->pos(), QPoint(541, 11));
    EXPECT_EQ(W<QLabel>("LblTime")->text(), "00:00 / 00:00");
    EXPECT_EQ(W<QLabel>("LblVideoSize")->pos(), QPoint(10, 351));
    EXPECT_EQ(W<QLabel>("LblVideoSize")->text(), "Video: -");
    EXPECT_EQ(W<QLabel>("LblCrop")->pos(), QPoint(187, 351));
    EXPECT_EQ(W<QLabel>("LblCrop")->text(), "Crop (optional)");
    EXPECT_EQ(W<QLabel>("LblStatus")->pos(), QPoint(10, 392));
    EXPECT_EQ(Status(), "Ready - open MP4 to start clipping");

    QTreeView* lv = W<QTreeView>("LvSegs");
    EXPECT_EQ(lv->geometry(), QRect(11, 72, 612, 149));
    EXPECT_EQ(lv->model()->headerData(0, Qt::Horizontal).toString(), "Delete segment (start-end)");
    EXPECT_EQ(lv->model()->headerData(1, Qt::Horizontal).toString(), "Duration");
    EXPECT_EQ(lv->columnWidth(0), 380);
    EXPECT_EQ(lv->columnWidth(1), 100);
    EXPECT_EQ(lv->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
    // The segments' times are edited in place (F2 or a double-click), nothing else is.
    EXPECT_EQ(lv->editTriggers(),
              QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);

    // The eleven editing controls start disabled; the file field and Open never are.
    for (const char* n : {"BtnStart", "BtnEnd", "BtnDel", "BtnClear", "BtnPlay", "BtnExport",
                          "BtnOut", "TrackBar1", "EdtOut", "EdtCrop", "LvSegs"})
        EXPECT_FALSE(W<QWidget>(n)->isEnabled()) << n;
    EXPECT_TRUE(W<QWidget>("EdtClip")->isEnabled());
    EXPECT_TRUE(W<QWidget>("BtnOpen")->isEnabled());

    EXPECT_EQ(FForm->Preview().timer().interval(), 500);
    EXPECT_FALSE(FForm->Preview().timer().isActive());
    EXPECT_EQ(FForm->PlayTimer().interval(), 500);
    EXPECT_FALSE(FForm->PlayTimer().isActive());
    EXPECT_EQ(FForm->Player(), nullptr);

    // Tab order: the named controls in the focus chain, starting at the file field.
    const QStringList order = {"EdtClip",   "BtnOpen",  "TrackBar1", "BtnStart", "BtnEnd",
                               "BtnDel",    "BtnClear", "BtnPlay",   "LvSegs",   "EdtOut",
                               "BtnExport", "BtnOut",   "EdtCrop"};
    QStringList chain;
    QWidget* w = W<QWidget>("EdtClip");
    do {
        if (order.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != W<QWidget>("EdtClip"));
    EXPECT_EQ(chain, order);

    // Play with nothing loaded.
    FForm->BtnPlayClick();
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(FDialogs.boxes[0].text, "Please open a video first");
}

TEST_F(ClipFormTest, OpenPlaysAtOnceThumbFollowsAndSeeks) {
    const QString file = *sDir + "/long clip.mp4";
    OpenThroughDialog(file);
    EXPECT_EQ(FDialogs.fileTitles.value(0), "Select MP4 file");
    EXPECT_EQ(FDialogs.fileFilter, "Video files (*.mp4 *.ts *.mkv);;All files (*)");
    EXPECT_TRUE(FDialogs.boxes.isEmpty());
    EXPECT_EQ(W<QLineEdit>("EdtClip")->text(), file);
    EXPECT_EQ(FForm->InFile(), file);
    EXPECT_EQ(FForm->Duration(), 8);
    EXPECT_EQ(Track()->maximum(), 8);
    EXPECT_EQ(W<QLabel>("LblVideoSize")->text(), "Video: 320x240");
    EXPECT_EQ(W<QLabel>("LblAudio")->text(), "Audio: 1 track");
    EXPECT_TRUE(W<QLabel>("LblAudio")->isVisible());
    for (const char* other : {"LblVideoSize", "EdtCrop", "LblStatus", "LblCrop"})
        EXPECT_FALSE(W<QWidget>("LblAudio")->geometry().intersects(W<QWidget>(other)->geometry()))
            << other;
    EXPECT_EQ(Status(), "Loaded long clip.mp4 (duration 00:08)");
    EXPECT_EQ(W<QLineEdit>("EdtOut")->text(), *sDir + "/long clipcit.mp4");
    // The still frame of second 0 follows the load from the preview's worker.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return W<TPictureBox>("ImgPreview")->Image().size() == QSize(480, 360); }, 20000));

    // Playback started at once.
    EXPECT_TRUE(FForm->Playing());
    EXPECT_TRUE(W<QWidget>("PanelPreview")->isVisible());
    EXPECT_EQ(W<QPushButton>("BtnPlay")->text(), "Stop");
    EXPECT_TRUE(FForm->PlayTimer().isActive());
    ASSERT_NE(FForm->Player(), nullptr);
    EXPECT_TRUE(FForm->Player()->IsOpen());

    // The thumb and the time label follow the player.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Track()->value() >= 1; }, 10000));
    EXPECT_TRUE(W<QLabel>("LblTime")->text().endsWith(" / 00:08"));

    // Moving the track bar during playback seeks and arms no frame grab.
    QSignalSpy grabs(&FForm->Preview(), &FramePreview::grabbed);
    // Reached in less time than playing on from here could get there.
    ASSERT_LT(FForm->Player()->GetTime(), 2500);
    Track()->setValue(5);
    EXPECT_EQ(W<QLabel>("LblTime")->text(), "00:05 / 00:08");
    EXPECT_FALSE(FForm->Preview().armed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return PlayerAt(5000); }, 2000));

    // Pause and resume inside playback mode.
    Click("BtnPlay");
    EXPECT_EQ(W<QPushButton>("BtnPlay")->text(), "Play");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !FForm->Player()->IsPlaying(); }, 5000));
    EXPECT_TRUE(FForm->Playing());
    Click("BtnPlay");
    EXPECT_EQ(W<QPushButton>("BtnPlay")->text(), "Stop");
    EXPECT_TRUE(QTest::qWaitFor([&] { return FForm->Player()->IsPlaying(); }, 5000));

    // The end of the clip ends playback mode; the thumb stays where the last tick put it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Playing(); }, 15000));
    EXPECT_TRUE(W<QWidget>("PanelPreview")->isVisible()); // the still frame again
    EXPECT_EQ(W<QPushButton>("BtnPlay")->text(), "Play");
    EXPECT_FALSE(FForm->PlayTimer().isActive());
    EXPECT_FALSE(FForm->Player()->IsOpen());
    EXPECT_GE(Track()->value(), 6);
    EXPECT_EQ(grabs.count(), 0);

    // Afterwards a move arms the debounce: one grab, of the second under the thumb.
    Track()->setValue(2);
    EXPECT_TRUE(FForm->Preview().armed());
    Track()->setValue(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grabs.count() == 1; }, 10000));
    EXPECT_EQ(grabs[0][0].toInt(), 3);
    EXPECT_TRUE(grabs[0][1].toBool());
    // And it is what the panel shows: libVLC's window has gone, the still frame is painted.
    FForm->repaint();
    EXPECT_GT(PanelStats().second, 20.0);

    // Play with the thumb at the end starts from 0.
    Track()->setValue(8);
    Click("BtnPlay");
    EXPECT_TRUE(FForm->Playing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return FForm->Player()->IsPlaying(); }, 10000));
    EXPECT_LT(FForm->Player()->GetTime(), 3000);

    // Play from a position inside the clip starts there.
    Load(file);
    EXPECT_FALSE(FForm->Playing());
    EXPECT_FALSE(FForm->Player()->IsPlaying());
    Track()->setValue(4);
    Click("BtnPlay");
    // Played from 0 it would take 4 s to get there.
    EXPECT_TRUE(QTest::qWaitFor([&] { return PlayerAt(4000); }, 3000));
}

TEST_F(ClipFormTest, ScreenshotDuringPlaybackShowsTheVideo) {
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_TRUE(FForm->Playing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlayerAt(2000) && Track()->value() >= 2; }, 10000));
    FForm->repaint(); // the thumb and label as the last tick left them
    QImage shot;
    const auto [mean, spread] = PanelStats(&shot);
    EXPECT_GT(mean, 20.0);
    EXPECT_GT(spread, 20.0);
    const QString out = qEnvironmentVariableIsSet("HALVORA_SCREENSHOT_DIR")
                            ? qEnvironmentVariable("HALVORA_SCREENSHOT_DIR")
                            : NewTempDir(QStringLiteral("shot"));
    EXPECT_TRUE(shot.save(out + "/clip-window.png"));
    std::printf("preview area mean %.1f spread %.1f\n", mean, spread);
}

// Enlarged, the picture and the segment list take the extra room, the file fields, time line
// and Export the extra width, the buttons at the right move along; the playing video fills the
// larger picture; nothing overlaps at any size and the window never gets smaller than designed.
TEST_F(ClipFormTest, GrowsWithPictureAndListAndKeepsItsMinimum) {
    auto geom = [&](const char* AName) { return W<QWidget>(AName)->geometry(); };
    EXPECT_EQ(LayoutProblems(FForm.get()), QStringList());
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return FForm->Playing() && Track()->maximum() == 8; }, 10000));
    const QRect preview = geom("PanelPreview");
    const QRect list = geom("LvSegs");
    const QRect open = geom("BtnOpen");
    const QRect out = geom("BtnOut");
    const QRect stop = geom("BtnStop");

    FForm->resize(857 + 300, 876 + 120);
    ASSERT_TRUE(QTest::qWaitFor([&] { return geom("LvSegs").width() > list.width(); }, 5000));
    EXPECT_EQ(geom("PanelPreview").width(), preview.width() + 300);
    EXPECT_EQ(geom("LvSegs").width(), list.width() + 300);
    EXPECT_GT(geom("PanelPreview").height(), preview.height() + 40);
    EXPECT_GT(geom("LvSegs").height(), list.height() + 20);
    EXPECT_EQ(geom("PanelPreview").height() + geom("LvSegs").height(),
              preview.height() + list.height() + 120);
    EXPECT_EQ(geom("ImgPreview"), QRect(QPoint(), geom("PanelPreview").size()));
    EXPECT_EQ(geom("EdtClip").width(), 537 + 300);
    EXPECT_EQ(geom("EdtOut").width(), 500 + 300);
    EXPECT_EQ(geom("BtnExport").width(), 630 + 300);
    EXPECT_EQ(geom("TrackBar1").width(), 519 + 300);
    EXPECT_EQ(geom("KeyframeTicks").x(), geom("TrackBar1").x());
    EXPECT_EQ(geom("KeyframeTicks").width(), geom("TrackBar1").width());
    EXPECT_EQ(geom("BtnOpen"), open.translated(300, 0));
    // Below the list, as much lower as the list grew.
    const int lower = geom("LvSegs").height() - list.height();
    EXPECT_EQ(geom("BtnOut"), out.translated(300, lower));
    EXPECT_EQ(geom("BtnStop"), stop.translated(300, lower));
    EXPECT_EQ(LayoutProblems(FForm.get()), QStringList());
    // libVLC draws into the larger panel: its right half shows the picture too.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QWidget* panel = W<QWidget>("PanelPreview");
            const QImage shot = FForm->screen()->grabWindow(FForm->winId()).toImage();
            const QPoint c = panel->mapTo(FForm.get(), panel->rect().center());
            int lit = 0;
            for (int x = c.x(); x < c.x() + 200; x += 10)
                lit += qGray(shot.pixel(x, c.y())) > 40;
            return lit >= 10;
        },
        10000));

    // Marked and listed as a person would, by the buttons at their new places.
    FForm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    Click("BtnPlay"); // pause
    Track()->setValue(2);
    QTest::mouseClick(FForm->windowHandle(), Qt::LeftButton, {},
                      W<QWidget>("BtnStart")->mapTo(FForm.get(), QPoint(50, 15)));
    Track()->setValue(5);
    QTest::mouseClick(FForm->windowHandle(), Qt::LeftButton, {},
                      W<QWidget>("BtnEnd")->mapTo(FForm.get(), QPoint(50, 15)));
    QTreeView* lv = W<QTreeView>("LvSegs");
    ASSERT_EQ(lv->model()->rowCount(), 1);
    EXPECT_EQ(lv->model()->index(0, 0).data().toString(), "00:02 - 00:05");
    auto* edit = W<QLineEdit>("EdtOut");
    QTest::mouseClick(FForm->windowHandle(), Qt::LeftButton, {},
                      edit->mapTo(FForm.get(), QPoint(edit->width() - 20, 10)));
    ASSERT_EQ(QApplication::focusWidget(), edit);
    QTest::keyClick(FForm->windowHandle(), Qt::Key_End);
    for (char c : std::string("x"))
        QTest::keyClick(FForm->windowHandle(), c);
    EXPECT_TRUE(edit->text().endsWith("cit.mp4x")) << edit->text().toStdString();

    // Shrunk as far as it goes: the designed size and places again.
    FForm->resize(300, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return geom("LvSegs") == list; }, 5000));
    EXPECT_EQ(FForm->size(), QSize(857, 876));
    EXPECT_EQ(geom("PanelPreview"), preview);
    EXPECT_EQ(geom("BtnOpen"), open);
    EXPECT_EQ(LayoutProblems(FForm.get()), QStringList());
}

TEST_F(ClipFormTest, MarksSegmentListAndExport) {
    // Playback is not needed here: without a runtime the rest works the same.
    FForm->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(FDialogs.boxes[0].text, "VLC runtime (libvlc.so.5) not found. Please install VLC.");
    EXPECT_FALSE(FForm->Playing());
    // Without playback the still frame is the preview.
    EXPECT_TRUE(W<QWidget>("PanelPreview")->isVisible());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !W<TPictureBox>("ImgPreview")->Image().isNull(); }, 20000));
    EXPECT_NE(FForm->Player(), nullptr);
    // The player object stays; the next Play tries to open, which loads again and fails.
    Click("BtnPlay");
    ASSERT_EQ(FDialogs.boxes.size(), 2);
    EXPECT_EQ(FDialogs.boxes[1].text, "Failed to open video in VLC player");
    EXPECT_TRUE(W<QWidget>("PanelPreview")->isVisible());
    FDialogs.boxes.clear();

    Click("BtnEnd");
    EXPECT_EQ(Status(), "Invalid range: mark start first and end must be after start");
    Track()->setValue(1);
    Click("BtnStart");
    // A keyframe every second in this video.
    EXPECT_EQ(Status(), "Start marked: 00:01 (drag to end position and mark end) - on a keyframe");
    Track()->setValue(2);
    Click("BtnEnd");
    EXPECT_EQ(Status(),
              "Delete segment added [00:01 - 00:02] - start on a keyframe, end on a keyframe");
    Track()->setValue(5);
    Click("BtnStart");
    Track()->setValue(7);
    Click("BtnEnd");
    Track()->setValue(3);
    Click("BtnStart");
    Track()->setValue(4);
    Click("BtnEnd");

    QTreeView* lv = W<QTreeView>("LvSegs");
    ASSERT_EQ(lv->model()->rowCount(), 3);
    EXPECT_EQ(lv->model()->index(0, 0).data().toString(), "00:01 - 00:02");
    EXPECT_EQ(lv->model()->index(1, 0).data().toString(), "00:05 - 00:07");
    EXPECT_EQ(lv->model()->index(1, 1).data().toString(), "00:02");

    // Remove the last row through the list's selection.
    Click("BtnDel"); // nothing selected: nothing happens
    EXPECT_EQ(lv->model()->rowCount(), 3);
    lv->selectionModel()->select(lv->model()->index(2, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Click("BtnDel");
    EXPECT_EQ(Status(), "Delete segment mark removed");
    ASSERT_EQ(lv->model()->rowCount(), 2);

    // Export into a picked folder: 8 s minus 1 s minus 2 s.
    const QString outDir = NewTempDir(QStringLiteral("out"));
    FDialogs.folders << outDir;
    Click("BtnOut");
    EXPECT_EQ(FDialogs.folderTitles.last(), "Select output directory");
    const QString out = outDir + "/long clip_edited.mp4";
    EXPECT_EQ(W<QLineEdit>("EdtOut")->text(), out);
    ExportAndWait();
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(FDialogs.boxes[0].text, "Export complete!\r\n" + out);
    EXPECT_EQ(Status(), "Export complete: " + out);
    EXPECT_NEAR(ProbeSeconds(out), 5.0, 1.1);

    // A cancelled folder dialog changes nothing.
    Click("BtnOut");
    EXPECT_EQ(W<QLineEdit>("EdtOut")->text(), out);

    // The filled-in name again: the first export stays, the second gets the next free name.
    const QString first = FileDigest(out);
    ExportAndWait();
    const QString renamed = outDir + "/long clip_edited (2).mp4";
    EXPECT_EQ(FDialogs.boxes.back().text, "Export complete!\r\n" + renamed);
    EXPECT_EQ(Status(), "Export complete: " + renamed);
    EXPECT_EQ(FileDigest(out), first);
    EXPECT_NEAR(ProbeSeconds(renamed), 5.0, 1.1);

    // A name typed into the field that exists: asked; No writes nothing, Yes replaces it.
    // (Typing the filled-in name itself would leave the field as the window filled it.)
    QLineEdit* edtOut = W<QLineEdit>("EdtOut");
    edtOut->clear();
    QTest::keyClicks(edtOut, renamed);
    const QString second = FileDigest(renamed);
    FDialogs.boxes.clear();
    FDialogs.answers = {BoxAnswer::No};
    ExportAndWait();
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Confirmation);
    EXPECT_EQ(FDialogs.boxes[0].text, renamed + " already exists. Replace it?");
    EXPECT_EQ(FileDigest(renamed), second);
    Click("BtnClear");
    EXPECT_EQ(Status(), "Delete segments cleared");
    FDialogs.answers = {BoxAnswer::Yes};
    ExportAndWait();
    EXPECT_EQ(Status(), "Export complete: " + renamed);
    EXPECT_NEAR(ProbeSeconds(renamed), 8.0, 1.1);
    EXPECT_EQ(FileDigest(out), first);
    EXPECT_EQ(QDir(outDir).entryList(QDir::Files).size(), 2);

    EXPECT_EQ(lv->model()->rowCount(), 0);
    QDir(outDir).removeRecursively();
}

TEST_F(ClipFormTest, UnreadableFileKeepsRowsAndDisablesEditing) {
    FForm->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
    Load(*sDir + "/movie.mp4");
    ASSERT_EQ(FForm->Duration(), 3);
    Track()->setValue(1);
    Click("BtnStart");
    Track()->setValue(2);
    Click("BtnEnd");
    ASSERT_EQ(FForm->Segments().rowCount(), 1);

    const QString bad = *sDir + "/broken.mp4";
    OpenThroughDialog(bad);
    EXPECT_EQ(Status(), "Cannot read this file: broken.mp4");
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(FDialogs.boxes[0].text,
              "Cannot read this video file (no playable stream?):\r\n" + bad);
    EXPECT_TRUE(FForm->InFile().isEmpty());
    EXPECT_EQ(FForm->Segments().rowCount(), 1);
    for (const char* n : {"BtnStart", "BtnEnd", "BtnDel", "BtnClear", "BtnPlay", "BtnExport",
                          "BtnOut", "TrackBar1", "EdtOut", "EdtCrop", "LvSegs"})
        EXPECT_FALSE(W<QWidget>(n)->isEnabled()) << n;
    EXPECT_TRUE(W<QWidget>("BtnOpen")->isEnabled());
    // No second box: playback isn't tried for a file that didn't load.
    EXPECT_EQ(FDialogs.boxes.size(), 1);

    // A good file loads again with the rows still there.
    OpenThroughDialog(*sDir + "/movie.mp4");
    EXPECT_EQ(FForm->Duration(), 3);
    EXPECT_TRUE(W<QWidget>("BtnExport")->isEnabled());
    EXPECT_EQ(FForm->Segments().rowCount(), 1);
}

TEST_F(ClipFormTest, OpenDialogPausesAndCancelResumes) {
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return FForm->Player()->IsPlaying(); }, 10000));
    // A cancelled dialog: playback goes on.
    Click("BtnOpen");
    EXPECT_TRUE(FForm->Playing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return FForm->Player()->IsPlaying(); }, 5000));

    // A paused player stays paused through a cancelled dialog (libVLC's pause would toggle it).
    Click("BtnPlay");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Player()->IsPlaying(); }, 5000));
    Click("BtnOpen");
    EXPECT_TRUE(FForm->Playing());
    EXPECT_FALSE(QTest::qWaitFor([&] { return FForm->Player()->IsPlaying(); }, 1000));
    EXPECT_EQ(W<QPushButton>("BtnPlay")->text(), "Play");

    // Opening a file that can't be read ends playback: nothing keeps playing unseen.
    OpenThroughDialog(*sDir + "/broken.mp4");
    EXPECT_FALSE(FForm->Playing());
    EXPECT_FALSE(W<QWidget>("PanelPreview")->isVisible());
    EXPECT_FALSE(FForm->Player()->IsPlaying());
}

TEST_F(ClipFormTest, ClosingDuringPlaybackDestroysThePlayer) {
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlayerAt(500); }, 10000));
    FForm->close();
    EXPECT_FALSE(FForm->isVisible());
    EXPECT_FALSE(FForm->Playing());
    EXPECT_EQ(FForm->Player(), nullptr);
    EXPECT_FALSE(FForm->PlayTimer().isActive());
}

TEST_F(ClipFormTest, ClosingDuringExportAsksAndNoLetsTheRunGoOn) {
    OpenThroughDialog(*sDir + "/long clip.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlayerAt(300); }, 10000));
    const QString outDir = NewTempDir(QStringLiteral("closed"));
    const QString out = outDir + "/out.mp4";
    W<QLineEdit>("EdtOut")->setText(out);
    FDialogs.answers = {BoxAnswer::No};
    // The export stops playback; the close is asked about and refused.
    FForm->Editor().StartExport();
    EXPECT_FALSE(FForm->Playing());
    EXPECT_FALSE(FForm->PlayTimer().isActive());
    FForm->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, 60000));
    EXPECT_TRUE(FForm->isVisible());
    ASSERT_EQ(FDialogs.boxes.size(), 2);
    EXPECT_EQ(FDialogs.boxes[0].text, "A conversion is running. Stop it and close?");
    EXPECT_EQ(FDialogs.boxes[1].text, "Export complete!\r\n" + out);
    EXPECT_NEAR(ProbeSeconds(out), 8.0, 1.1);
    FForm->close();
    EXPECT_FALSE(FForm->isVisible());
    EXPECT_EQ(FForm->Player(), nullptr);
    FForm.reset();
    QDir(outDir).removeRecursively();
}

TEST_F(ClipFormTest, EscapeDoesNotCloseTheWindow) {
    FForm->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
    Load(*sDir + "/movie.mp4");
    Track()->setValue(1);
    Click("BtnStart");
    Track()->setValue(2);
    Click("BtnEnd");
    ASSERT_EQ(FForm->Segments().rowCount(), 1);
    QLineEdit* crop = W<QLineEdit>("EdtCrop");
    crop->setFocus();
    QTest::keyClick(crop, Qt::Key_Escape);
    QTest::keyClick(FForm.get(), Qt::Key_Escape);
    EXPECT_TRUE(FForm->isVisible());
    EXPECT_EQ(FForm->InFile(), *sDir + "/movie.mp4");
    EXPECT_EQ(FForm->Segments().rowCount(), 1);
}

TEST_F(ClipFormTest, StartsWithTheFocusOnOpen) {
    FForm->activateWindow(); // as a window manager does (Xvfb runs none)
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    EXPECT_EQ(QApplication::focusWidget(), W<QPushButton>("BtnOpen"));
    // Space presses it, as for any focused button: the open dialog comes up.
    QTest::keyClick(FForm->windowHandle(), Qt::Key_Space);
    EXPECT_EQ(FDialogs.fileTitles, QStringList{"Select MP4 file"});
    EXPECT_TRUE(FDialogs.folderTitles.isEmpty());
}

// A real drop through the window, over the preview and over the output field: opened as the
// Open button opens a chosen file (played at once, no dialog).
TEST_F(ClipFormTest, DroppedVideoOpensAsOpenWould) {
    FForm->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(*sDir)});
    EXPECT_FALSE(DropOnto(FForm.get(), QPoint(400, 200), folder));
    QMimeData link;
    link.setUrls({QUrl("https://h/x.mp4")});
    EXPECT_FALSE(DropOnto(FForm.get(), QPoint(400, 200), link));
    EXPECT_TRUE(FForm->InFile().isEmpty());

    const QString file = *sDir + "/long clip.mp4";
    QMimeData video;
    video.setUrls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(*sDir + "/movie.mp4")});
    ASSERT_TRUE(DropOnto(FForm.get(), CentreInWindow(W<QLineEdit>("EdtOut")), video));
    ASSERT_TRUE(QTest::qWaitFor([&] { return FForm->InFile() == file; }, 20000));
    EXPECT_TRUE(FDialogs.fileTitles.isEmpty());
    EXPECT_TRUE(FDialogs.folderTitles.isEmpty());
    EXPECT_EQ(W<QLineEdit>("EdtClip")->text(), file);
    EXPECT_EQ(FForm->Duration(), 8);
    EXPECT_EQ(W<QLineEdit>("EdtOut")->text(), *sDir + "/long clipcit.mp4");
    // Playback was tried at once, as after Open: here without a VLC runtime.
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].text, "VLC runtime (libvlc.so.5) not found. Please install VLC.");
    EXPECT_EQ(Status(), "Loaded long clip.mp4 (duration 00:08) - Took the first of 2 items; the "
                        "other was ignored.");
}
