// The start-up bootstrap with the real main window under Xvfb: status line, the Retry/Cancel
// box, the update prompt on the window thread, and windows that close before their jobs end.
#include "AppPaths.h"
#include "Bootstrap.h"
#include "FakeDialogs.h"
#include "TestSupport.h"
#include "Umain.h"
#include "UpdaterFixtures.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

const QString kDownloading = "Downloading components needed by the program...";
const QString kLongBox =
    "Additional components needed by the program could not be downloaded:\nthere is no Internet "
    "connection.\n\nPlease connect to the Internet - and if a firewall is running,\nallow this "
    "program to connect - then press Retry.";
const QString kShortBox =
    "Additional components needed by the program could not be downloaded.\n\nPress Retry to try "
    "again.";

// The shared fake, also noting at each box the status line and whether it opened on the
// window thread.
class ScriptedDialogs : public FakeDialogs {
public:
    BoxAnswer message(QWidget* AParent, BoxKind AKind, const QString& ATitle, const QString& AText,
                      BoxButtons AButtons) override {
        statusAtBox << (status ? status->text() : QString());
        onWindowThread << (QThread::currentThread() == qApp->thread());
        return FakeDialogs::message(AParent, AKind, ATitle, AText, AButtons);
    }
    QStringList statusAtBox;
    QList<bool> onWindowThread;
    QLabel* status = nullptr;
};

// Every status write, in order.
class RecordingForm : public TForm2 {
public:
    using TForm2::TForm2;
    void setStatus(const QString& AText) override {
        statuses << AText;
        TForm2::setStatus(AText);
    }
    QStringList statuses;
};

class StartupBootstrap : public ::testing::Test {
protected:
    void open() {
        const QString app = FApp;
        form = std::make_unique<RecordingForm>(dialogs, nullptr, ProcessRunner{}, [app] {
            return QFileInfo(app + "ffmpeg").isFile() ? app + "ffmpeg" : QString();
        });
        dialogs.status = form->LblStatus;
        form->SetBootstrapSetup(FApp, [](TUpdater& u) { u.SetHelperPath(HelperPath()); });
        form->show();
    }
    // The window's start-up jobs run, or have outcomes still to deliver. A window that has gone
    // waited for its jobs.
    bool jobsRunning() const { return form && form->bootstrap().running(); }
    void TearDown() override { form.reset(); }
    // Jobs done and everything they handed over delivered.
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !jobsRunning(); }, 30000));
        QCoreApplication::processEvents();
    }
    void componentsPresent() {
        WriteAll(FApp + "ffmpeg", "#!/bin/sh\n");
        QDir().mkpath(FApp + "vlc");
    }

    ComponentService service; // also the application folder
    const QString& FApp = service.app;
    ScriptedDialogs dialogs;
    std::unique_ptr<RecordingForm> form;
};

} // namespace

TEST_F(StartupBootstrap, ComponentsPresentNoBox) {
    componentsPresent();
    service.srv.route("/update/version.json", TestHttpServer::Status(404));
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.srv.requestCount() == 1; }, 15000));
    settle();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(form->LblStatus->text(), "Ready");
    EXPECT_FALSE(form->statuses.contains(kDownloading));
    EXPECT_EQ(service.srv.requests()[0].path, "/update/version.json"); // no component list
}

TEST_F(StartupBootstrap, LeftoverUpdateDownloadRemovedAtStart) {
    // The new program file of an update whose helper was killed before it finished.
    const QString leftover = QDir::tempPath() + "/Halvora_update/Halvora_new";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(leftover).path()));
    ASSERT_TRUE(WriteAll(leftover, "#!/bin/sh\n"));
    componentsPresent();
    service.srv.route("/update/version.json", TestHttpServer::Status(404));
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.srv.requestCount() == 1; }, 15000));
    settle();
    EXPECT_FALSE(QFileInfo::exists(leftover));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(form->LblStatus->text(), "Ready");
}

TEST_F(StartupBootstrap, UpdatePromptRunsOnTheWindowThread) {
    componentsPresent();
    service.srv.route("/update/version.json",
                      TestHttpServer::Json(R"({"version":"1.0.99.0","url":"https://127.0.0.1:9/x",)"
                                           R"("notes":"Notes"})"));
    dialogs.answer = [](const Box&) { return BoxAnswer::No; };
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes.size() == 1; }, 15000));
    settle();
    const auto& box = dialogs.boxes[0];
    EXPECT_EQ(box.kind, BoxKind::Information);
    EXPECT_EQ(box.buttons, BoxButtons::YesNo);
    EXPECT_TRUE(dialogs.onWindowThread[0]);
    EXPECT_EQ(box.text, "A new version is available:\nCurrent: " + FileVersionText() +
                            "\nNew: 1.0.99.0\nNotes\n\nUpdate now?");
}

