// The main window under Xvfb: controls found by object name, dialogs answered by a test service.
#include "Controls.h"
#include "DropSupport.h"
#include "FakeDialogs.h"
#include "FakeView.h"
#include "LayoutSupport.h"
#include "QuietForm.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Umain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace halvora;
using namespace halvora::test;

namespace {

class Window : public ::testing::Test {
protected:
    void open(FFmpegFinder AFinder = {}) {
        form = std::make_unique<QuietForm>(dialogs, nullptr, ProcessRunner(), std::move(AFinder));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    QString status() const { return Child<QLabel>(form.get(), "LblStatus")->text(); }
    // Conversions run on a worker: waits for the job to end (boxes are answered meanwhile).
    void finish(int AMs = 60000) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->busy(); }, AMs));
    }

    FakeDialogs dialogs;
    std::unique_ptr<TForm2> form;
    QString dir = NewTempDir("win");
};

} // namespace

TEST_F(Window, StartUpState) {
    open();
    EXPECT_EQ(form->windowTitle(), "Halvora  v1.0.31.6");
    EXPECT_EQ(status(), "Ready");
    auto* convert = Child<QPushButton>(form.get(), "BtnConvert");
    auto* batch = Child<QPushButton>(form.get(), "BtnBatch");
    EXPECT_FALSE(convert->isEnabled());
    EXPECT_FALSE(batch->isEnabled());
    EXPECT_EQ(convert->text(), "Convert single");
    EXPECT_EQ(batch->text(), "Batch Convert ");
    EXPECT_EQ(Child<QLineEdit>(form.get(), "EdtOutput")->text(), DocumentsDir());
    EXPECT_TRUE(Child<QCheckBox>(form.get(), "ChkFast")->isChecked());
    EXPECT_TRUE(Child<QPushButton>(form.get(), "BtnClip")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(form.get(), "BtnFeedback")->isEnabled());
    auto* version = Child<QLabel>(form.get(), "LblVersion");
    EXPECT_TRUE(version->text().endsWith("  v1.0.31.6"));
    EXPECT_TRUE(version->isVisible());
    EXPECT_TRUE(version->parentWidget()->rect().contains(version->geometry()));
    EXPECT_EQ(Child<QProgressBar>(form.get(), "ProgressBar1")->value(), 0);
    for (const char* name : {"pnlSingle", "pnlBatch", "Panel1", "Panel2", "LblInput", "LblRoot",
                             "EdtInput", "EdtRoot", "BtnBrowse", "BtnOutput", "BtnRoot"})
        EXPECT_NE(form->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;

    // Tab order: the single panel, the batch panel, then the two lower panels.
    QStringList chain;
    QWidget* w = Child<QWidget>(form.get(), "EdtInput");
    for (int i = 0; i < 12; ++i) {
        chain << w->objectName();
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty())
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, (QStringList{"EdtInput", "CmbQuality", "BtnHeaders", "BtnBrowse", "EdtOutput",
                                  "BtnOutput", "ChkFast", "BtnConvert", "EdtRoot", "BtnRoot",
                                  "BtnBatch", "BtnFeedback"}));

    // The icons arrive with the posted message.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->windowIcon().isNull(); }));

    // Shrinking the window never cuts a button off.
    form->resize(400, 300);
    QApplication::processEvents();
    for (const char* name : {"BtnBrowse", "BtnFeedback", "BtnClip"}) {
        auto* b = Child<QPushButton>(form.get(), name);
        EXPECT_TRUE(form->rect().contains(QRect(b->mapTo(form.get(), QPoint()), b->size())))
            << name;
    }
}

TEST_F(Window, WithoutFFmpegBothButtonsStayOff) {
    QString ffmpeg;
    open([&] { return ffmpeg; });
    EXPECT_EQ(status(), "ffmpeg not found - Convert/Batch are disabled");
    auto* input = Child<QLineEdit>(form.get(), "EdtInput");
    QTest::keyClicks(input, "https://h/a.m3u8");
    EXPECT_FALSE(Child<QPushButton>(form.get(), "BtnConvert")->isEnabled());
    EXPECT_EQ(status(), "ffmpeg not found - Convert/Batch are disabled");
    // ffmpeg appears: the next trigger follows the fields again.
    ffmpeg = "/usr/bin/ffmpeg";
    QTest::keyClick(input, Qt::Key_Space);
    EXPECT_TRUE(Child<QPushButton>(form.get(), "BtnConvert")->isEnabled());
    EXPECT_EQ(status(), "URL detected: download stream then convert to MP4");
}

