// The feedback window under Xvfb, driven by object names, posting to a real HTTPS server.
#include "Controls.h"
#include "FakeDialogs.h"
#include "TFormFeedback.h"
#include "TestHttpServer.h"
#include "Umain.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// Each box the window showed as "Kind:text".
QStringList Shown(const FakeDialogs& ADialogs) {
    QStringList all;
    for (const Box& b : ADialogs.boxes)
        all << QString::fromLatin1(b.kind == BoxKind::Warning       ? "Warning:"
                                   : b.kind == BoxKind::Information ? "Information:"
                                                                    : "Other:") +
                   b.text;
    return all;
}

class FeedbackWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FServer.isListening());
        FServer.exportServiceEnv();
        FServer.route(QStringLiteral("/halvora/feedback"), TestHttpServer::Json(R"({"ok":true})"));
        FForm = std::make_unique<TFormFeedback>(FDialogs);
        FEmail = Child<QLineEdit>(FForm.get(), "EdtEmail");
        FMemo = Child<QPlainTextEdit>(FForm.get(), "MemoMessage");
        FSend = Child<QPushButton>(FForm.get(), "BtnSend");
        FClose = Child<QPushButton>(FForm.get(), "BtnClose");
        FStatus = Child<QLabel>(FForm.get(), "LblStatus");
        FForm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
    }
    void TearDown() override {
        FForm.reset();
        qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9");
        qunsetenv("HALVORA_CA_FILE");
    }
    void Fill(const QString& AEmail, const QString& AMessage) {
        FEmail->setText(AEmail);
        FMemo->setPlainText(AMessage);
    }

    TestHttpServer FServer;
    FakeDialogs FDialogs;
    std::unique_ptr<TFormFeedback> FForm;
    QLineEdit* FEmail = nullptr;
    QPlainTextEdit* FMemo = nullptr;
    QPushButton* FSend = nullptr;
    QPushButton* FClose = nullptr;
    QLabel* FStatus = nullptr;
};

} // namespace