TEST_F(StartupBootstrap, NoServerGivesTheLongBox) {
    qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9");
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes.size() == 1; }, 15000));
    const auto box = dialogs.boxes[0];
    EXPECT_EQ(box.kind, BoxKind::Warning);
    EXPECT_EQ(box.buttons, BoxButtons::RetryCancel);
    EXPECT_EQ(box.text, kLongBox);
    EXPECT_TRUE(dialogs.statusAtBox[0].startsWith(
        "Components unavailable: the download server could not be reached within 10 seconds ("));
    EXPECT_TRUE(form->statuses.contains(kDownloading));
    settle();
    // Cancel: nothing more, the buttons stay off while ffmpeg is missing.
    EXPECT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(form->LblStatus->text(), dialogs.statusAtBox[0]);
    EXPECT_FALSE(form->BtnConvert->isEnabled());
}

TEST_F(StartupBootstrap, CorruptArchiveGivesTheShortBox) {
    QDir().mkpath(FApp + "vlc");
    service.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    QByteArray entry = service.entry("ffmpeg", "ffmpeg", "ffmpeg.tar.gz");
    // Same length, other content: the digest no longer fits.
    QByteArray data = ReadAll(service.store + "/ffmpeg.tar.gz");
    data[data.size() / 2] = char(data[data.size() / 2] ^ 0x01);
    WriteAll(service.store + "/ffmpeg.tar.gz", data);
    service.setList("{\"components\":[" + entry + "]}");
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes.size() == 1; }, 15000));
    EXPECT_EQ(dialogs.boxes[0].text, kShortBox);
    EXPECT_EQ(dialogs.statusAtBox[0], "Components unavailable: ffmpeg: integrity check failed");
    EXPECT_FALSE(QFileInfo::exists(FApp + "ffmpeg"));
}

TEST_F(StartupBootstrap, RetryAfterTheServerComesBackEnablesConversion) {
    service.addArchive("ffmpeg.tar.gz", {"ffmpeg"});
    service.addArchive("vlc.tar.gz", {"vlc/libvlc.so.5"});
    service.setList("{\"components\":[" + service.entry("ffmpeg", "FFmpeg", "ffmpeg.tar.gz") + "," +
                    service.entry("vlc", "VLC", "vlc.tar.gz") + "]}");
    service.srv.route("/update/version.json", TestHttpServer::Status(404));
    qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9"); // down at first
    const QString root = NewTempDir("root");
    dialogs.answer = [&](const Box&) {
        // The service comes back once the first run's jobs have finished with it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !jobsRunning(); }, 15000));
        service.srv.exportServiceEnv();
        return BoxAnswer::Retry;
    };
    open();
    form->EdtInput->setText("https://example.com/live.m3u8");
    form->EdtRoot->setText(root);
    EXPECT_FALSE(form->BtnConvert->isEnabled());
    EXPECT_FALSE(form->BtnBatch->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->BtnConvert->isEnabled(); }, 30000));
    settle();
    EXPECT_TRUE(form->BtnBatch->isEnabled());
    EXPECT_EQ(dialogs.boxes.size(), 1);
    const qsizetype retry = form->statuses.indexOf("Trying again...");
    ASSERT_GE(retry, 0);
    EXPECT_EQ(form->statuses.indexOf(kDownloading, retry), retry + 1);
    EXPECT_EQ(form->LblStatus->text(), kDownloading);
    EXPECT_EQ(ReadAll(FApp + "ffmpeg"), "ffmpeg");
    EXPECT_TRUE(QFileInfo(FApp + "vlc/libvlc.so.5").isFile());
}

TEST_F(StartupBootstrap, WindowClosingWhileItsWorkerRuns) {
    // Gone while the worker fetches the component list.
    TestHttpServer::Reply slow = TestHttpServer::Status(404);
    slow.delayMs = 500;
    service.srv.route("/update/components.json", slow);
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.srv.requestCount() == 1; }, 15000));
    form.reset();
    settle();
    EXPECT_TRUE(dialogs.boxes.isEmpty());

    // Gone while the worker is about to hand its update prompt over.
    componentsPresent();
    TestHttpServer::Reply offer =
        TestHttpServer::Json(R"({"version":"1.0.99.0","url":"https://127.0.0.1:9/x"})");
    offer.delayMs = 500;
    service.srv.route("/update/version.json", offer);
    service.srv.clearRequests();
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.srv.requestCount() == 1; }, 15000));
    form.reset();
    settle();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(StartupBootstrap, UpdatePromptOpensOnTopOfTheRetryBox) {
    service.srv.route("/update/components.json", TestHttpServer::Status(404));
    service.srv.route(
        "/update/version.json",
        TestHttpServer::Json(R"({"version":"1.0.99.0","url":"https://127.0.0.1:9/x"})"));
    bool promptSeenInside = false;
    dialogs.answer = [&](const Box& ABox) {
        if (ABox.kind == BoxKind::Warning) {
            // While this box is open the worker hands its prompt over, and it is served here.
            promptSeenInside = QTest::qWaitFor([&] { return dialogs.boxes.size() == 2; }, 15000);
            return BoxAnswer::Cancel;
        }
        return BoxAnswer::No;
    };
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes.size() == 2; }, 15000));
    settle();
    EXPECT_TRUE(promptSeenInside);
    EXPECT_EQ(dialogs.boxes[0].text, kLongBox); // 404 for the list counts as offline
    EXPECT_EQ(dialogs.boxes[1].kind, BoxKind::Information);
    EXPECT_TRUE(dialogs.onWindowThread[1]);
}