TEST_F(Window, TypingLinksAndPaths) {
    open();
    auto* input = Child<QLineEdit>(form.get(), "EdtInput");
    auto* convert = Child<QPushButton>(form.get(), "BtnConvert");
    QTest::keyClicks(input, "  HTTP://unreachable.invalid/x.m3u8");
    EXPECT_EQ(convert->text(), "Download / Convert");
    EXPECT_EQ(status(), "URL detected: download stream then convert to MP4");
    EXPECT_TRUE(convert->isEnabled());

    input->setText("unreachable.invalid/x.m3u8");
    EXPECT_EQ(convert->text(), "Convert");
    EXPECT_EQ(status(), "Ready");
    EXPECT_FALSE(convert->isEnabled());

    ASSERT_TRUE(WriteAll(dir + "/a.ts", "x"));
    input->setText(dir + "/a.ts ");
    EXPECT_TRUE(convert->isEnabled());
    input->setText(dir);
    EXPECT_FALSE(convert->isEnabled()); // a folder is not an input file

    // Browse puts the chosen file into the field.
    dialogs.files = {dir + "/a.ts"};
    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnBrowse"), Qt::LeftButton);
    EXPECT_EQ(dialogs.fileTitles, QStringList{"Select M3U8 file"});
    EXPECT_EQ(dialogs.fileFilter, "M3U8 files (*.m3u8);;TS files (*.ts);;All files (*)");
    EXPECT_EQ(input->text(), dir + "/a.ts");
    EXPECT_TRUE(convert->isEnabled());
}

TEST_F(Window, EnterStartsConversionEvenWhenDisabled) {
    open();
    auto* input = Child<QLineEdit>(form.get(), "EdtInput");
    ASSERT_FALSE(Child<QPushButton>(form.get(), "BtnConvert")->isEnabled());
    input->setFocus();
    QTest::keyClick(input, Qt::Key_Return);
    finish();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(dialogs.boxes[0].text, "Please enter M3U8 URL (local file or http link)");
    EXPECT_EQ(status(), "Please enter M3U8 URL");
    QTest::keyClick(input, Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier);
    finish();
    EXPECT_EQ(dialogs.boxes.size(), 2);
    QTest::keyClick(input, Qt::Key_A);
    EXPECT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(input->text(), "a");
}

TEST_F(Window, FolderPickers) {
    open();
    auto* batch = Child<QPushButton>(form.get(), "BtnBatch");
    auto* convert = Child<QPushButton>(form.get(), "BtnConvert");
    ASSERT_FALSE(batch->isEnabled());

    // The output folder changes no button state.
    dialogs.folders = {dir, dir};
    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnOutput"), Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form.get(), "EdtOutput")->text(), dir);
    EXPECT_FALSE(batch->isEnabled());
    EXPECT_FALSE(convert->isEnabled());

    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnRoot"), Qt::LeftButton);
    EXPECT_EQ(dialogs.folderTitles,
              (QStringList{"Select output directory", "Select batch root folder"}));
    EXPECT_EQ(Child<QLineEdit>(form.get(), "EdtRoot")->text(), dir);
    EXPECT_TRUE(batch->isEnabled());

    // Typing: enabled as soon as the text names a folder.
    auto* root = Child<QLineEdit>(form.get(), "EdtRoot");
    root->clear();
    EXPECT_FALSE(batch->isEnabled());
    QTest::keyClicks(root, dir);
    EXPECT_TRUE(batch->isEnabled());
    QTest::keyClicks(root, "x");
    EXPECT_FALSE(batch->isEnabled());

    // A cancelled picker changes nothing.
    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnRoot"), Qt::LeftButton);
    EXPECT_EQ(root->text(), dir + "x");
}