TEST_F(FeedbackWindow, TextsLayoutAndFocus) {
    EXPECT_EQ(FForm->windowTitle(), "Send feedback");
    EXPECT_EQ(Child<QLabel>(FForm.get(), "LblTitle")->text(), "Send feedback to support");
    EXPECT_TRUE(Child<QLabel>(FForm.get(), "LblTitle")->font().bold());
    EXPECT_EQ(Child<QLabel>(FForm.get(), "LblHint")->text(),
              "Your message and basic diagnostic info (app version, OS version, machine code) "
              "will be sent "
              "to our support team.");
    EXPECT_TRUE(Child<QLabel>(FForm.get(), "LblHint")->wordWrap());
    EXPECT_EQ(Child<QLabel>(FForm.get(), "LblEmail")->text(),
              "Your email (required - so we can reply):");
    EXPECT_EQ(Child<QLabel>(FForm.get(), "LblMessage")->text(), "Message:");
    EXPECT_EQ(FSend->text(), "Send");
    EXPECT_EQ(FClose->text(), "Close");
    EXPECT_TRUE(FStatus->text().isEmpty());
    EXPECT_NE(FForm->findChild<QWidget*>("PnlBottom"), nullptr);
    EXPECT_EQ(FForm->size(), QSize(520, 372));
    EXPECT_EQ(FEmail->width(), 480);
    EXPECT_EQ(FMemo->width(), 480);
    EXPECT_TRUE(FSend->isDefault());
    EXPECT_LT(FSend->x(), FClose->x());
    EXPECT_EQ(FMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(FForm->focusWidget(), FMemo);
    // Tab order: address, message, Send, Close, and round again to the address.
    FEmail->setFocus();
    for (QWidget* next : std::initializer_list<QWidget*>{FMemo, FSend, FClose, FEmail}) {
        QTest::keyClick(FForm->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(FForm->focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST_F(FeedbackWindow, InputChecksInOrderWithFocus) {
    QTest::mouseClick(FSend, Qt::LeftButton);
    EXPECT_EQ(Shown(FDialogs), QStringList{"Information:Please type your message before sending."});
    EXPECT_EQ(FForm->focusWidget(), FMemo);

    Fill(QStringLiteral("   "), QStringLiteral(" \n\n\t "));
    FEmail->setFocus();
    QTest::mouseClick(FSend, Qt::LeftButton);
    EXPECT_EQ(Shown(FDialogs).last(), "Information:Please type your message before sending.");
    EXPECT_EQ(FForm->focusWidget(), FMemo);

    Fill(QStringLiteral("  "), QStringLiteral("Hello"));
    QTest::mouseClick(FSend, Qt::LeftButton);
    EXPECT_EQ(Shown(FDialogs).last(),
              "Information:Please enter your email address so we can reply to you.");
    EXPECT_EQ(FForm->focusWidget(), FEmail);

    Fill(QStringLiteral("me@example.com"), QStringLiteral("Hello"));
    FMemo->setFocus();
    QTest::mouseClick(FSend, Qt::LeftButton);
    EXPECT_EQ(Shown(FDialogs).last(),
              "Information:That email address does not look valid - please check it.");
    EXPECT_EQ(FForm->focusWidget(), FEmail);
    EXPECT_EQ(FDialogs.boxes.size(), 4);
    EXPECT_EQ(FServer.requestCount(), 0);
    EXPECT_TRUE(FStatus->text().isEmpty());
}

TEST_F(FeedbackWindow, EnterInAddressSendsAndSuccessEmptiesTheWindow) {
    Fill(QStringLiteral("  me@mail-host.org "), QStringLiteral("Line one"));
    FMemo->setFocus();
    QTest::keyClick(FMemo, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(FMemo, Qt::Key_Return); // a new line, not a send
    QTest::keyClicks(FMemo, QStringLiteral("line two"));
    EXPECT_EQ(FMemo->toPlainText(), "Line one\nline two");
    EXPECT_EQ(FServer.requestCount(), 0);
    EXPECT_TRUE(FDialogs.boxes.isEmpty());

    FEmail->setFocus();
    QTest::keyClick(FEmail, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FForm->isVisible(); }, 5000));
    EXPECT_EQ(Shown(FDialogs), QStringList{"Information:Your feedback has been sent. Thank you!"});
    EXPECT_EQ(FStatus->text(), "Sent. Thank you!");
    EXPECT_TRUE(FEmail->text().isEmpty());
    EXPECT_TRUE(FMemo->toPlainText().isEmpty());
    EXPECT_EQ(FForm->result(), QDialog::Accepted);
    ASSERT_EQ(FServer.requestCount(), 1);
    EXPECT_TRUE(FServer.requests()[0].body.contains(
        "&email=me@mail-host.org&message=Line+one%0D%0Aline+two&"));

    // Shown again: not reset.
    FForm->show();
    EXPECT_EQ(FStatus->text(), "Sent. Thank you!");
    EXPECT_TRUE(FSend->isEnabled());
    EXPECT_TRUE(FClose->isEnabled());
}

TEST_F(FeedbackWindow, EscAndCloseButtonClose) {
    QTest::keyClick(FMemo, Qt::Key_Escape);
    EXPECT_FALSE(FForm->isVisible());
    FForm->show();
    QTest::mouseClick(FClose, Qt::LeftButton);
    EXPECT_FALSE(FForm->isVisible());
    EXPECT_EQ(FServer.requestCount(), 0);
}

TEST_F(FeedbackWindow, FailureKeepsTextsAndReenablesButtons) {
    FServer.route(QStringLiteral("/halvora/feedback"),
                  TestHttpServer::Json(R"({"ok":false,"error":"Mailbox full"})", 503));
    bool enabledDuringBox = true;
    FDialogs.onBox = [&] { enabledDuringBox = FSend->isEnabled() || FClose->isEnabled(); };
    Fill(QStringLiteral("me@mail-host.org"), QStringLiteral("Please help"));
    QTest::mouseClick(FSend, Qt::LeftButton);
    EXPECT_EQ(Shown(FDialogs), QStringList{"Warning:Could not send feedback: Mailbox full."});
    EXPECT_FALSE(enabledDuringBox);
    EXPECT_EQ(FStatus->text(), "Send failed.");
    EXPECT_TRUE(FForm->isVisible());
    EXPECT_TRUE(FSend->isEnabled());
    EXPECT_TRUE(FClose->isEnabled());
    EXPECT_EQ(FEmail->text(), "me@mail-host.org");
    EXPECT_EQ(FMemo->toPlainText(), "Please help");

    // The service can't be reached at all.
    FForm->setPostOptions({QStringLiteral("https://127.0.0.1:9/halvora/feedback"), 2000, 2000});
    QTest::mouseClick(FSend, Qt::LeftButton);
    ASSERT_EQ(FDialogs.boxes.size(), 2);
    EXPECT_TRUE(Shown(FDialogs)[1].startsWith("Warning:Could not send feedback ("))
        << Shown(FDialogs)[1].toStdString();
    EXPECT_TRUE(
        Shown(FDialogs)[1].endsWith(").\r\nPlease check your internet connection and try again."));
    EXPECT_TRUE(FSend->isEnabled());
    EXPECT_TRUE(FClose->isEnabled());
    EXPECT_EQ(FMemo->toPlainText(), "Please help");

    // Closed and opened again: still all there.
    QTest::mouseClick(FClose, Qt::LeftButton);
    FForm->show();
    EXPECT_EQ(FStatus->text(), "Send failed.");
    EXPECT_EQ(FEmail->text(), "me@mail-host.org");
}

TEST_F(FeedbackWindow, SecondSendWhileSendingDoesNothing) {
    FServer.route(QStringLiteral("/halvora/feedback"), TestHttpServer::Json(R"({"ok":false})"));
    Fill(QStringLiteral("me@mail-host.org"), QStringLiteral("Once"));
    int ranWhileSending = 0;
    // Queued now, run by the one message-processing step of the send.
    QMetaObject::invokeMethod(
        FForm.get(),
        [&] {
            EXPECT_TRUE(FForm->sending());
            EXPECT_EQ(FStatus->text(), "Sending...");
            EXPECT_FALSE(FSend->isEnabled());
            EXPECT_FALSE(FClose->isEnabled());
            FForm->BtnSendClick();
            QTest::keyClick(FEmail, Qt::Key_Return);
            QTest::keyClick(FEmail, Qt::Key_Escape); // no closing in the middle of a send
            ++ranWhileSending;
        },
        Qt::QueuedConnection);
    FForm->BtnSendClick();
    EXPECT_EQ(ranWhileSending, 1);
    EXPECT_EQ(FServer.requestCount(), 1);
    EXPECT_EQ(FDialogs.boxes.size(), 1);
    EXPECT_TRUE(FForm->isVisible());
    EXPECT_FALSE(FForm->sending());
}

TEST(FeedbackFromMainWindow, CreatedOnceShownModallyEachTime) {
    FakeDialogs dialogs;
    TForm2 main(dialogs);
    QList<QWidget*> shown;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            shown << modal;
            static_cast<QDialog*>(modal)->reject();
        }
    });
    poll.start();
    main.BtnFeedbackClick();
    main.BtnFeedbackClick();
    poll.stop();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_NE(qobject_cast<TFormFeedback*>(shown[0]), nullptr);
    EXPECT_EQ(shown[0]->parentWidget(), &main);
    EXPECT_EQ(main.findChildren<TFormFeedback*>().size(), 1);
}

// The window grows: the fields take the extra room, the buttons stay at the right, nothing
// overlaps; it never gets smaller than designed.
TEST_F(FeedbackWindow, GrowsWithItsFieldsAndKeepsItsMinimum) {
    const int memoHeight = FMemo->height();
    FForm->resize(820, 572);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FEmail->width() > 480; }, 5000));
    EXPECT_EQ(FEmail->width(), 780);
    EXPECT_EQ(FMemo->width(), 780);
    EXPECT_EQ(FMemo->height(), memoHeight + 200);
    EXPECT_EQ(FClose->mapTo(FForm.get(), QPoint(FClose->width(), 0)).x(), 800);
    QList<QWidget*> shown;
    for (const char* name : {"LblTitle", "LblHint", "LblEmail", "EdtEmail", "LblMessage",
                             "MemoMessage", "LblStatus", "PnlBottom"})
        shown << Child<QWidget>(FForm.get(), name);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(FForm->rect().contains(shown[i]->geometry())) << i;
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << shown[i]->objectName().toStdString() << " / "
                << shown[j]->objectName().toStdString();
    }
    FForm->resize(300, 200);
    EXPECT_EQ(FForm->size(), QSize(520, 372));
}
