// The clip window driven from the keyboard as a person does: frame steps, keyframe jumps, the
// time field, I/O marks, segments edited in place, undo and redo, the key list, and cut lists
// kept beside the video. Real ffmpeg, Xvfb.
#include "ClipCoreFixtures.h"
#include "ClipTime.h"
#include "ClipWindowTest.h"
#include "CutList.h"
#include "FramePreview.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTreeView>

using namespace halvora;
using namespace halvora::test;

namespace {

class ClipKeys : public ClipWindowTest {
protected:
    static void SetUpTestSuite() {
        sDir = new QString(NewTempDir("clipkeys"));
        // 25 fps, a keyframe every 2 s.
        ASSERT_TRUE(MakeVideo(*sDir + "/six.mp4", 6, 320, 240, true, 50));
    }
    static void TearDownTestSuite() {
        QDir(*sDir).removeRecursively();
        delete sDir;
    }
    void SetUp() override {
        NewWindow();
        FVideo = *sDir + "/six.mp4";
        QFile::remove(CutListPath(FVideo));
    }
    // A window that has the keyboard, as a window manager gives it (Xvfb runs none).
    void NewWindow() {
        FForm.reset();
        ClipWindowTest::SetUp();
        FForm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    }
    void Open(const QString& AVideo) {
        FForm->LoadFile(AVideo);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Loading(); }, 60000));
        ASSERT_EQ(FForm->InFile(), AVideo);
    }
    // A key pressed on whatever has the focus, as a person presses it.
    void Key(Qt::Key AKey, Qt::KeyboardModifiers AMods = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, AKey, AMods);
    }
    void Type(const QString& AText) { QTest::keyClicks(QApplication::focusWidget(), AText); }
    void FocusTimeLine() {
        W<QSlider>("TrackBar1")->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return W<QSlider>("TrackBar1")->hasFocus(); }));
    }
    QString TimeField() { return W<QLineEdit>("EdtTime")->text(); }
    QString Row(int ARow) {
        return W<QTreeView>("LvSegs")->model()->index(ARow, 0).data().toString();
    }
    using Rows = QVector<DeleteSegment>;
    Rows Segments() { return FForm->Segments().segments(); }

    static QString* sDir;
    QString FVideo;
};
QString* ClipKeys::sDir = nullptr;