TEST_F(Window, ConvertAndBatchFromTheWindow) {
    ASSERT_TRUE(MakeVideo(dir + "/clip.ts", 2));
    open();
    Child<QLineEdit>(form.get(), "EdtInput")->setText(dir + "/clip.ts");
    Child<QLineEdit>(form.get(), "EdtOutput")->setText(dir + "/out");
    auto* convert = Child<QPushButton>(form.get(), "BtnConvert");
    ASSERT_TRUE(convert->isEnabled());
    QTest::mouseClick(convert, Qt::LeftButton);
    finish();
    EXPECT_NEAR(ProbeSeconds(dir + "/out/clip.mp4"), 2.0, 0.3);
    EXPECT_EQ(status(), "Conversion complete: " + dir + "/out/clip.mp4");
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(dialogs.boxes[0].title, "Information");
    EXPECT_EQ(Child<QProgressBar>(form.get(), "ProgressBar1")->value(), 100);

    // Batch over one saved stream; the bar ends full at its new maximum.
    QDir().mkpath(dir + "/root/show");
    ASSERT_TRUE(QFile::copy(dir + "/clip.ts", dir + "/root/show/local.ts"));
    Child<QLineEdit>(form.get(), "EdtRoot")->setText(dir + "/root");
    Child<QLineEdit>(form.get(), "EdtOutput")->clear();
    auto* batch = Child<QPushButton>(form.get(), "BtnBatch");
    ASSERT_TRUE(batch->isEnabled());
    QTest::mouseClick(batch, Qt::LeftButton);
    finish();
    EXPECT_TRUE(QFile::exists(dir + "/root/show.mp4"));
    EXPECT_EQ(status(), "Batch done: 1/1 succeeded, output: " + dir + "/root");
    auto* bar = Child<QProgressBar>(form.get(), "ProgressBar1");
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 100);

    // A later single conversion still shows a full bar; the first clip.mp4 is kept.
    Child<QLineEdit>(form.get(), "EdtOutput")->setText(dir + "/out");
    const QString first = FileDigest(dir + "/out/clip.mp4");
    QTest::mouseClick(convert, Qt::LeftButton);
    finish();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(status(), "Conversion complete: " + dir + "/out/clip (2).mp4");
    EXPECT_EQ(dialogs.boxes.last().text, "Conversion complete!\r\n" + dir + "/out/clip (2).mp4");
    EXPECT_EQ(FileDigest(dir + "/out/clip.mp4"), first);
}

TEST_F(Window, ClosingTheWindowDuringABatchEndsTheApplication) {
    for (const char* s : {"one", "two", "three"}) {
        QDir().mkpath(dir + "/root/" + s);
        ASSERT_TRUE(WriteAll(dir + "/root/" + s + "/local.ts", "x"));
    }
    std::atomic<int> runs{0};
    // While the first item converts the user closes the window and agrees to stop; the run
    // (standing in for ffmpeg) ends when asked to, and nothing after it starts.
    const ProcessRunner runner = [&](const Command&, const RunOptions& AOptions) {
        if (++runs == 1)
            QMetaObject::invokeMethod(form.get(), &QWidget::close, Qt::QueuedConnection);
        while (!AOptions.stop->requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return kRunStopped;
    };
    form = std::make_unique<QuietForm>(dialogs, nullptr, runner, [] { return "/bin/true"; });
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->EdtRoot->setText(dir + "/root");
    form->EdtOutput->setText(dir + "/out");
    ASSERT_TRUE(form->BtnBatch->isEnabled());
    dialogs.answers = {BoxAnswer::Yes};

    QTimer::singleShot(0, form.get(), [&] { form->BtnBatch->click(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(20000);
    // The real message loop, as in the program: closing the last window ends it.
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->busy());
    // Only the question; the batch's summary is not shown to a user who is leaving.
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, "A conversion is running. Stop it and close?");
    EXPECT_EQ(dialogs.boxes[0].buttons, BoxButtons::YesNo);
}

TEST_F(Window, SkyLayoutHasNoClippedText) {
    ASSERT_TRUE(ApplySkyStyle());
    open();
    form->setStatus("Conversion complete: " + dir + "/a rather long output folder name/output.mp4");
    QApplication::processEvents();
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisible())
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        // Every control lies inside its panel.
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()));
        if (w == form->LblStatus) {
            EXPECT_LE(w->heightForWidth(w->width()), w->height());
        } else if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
            EXPECT_LE(w->sizeHint().width(), w->width());
        }
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w)) {
            EXPECT_LE(w->sizeHint().height(), w->height());
        }
    }
    // A picture for the documentation, when asked for.
    const QString shot = qEnvironmentVariable("HALVORA_SCREENSHOT");
    form->setStatus("Ready");
    if (!shot.isEmpty())
        form->EdtOutput->setText("/home/user/Documents");
    QApplication::processEvents();
    const QPixmap pix = form->grab();
    EXPECT_EQ(pix.size(), QSize(933, 722));
    if (!shot.isEmpty()) {
        EXPECT_TRUE(pix.save(shot));
    }
    qApp->setStyleSheet(QString());
}

