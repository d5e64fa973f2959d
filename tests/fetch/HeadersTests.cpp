// Request headers: the lines the Headers dialog accepts, and headers typed into it as a person
// does reaching a server that refuses requests without its Referer and cookie.
#include "Controls.h"
#include "FakeDialogs.h"
#include "FetchFixtures.h"
#include "QuietForm.h"
#include "RequestHeaders.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

TEST(Headers, OnlyTokenNamesWithValuesWithoutLineBreaks) {
    struct Case {
        QString text;
        QStringList lines;     // what is accepted
        QString refusedPrefix; // the start of the refusal; empty: accepted
    };
    const QList<Case> cases = {
        {"Referer: https://example.com/\n\nUser-Agent:   Mozilla/5.0  \r\n",
         {"Referer: https://example.com/", "User-Agent: Mozilla/5.0"},
         {}},
        {"X-Tab:\ta\tb", {"X-Tab: a\tb"}, {}},
        {"Referer https://example.com/", {}, "Header line 1 is not \"Name: value\""},
        {"Referer: a\nBad Name: b", {}, "Header line 2 is not \"Name: value\""},
        {": no name", {}, "Header line 1 is not \"Name: value\""},
        {"X-Evil: a\rInjected: b", {}, "Header line 1 holds a line break"},
        {QString("X-Nul: a") + QChar(0) + "b", {}, "Header line 1 holds a line break"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        RequestHeaders h;
        const QString problem = ReadHeaderLines(c.text, &h);
        if (c.refusedPrefix.isEmpty()) {
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
            EXPECT_EQ(h.lines, c.lines);
        } else {
            EXPECT_TRUE(problem.startsWith(c.refusedPrefix)) << problem.toStdString();
            EXPECT_TRUE(h.lines.isEmpty());
        }
    }
    const QString notCookies = NewTempDir("cookies") + "/cookies.txt";
    WriteAll(notCookies, "just some text\n");
    EXPECT_TRUE(CheckCookieFile(notCookies).contains("is not a cookies.txt file"));
    EXPECT_TRUE(
        CheckCookieFile(notCookies + ".none").startsWith("The cookies file cannot be read"));
}

namespace {

// Answers the Headers dialog once it is open, as AWork says; the dialog is modal.
void WhenHeadersOpen(const std::function<void(QDialog*)>& AWork) {
    QTimer::singleShot(0, [AWork] {
        QDialog* d = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            return d && d->objectName() == "HeadersDialog";
        }));
        AWork(d);
    });
}

} // namespace

TEST(HeadersWindow, TypedHeadersAndCookiesReachAServerThatNeedsThem) {
    TestHttpServer srv;
    srv.exportServiceEnv();
    const QString fixture = StreamFixture(StreamKind::Ts);
    ASSERT_FALSE(fixture.isEmpty());
    srv.serveFolder("/hls/", fixture);
    srv.requireHeaders("/hls/",
                       {{"Referer", "https://example.test/watch"}, {"Cookie", "session=s3cr3t"}});
    const QString cookies = NewTempDir("cookies") + "/cookies.txt";
    WriteAll(cookies,
             "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cr3t\n");

    FakeDialogs dialogs;
    dialogs.files << cookies;
    QuietForm form(dialogs, nullptr);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString dir = NewTempDir("headers");
    Child<QLineEdit>(&form, "EdtOutput")->setText(dir);
    auto* input = Child<QLineEdit>(&form, "EdtInput");
    input->setFocus();
    QTest::keyClicks(input, srv.url("/hls/index.m3u8"));

    bool refusedFirst = false;
    WhenHeadersOpen([&](QDialog* ADialog) {
        auto* memo = Child<QPlainTextEdit>(ADialog, "MemHeaders");
        memo->setFocus();
        QTest::keyClicks(memo, "Referer https://example.test/watch"); // no colon
        QTest::mouseClick(Child<QPushButton>(ADialog, "BtnCookies"), Qt::LeftButton);
        QTest::keyClick(ADialog, Qt::Key_Enter);
        refusedFirst = ADialog->isVisible() && dialogs.boxes.size() == 1;
        memo->selectAll();
        QTest::keyClicks(memo, "Referer: https://example.test/watch");
        QTest::keyClick(ADialog, Qt::Key_Enter);
    });
    QTest::mouseClick(Child<QPushButton>(&form, "BtnHeaders"), Qt::LeftButton);
    EXPECT_TRUE(refusedFirst);
    ASSERT_GE(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith("Header line 1 is not \"Name: value\""))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(form.requestHeaders().lines, QStringList{"Referer: https://example.test/watch"});
    EXPECT_EQ(form.requestHeaders().cookieFile, cookies);

    QTest::keyClick(input, Qt::Key_Return); // Convert
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.busy(); }, 120000));
    EXPECT_EQ(Child<QLabel>(&form, "LblStatus")->text(),
              "Conversion complete: " + dir + "/output.mp4");
    EXPECT_EQ(DecodedFrames(dir + "/output.mp4", "v"), DecodedFrames(fixture + "/index.m3u8", "v"));
    int segments = 0;
    for (const auto& r : srv.requests()) {
        EXPECT_NE(r.header("Referer"), QByteArray()) << r.path.constData();
        segments += r.path.endsWith(".ts") ? 1 : 0;
    }
    EXPECT_EQ(segments, 6);
}