TEST_F(ClipKeys, FrameStepsKeyframesAndTheTimeFieldMarkExactFrames) {
    Open(FVideo);
    FocusTimeLine();
    Key(Qt::Key_Right); // the time line's own whole second
    EXPECT_EQ(TimeField(), "00:00:01.000");
    for (int i = 0; i < 3; ++i)
        Key(Qt::Key_Period);
    EXPECT_EQ(TimeField(), "00:00:01.120"); // three frames on, mid-GOP
    EXPECT_EQ(W<QSlider>("TrackBar1")->value(), 1);
    Key(Qt::Key_I);
    Key(Qt::Key_Right, Qt::ControlModifier); // next keyframe
    EXPECT_EQ(TimeField(), "00:00:02.000");
    Key(Qt::Key_Comma);
    Key(Qt::Key_Comma);
    Key(Qt::Key_O);
    EXPECT_EQ(Row(0), "00:01.120 - 00:01.920");
    EXPECT_EQ(Status(), "Delete segment added [00:01.120 - 00:01.920] - start between "
                        "keyframes, end between keyframes");

    // Typed into the time field: letters are the field's, Enter goes there.
    W<QLineEdit>("EdtTime")->setFocus();
    Key(Qt::Key_A, Qt::ControlModifier);
    Type("0:03.48");
    Key(Qt::Key_Return);
    EXPECT_EQ(TimeField(), "00:00:03.480");
    EXPECT_EQ(W<QSlider>("TrackBar1")->value(), 3);
    FocusTimeLine();
    Key(Qt::Key_I);
    Key(Qt::Key_End);
    EXPECT_EQ(TimeField(), "00:00:06.000");
    Key(Qt::Key_O);
    EXPECT_EQ(Segments(), Rows({{1.12, 1.92}, {3.48, 6}}));
    // The other moves, each from where the one before left the position.
    const std::pair<std::pair<Qt::Key, Qt::KeyboardModifiers>, const char*> moves[] = {
        {{Qt::Key_Home, Qt::NoModifier}, "00:00:00.000"},
        {{Qt::Key_PageUp, Qt::NoModifier}, "00:00:06.000"}, // ten seconds, kept within the file
        {{Qt::Key_Left, Qt::ShiftModifier}, "00:00:00.000"},
        {{Qt::Key_Right, Qt::ControlModifier}, "00:00:02.000"},
        {{Qt::Key_Right, Qt::ControlModifier}, "00:00:04.000"},
        {{Qt::Key_Left, Qt::ControlModifier}, "00:00:02.000"},
        {{Qt::Key_Left, Qt::NoModifier}, "00:00:01.000"},
    };
    for (const auto& [key, clock] : moves) {
        Key(key.first, key.second);
        EXPECT_EQ(TimeField(), clock) << key.first;
    }
    // The picture, once clicked, takes the same keys.
    QTest::mouseClick(W<QWidget>("ImgPreview"), Qt::LeftButton);
    ASSERT_TRUE(W<QWidget>("ImgPreview")->hasFocus());
    Key(Qt::Key_Right);
    EXPECT_EQ(TimeField(), "00:00:02.000");
    Key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(TimeField(), "00:00:00.000");
    Key(Qt::Key_Right);
    Key(Qt::Key_Period);
    EXPECT_EQ(TimeField(), "00:00:01.040");
    // A time that can't be read is refused with a reason and the field shows the position.
    W<QLineEdit>("EdtTime")->setFocus();
    Key(Qt::Key_A, Qt::ControlModifier);
    Type("soon");
    Key(Qt::Key_Return);
    EXPECT_EQ(Status(), "Cannot read \"soon\" as a time: type hh:mm:ss.mmm");
    EXPECT_EQ(TimeField(), "00:00:01.040");

    // The export keeps [0, 1.12) and [1.92, 3.48): 28 + 39 frames, each seam on its mark.
    const QString out = *sDir + "/frames.mp4";
    W<QLineEdit>("EdtOut")->setText(out);
    QTest::mouseClick(W<QPushButton>("BtnExport"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->Editor().Exporting(); }, 120000));
    ASSERT_EQ(Status(), "Export complete: " + out);
    const QVector<QByteArray> source = DecodeLuma(FVideo);
    const QVector<QByteArray> got = DecodeLuma(out);
    ASSERT_EQ(got.size(), 28 + 39);
    const std::pair<int, int> seams[] = {{0, 0}, {27, 27}, {28, 48}, {66, 86}};
    for (const auto& [at, from] : seams) {
        EXPECT_GE(Psnr(got[at], source[from]), 35.0) << "output frame " << at;
        // And no neighbour of the marked frame is as close.
        for (int n : {from - 1, from + 1}) {
            if (n >= 0 && n < source.size()) {
                EXPECT_LT(Psnr(got[at], source[n]), Psnr(got[at], source[from])) << at << " " << n;
            }
        }
    }
    QFile::remove(out);
}