// Opens at the designed places; enlarged, the fields and wide buttons take the width and the
// status panel the height, the buttons keep their size at the right; nothing overlaps at any
// size, and the window never gets smaller than designed.
TEST_F(Window, GrowsWithItsFieldsAndKeepsItsMinimum) {
    ASSERT_TRUE(ApplySkyStyle());
    open();
    EXPECT_EQ(form->size(), QSize(933, 722));
    auto geom = [&](const char* AName) { return Child<QWidget>(form.get(), AName)->geometry(); };
    auto at = [&](const char* AName) {
        QWidget* w = Child<QWidget>(form.get(), AName);
        return QRect(w->mapTo(form.get(), QPoint()), w->size());
    };
    EXPECT_EQ(geom("pnlSingle"), QRect(8, 8, 917, 225));
    EXPECT_EQ(geom("pnlBatch"), QRect(8, 256, 917, 217));
    EXPECT_EQ(geom("Panel2"), QRect(8, 488, 917, 89));
    EXPECT_EQ(geom("Panel1"), QRect(8, 587, 913, 127));
    EXPECT_EQ(geom("EdtInput").topLeft(), QPoint(12, 38));
    EXPECT_EQ(geom("EdtInput").width(), 560);
    EXPECT_EQ(geom("CmbQuality").topLeft(), QPoint(580, 38));
    EXPECT_EQ(geom("BtnBrowse"), QRect(760, 38, 145, 28));
    EXPECT_EQ(geom("EdtOutput").width(), 740);
    EXPECT_EQ(geom("BtnOutput"), QRect(760, 80, 145, 28));
    EXPECT_EQ(geom("BtnConvert"), QRect(12, 152, 893, 40));
    EXPECT_EQ(geom("EdtRoot").width(), 740);
    EXPECT_EQ(geom("BtnBatch"), QRect(12, 80, 893, 40));
    EXPECT_EQ(geom("ProgressBar1"), QRect(12, 140, 893, 18));
    EXPECT_EQ(geom("BtnClip"), QRect(760, 33, 145, 32));
    EXPECT_EQ(geom("LblStatus"), QRect(12, 20, 740, 100));
    EXPECT_EQ(geom("BtnFeedback"), QRect(762, 22, 143, 28));
    EXPECT_EQ(geom("BtnStop"), QRect(762, 60, 143, 28));
    EXPECT_EQ(LayoutProblems(form.get()), QStringList());

    const QRect browse = at("BtnBrowse");
    form->resize(1233, 922);
    ASSERT_TRUE(QTest::qWaitFor([&] { return geom("EdtInput").width() > 560; }, 5000));
    EXPECT_EQ(geom("EdtInput").width(), 860);
    EXPECT_EQ(geom("EdtOutput").width(), 1040);
    EXPECT_EQ(geom("EdtRoot").width(), 1040);
    EXPECT_EQ(geom("BtnConvert").width(), 1193);
    EXPECT_EQ(geom("ProgressBar1").width(), 1193);
    EXPECT_EQ(geom("LblStatus").size(), QSize(1040, 300));
    // The buttons moved with the right edge and kept their size; the upper panels their height.
    EXPECT_EQ(at("BtnBrowse"), browse.translated(300, 0));
    EXPECT_EQ(at("BtnFeedback").right() + 1, 1233 - 12 - 8);
    EXPECT_EQ(at("BtnClip").size(), QSize(145, 32));
    EXPECT_EQ(geom("pnlSingle").height(), 225);
    EXPECT_EQ(geom("Panel1"), QRect(8, 587, 1213, 327));
    EXPECT_EQ(LayoutProblems(form.get()), QStringList());

    // Used as a person would at the new size: click into the root field far out on its new
    // width and type, then pick a file through the moved Browse button.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* root = Child<QLineEdit>(form.get(), "EdtRoot");
    QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {},
                      at("EdtRoot").topLeft() + QPoint(1000, 10));
    ASSERT_EQ(QApplication::focusWidget(), root);
    for (char c : std::string("/rec/day 1"))
        QTest::keyClick(form->windowHandle(), c);
    EXPECT_EQ(root->text(), "/rec/day 1");
    auto* input = Child<QLineEdit>(form.get(), "EdtInput");
    dialogs.files = {dir + "/other.ts"};
    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnBrowse"), Qt::LeftButton);
    EXPECT_EQ(dialogs.fileTitles, QStringList{"Select M3U8 file"});
    EXPECT_EQ(input->text(), dir + "/other.ts");

    // Shrunk as far as it goes: the designed size again, every text readable.
    form->resize(300, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return geom("EdtInput").width() == 560; }, 5000));
    EXPECT_EQ(form->size(), QSize(933, 722));
    EXPECT_EQ(geom("Panel1"), QRect(8, 587, 913, 127));
    EXPECT_EQ(LayoutProblems(form.get()), QStringList());

    // With a much larger font (set where no style sheet decides the fonts) the smallest
    // window is larger, and still nothing is cut.
    qApp->setStyleSheet(QString());
    QFont big = form->font();
    big.setPointSize(15);
    form->setFont(big);
    form->resize(300, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->height() > 722; }, 5000));
    QApplication::processEvents();
    EXPECT_GE(form->width(), 933);
    EXPECT_EQ(LayoutProblems(form.get()), QStringList());
}

TEST_F(Window, QualityChoiceListsTheLinksVariants) {
    const QString hls = NewTempDir("hls");
    ASSERT_TRUE(MakeHlsMaster(hls, {QSize(320, 180), QSize(640, 360), QSize(480, 270)}, 2));
    TestHttpServer srv;
    srv.exportServiceEnv();
    srv.serveFolder("/hls/", hls);
    open();
    form->qualityReader().setDelayMs(50);
    auto* input = Child<QLineEdit>(form.get(), "EdtInput");
    auto* quality = Child<QComboBox>(form.get(), "CmbQuality");
    EXPECT_FALSE(quality->isEnabled()); // nothing to choose for a local file
    EXPECT_EQ(quality->currentText(), "Best");
    Child<QLineEdit>(form.get(), "EdtOutput")->setText(dir);

    // Typed a letter at a time: one read, once typing pauses.
    QTest::keyClicks(input, srv.url("/hls/master.m3u8"));
    EXPECT_TRUE(quality->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return quality->count() == 5; }, 20000));
    QStringList items;
    for (int i = 0; i < quality->count(); ++i)
        items << quality->itemText(i);
    EXPECT_EQ(items, (QStringList{"Best", "Smallest", "640x360, 1.8 Mb/s", "480x270, 1.0 Mb/s",
                                  "320x180, 461 kb/s"}));
    EXPECT_EQ(srv.requestCount(), 1);

    quality->setCurrentIndex(3);
    srv.clearRequests();
    QTest::mouseClick(Child<QPushButton>(form.get(), "BtnConvert"), Qt::LeftButton);
    finish();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Information) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(ProbeSize(dir + "/output.mp4"), "480x270");
    EXPECT_EQ(CountVideoFrames(dir + "/output.mp4"), 50);
    EXPECT_NEAR(AudioSeconds(dir + "/output.mp4"), 2.0, 0.2);
    for (const auto& r : srv.requests())
        EXPECT_TRUE(!r.path.startsWith("/hls/v640x360/") && !r.path.startsWith("/hls/v320x180/"))
            << r.path.constData();

    // Another link forgets the list; a local path turns the choice off.
    input->setText(srv.url("/hls/v480x270/index.m3u8"));
    EXPECT_EQ(quality->count(), 2);
    EXPECT_EQ(quality->currentText(), "Best");
    input->setText(dir);
    EXPECT_FALSE(quality->isEnabled());
}