TEST_F(ClipKeys, HeldKeysShowTheKeyframeUnderThePositionAtOnce) {
    Open(FVideo);
    // The keyframe pictures are made in the background once the video is open.
    ASSERT_TRUE(QTest::qWaitFor([&] { return FForm->Preview().keyPictures().done(); }, 30000));
    QVector<QImage> keyframes; // at 0, 2 and 4 s
    for (int sec : {0, 2, 4})
        keyframes << ReferenceFrame(FVideo, sec);
    FocusTimeLine();
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int keyframe; // whose picture shows when the key comes back up
    } presses[] = {{Qt::Key_Right, Qt::ControlModifier, 1}, {Qt::Key_Period, Qt::NoModifier, 1},
                   {Qt::Key_Right, Qt::NoModifier, 1},      {Qt::Key_Right, Qt::NoModifier, 2},
                   {Qt::Key_End, Qt::NoModifier, 2},        {Qt::Key_Left, Qt::ShiftModifier, 0}};
    for (const auto& p : presses) {
        SCOPED_TRACE(TimeField().toStdString());
        QSignalSpy glimpsed(&FForm->Preview(), &FramePreview::glimpsed);
        Key(p.key, p.mods);
        // No wait: the picture is there when the key is.
        ASSERT_EQ(glimpsed.count(), 1);
        const QImage shown = FForm->Preview().image();
        for (int k = 0; k < keyframes.size(); ++k) {
            if (k != p.keyframe) {
                EXPECT_LT(MeanDiff(shown, keyframes[p.keyframe]), MeanDiff(shown, keyframes[k]));
            }
        }
    }
}

TEST_F(ClipKeys, SegmentsEditedInPlaceUndoneAndRedone) {
    Open(FVideo);
    FocusTimeLine();
    Key(Qt::Key_I);
    Key(Qt::Key_Right);
    Key(Qt::Key_O);
    Key(Qt::Key_Right);
    Key(Qt::Key_I);
    Key(Qt::Key_Right);
    Key(Qt::Key_O);
    ASSERT_EQ(Segments(), Rows({{0, 1}, {2, 3}}));
    EXPECT_EQ(Row(0), "00:00 - 00:01"); // whole seconds look as they always have

    auto* lv = W<QTreeView>("LvSegs");
    lv->setFocus();
    lv->setCurrentIndex(lv->model()->index(0, 0));
    auto edit = [&](const QString& AText) {
        Key(Qt::Key_F2);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }));
        Key(Qt::Key_A, Qt::ControlModifier);
        Type(AText);
        Key(Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lv->hasFocus(); }));
    };
    edit("0:00.400 - 0:00.840");
    EXPECT_EQ(Row(0), "00:00.400 - 00:00.840");
    EXPECT_EQ(Status(), "Delete segment changed [00:00.400 - 00:00.840]");
    edit("0:00.900 - 0:00.500");
    EXPECT_EQ(Status(), "Not changed: the start must be before the end");
    edit("1 - 7");
    EXPECT_EQ(Status(), "Not changed: the segment must end within the video (00:06)");
    EXPECT_EQ(Segments(), Rows({{0.4, 0.84}, {2, 3}}));

    Key(Qt::Key_Delete);
    EXPECT_EQ(Segments(), Rows({{2, 3}}));
    // Back across the remove, the edit and the two adds, then forward again.
    const Rows states[] = {{{2, 3}}, {{0.4, 0.84}, {2, 3}}, {{0, 1}, {2, 3}}, {{0, 1}}, {}};
    for (const Rows& r : states) {
        EXPECT_EQ(Segments(), r);
        Key(Qt::Key_Z, Qt::ControlModifier);
    }
    EXPECT_EQ(Status(), "Nothing to undo");
    Key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Segments(), Rows({{0, 1}}));
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Segments(), Rows({{0, 1}, {2, 3}}));
    EXPECT_TRUE(W<QPushButton>("BtnUndo")->isEnabled());
    QTest::mouseClick(W<QPushButton>("BtnUndo"), Qt::LeftButton);
    EXPECT_EQ(Segments(), Rows({{0, 1}}));
    QTest::mouseClick(W<QPushButton>("BtnRedo"), Qt::LeftButton);
    EXPECT_EQ(Segments(), Rows({{0, 1}, {2, 3}}));
}