// A user types or pastes the input at once: the keys go where the window put the focus.
TEST_F(Window, TypingRightAfterStartLandsInTheInputField) {
    open();
    // As a window manager does for a new window (Xvfb runs none).
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // Otherwise the blank would press a button, Feedback opening a modal window.
    ASSERT_EQ(QApplication::focusWidget(), form->EdtInput);
    // Through the window system's key path, to whatever has the focus.
    for (char c : std::string("/rec/a b.ts"))
        QTest::keyClick(form->windowHandle(), c);
    EXPECT_EQ(form->EdtInput->text(), "/rec/a b.ts");
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_FALSE(form->findChild<QDialog*>()); // the blank opened no feedback window
}

// halvora FILE|URL: the first item fills its field once the window shows.
TEST_F(Window, CommandLineItemsFillTheFields) {
    ASSERT_TRUE(WriteAll(dir + "/a.ts", "x"));
    open();
    form->OpenInput(ArgumentItems({"a.ts"}, dir), InputTarget::CommandLine);
    EXPECT_EQ(form->EdtInput->text(), dir + "/a.ts");
    EXPECT_TRUE(form->BtnConvert->isEnabled());
    EXPECT_EQ(status(), "Ready");

    form->OpenInput(ArgumentItems({dir, dir + "/a.ts"}, "/"), InputTarget::CommandLine);
    EXPECT_EQ(form->EdtRoot->text(), dir);
    EXPECT_TRUE(form->BtnBatch->isEnabled());
    EXPECT_EQ(form->EdtInput->text(), dir + "/a.ts");
    EXPECT_EQ(status(), "Took the first of 2 items; the other was ignored.");

    form->OpenInput(ArgumentItems({"https://h.example/live/x.m3u8"}, dir),
                    InputTarget::CommandLine);
    EXPECT_EQ(form->EdtInput->text(), "https://h.example/live/x.m3u8");
    EXPECT_EQ(form->BtnConvert->text(), "Download / Convert");
}

// A real drop through the window: over the input field, over a panel, several items.
TEST_F(Window, DroppedFilesLinksAndFolders) {
    ASSERT_TRUE(WriteAll(dir + "/été 100%.ts", "x"));
    open();
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(dir + "/été 100%.ts")});
    ASSERT_TRUE(DropOnto(form.get(), CentreInWindow(form->EdtInput), file));
    EXPECT_EQ(form->EdtInput->text(), dir + "/été 100%.ts");
    EXPECT_TRUE(form->BtnConvert->isEnabled());

    // A folder onto the output field (anywhere) is the batch root; the output stays.
    const QString output = form->EdtOutput->text();
    QMimeData folders;
    folders.setUrls(
        {QUrl::fromLocalFile(dir), QUrl::fromLocalFile("/tmp"), QUrl("https://h/x.m3u8")});
    ASSERT_TRUE(DropOnto(form.get(), CentreInWindow(form->EdtOutput), folders));
    EXPECT_EQ(form->EdtRoot->text(), dir);
    EXPECT_EQ(form->EdtOutput->text(), output);
    EXPECT_TRUE(form->BtnBatch->isEnabled());
    EXPECT_EQ(status(), "Took the first of 3 items; the other 2 were ignored.");

    QMimeData link;
    link.setText("https://h.example/live/index.m3u8");
    ASSERT_TRUE(DropOnto(form.get(), CentreInWindow(form->BtnClip), link));
    EXPECT_EQ(form->EdtInput->text(), "https://h.example/live/index.m3u8");

    // Nothing usable: refused, nothing changes.
    QMimeData words;
    words.setText("some words");
    EXPECT_FALSE(DropOnto(form.get(), CentreInWindow(form->EdtInput), words));
    EXPECT_EQ(form->EdtInput->text(), "https://h.example/live/index.m3u8");
}