TEST_F(ClipKeys, KeysLeaveControlsWhatTheyNeed) {
    Open(FVideo);
    // Letters, dots and Delete typed into a text field stay there.
    W<QLineEdit>("EdtCrop")->setFocus();
    Type("io,.?");
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Home);
    Key(Qt::Key_Delete);
    EXPECT_EQ(W<QLineEdit>("EdtCrop")->text(), "o,.");
    EXPECT_EQ(FForm->Segments().markA(), -1);
    EXPECT_EQ(TimeField(), "00:00:00.000");
    EXPECT_TRUE(FDialogs.boxes.isEmpty());
    // Space presses a focused button (here the key list) instead of playing.
    W<QPushButton>("BtnKeys")->setFocus();
    Key(Qt::Key_Space);
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_TRUE(FDialogs.boxes[0].text.contains("Ctrl+Z: undo"));
    EXPECT_FALSE(FForm->Playing());
    // ? from the time line gives the same list; Tab still moves on.
    FocusTimeLine();
    Key(Qt::Key_Question);
    ASSERT_EQ(FDialogs.boxes.size(), 2);
    EXPECT_EQ(FDialogs.boxes[1].text, FDialogs.boxes[0].text);
    // Space on the time line is play / pause (here: no VLC runtime, which it says).
    Key(Qt::Key_Space);
    ASSERT_EQ(FDialogs.boxes.size(), 3);
    EXPECT_EQ(FDialogs.boxes[2].text, "VLC runtime (libvlc.so.5) not found. Please install VLC.");
    Key(Qt::Key_Tab);
    EXPECT_TRUE(W<QLineEdit>("EdtTime")->hasFocus());
}

TEST_F(ClipKeys, CutListsAreRestoredAndNeverAppliedToAChangedVideo) {
    Open(FVideo);
    FocusTimeLine();
    for (int s = 0; s < 2; ++s) {
        Key(Qt::Key_Period);
        Key(Qt::Key_I);
        Key(Qt::Key_Right);
        Key(Qt::Key_O);
    }
    const Rows marked{{0.04, 1}, {1.04, 2}};
    ASSERT_EQ(Segments(), marked);
    CutList saved;
    ASSERT_TRUE(ReadCutList(CutListPath(FVideo), &saved, nullptr));
    EXPECT_EQ(saved.segments, marked);
    EXPECT_EQ(saved.videoSize, QFileInfo(FVideo).size());
    EXPECT_EQ(saved.videoDuration, 6);

    // "Export list..." as CSV.
    const QString csv = *sDir + "/list.csv";
    FDialogs.saves << csv;
    QTest::mouseClick(W<QPushButton>("BtnExportList"), Qt::LeftButton);
    EXPECT_EQ(ReadAll(csv), "start,end\n0.040,1.000\n1.040,2.000\n");

    // A new window over the same video offers the list back.
    NewWindow();
    FDialogs.answers << BoxAnswer::Yes;
    Open(FVideo);
    ASSERT_EQ(FDialogs.texts(),
              QStringList{"Restore the 2 marked stretches from the last session?"});
    EXPECT_EQ(Segments(), marked);
    EXPECT_EQ(Status(), "Restored 2 marked stretches from six.halvora-cuts.json");
    Key(Qt::Key_Z, Qt::ControlModifier); // the restore is one change
    EXPECT_TRUE(Segments().isEmpty());

    // The same name, another length: the list is not applied, and the user is told.
    ASSERT_TRUE(WriteCutList(CutListPath(FVideo), saved, nullptr));
    const QString other = *sDir + "/other/six.mp4";
    ASSERT_TRUE(QDir().mkpath(*sDir + "/other"));
    ASSERT_TRUE(MakeVideo(other, 4, 320, 240, true, 50));
    ASSERT_TRUE(WriteCutList(CutListPath(other), saved, nullptr));
    NewWindow();
    FDialogs.boxes.clear();
    Open(other);
    ASSERT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_EQ(FDialogs.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(FDialogs.boxes[0].text, "The saved cut list of six.mp4 was made for a video of "
                                      "length 00:06; this one is 00:04 long. The list was not "
                                      "applied.");
    EXPECT_TRUE(Segments().isEmpty());
}

} // namespace
