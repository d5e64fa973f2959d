// The post and the send flow against a real HTTPS server on 127.0.0.1 with a test CA.
#include "EmailCheck.h"
#include "FeedbackPost.h"
#include "RecordingView.h"
#include "SendFlow.h"
#include "SystemTexts.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace halvora;
using halvora::test::RecordingView;
using halvora::test::TestHttpServer;

namespace {

const QString kPath = QStringLiteral("/halvora/feedback");
const QString kRetry = QStringLiteral("Please check your internet connection and try again.");

FeedbackPoster Poster(const FeedbackPostOptions& AOptions = {}) {
    return [AOptions](const QStringList& AItems, QString& AReply, QString& AErr) {
        return PostFeedback(AItems, AReply, AErr, AOptions);
    };
}

// The flow from a filled-in window to its end; gives what the window was asked to do.
QStringList Send(const FeedbackPoster& APost, RecordingView& AView) {
    bool sending = false;
    SendFeedback(AView, sending, APost);
    EXPECT_FALSE(sending);
    EXPECT_TRUE(AView.buttonsEnabled);
    return AView.calls;
}

RecordingView Filled() {
    RecordingView view;
    view.message = QStringLiteral("  The export hangs.\nTwice today.  \n");
    view.email = QStringLiteral("  someone@mail-host.org ");
    return view;
}

QStringList FailedCalls(const QString& ABox) {
    return {"buttons:off",         "status:Sending...",   "process",
            "status:Send failed.", "box:Warning:" + ABox, "buttons:on"};
}

class FeedbackPost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FServer.isListening());
        FServer.exportServiceEnv();
    }
    void TearDown() override {
        qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9");
        qunsetenv("HALVORA_CA_FILE");
    }
    void Reply(int AStatus, const QByteArray& ABody) {
        FServer.route(kPath, TestHttpServer::Json(ABody, AStatus));
    }

    TestHttpServer FServer;
};

} // namespace

TEST_F(FeedbackPost, SendsTheExactRequest) {
    Reply(200, R"({"ok":true})");
    const QString longLine =
        QString(3000, u'x'); // long enough that curl would ask "Expect: 100-continue"
    const QStringList items =
        FeedbackFields(QStringLiteral("me@mail-host.org"),
                       QString::fromUtf16(u"Hi there, 50% off!\r\nÄ😀 ") + longLine,
                       AppVersionText(), OSVersionText(), MachineIdText());
    QString reply;
    QString err = QStringLiteral("stale");
    ASSERT_TRUE(PostFeedback(items, reply, err)) << err.toStdString();
    EXPECT_EQ(reply, R"({"ok":true})");
    EXPECT_TRUE(err.isEmpty());

    const auto requests = FServer.requests();
    ASSERT_EQ(requests.size(), 1);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/halvora/feedback");
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(r.body, FormBody(items));
    EXPECT_TRUE(r.body.startsWith(
        "name=me@mail-host.org&email=me@mail-host.org&message=Hi+there%2C+50%25+off!%0D%0A"
        "%C3%84%F0%9F%98%80+xxx"));
    EXPECT_TRUE(r.body.endsWith("&src=Halvora"));
    for (const char* h : {"Authorization", "Cookie", "Expect", "Proxy-Authorization"})
        EXPECT_TRUE(r.header(h).isEmpty()) << h;
}

TEST_F(FeedbackPost, ReplyBodyWhateverTheStatus) {
    Reply(500, R"({"ok":true,"note":"queued"})");
    QString reply;
    QString err;
    ASSERT_TRUE(PostFeedback({"src=Halvora"}, reply, err));
    EXPECT_EQ(reply, R"({"ok":true,"note":"queued"})");
    FServer.route(kPath,
                  TestHttpServer::Status(404, QString::fromUtf16(u"nicht gefunden: ü").toUtf8()));
    ASSERT_TRUE(PostFeedback({"src=Halvora"}, reply, err));
    EXPECT_EQ(reply, QString::fromUtf16(u"nicht gefunden: ü"));
}

TEST_F(FeedbackPost, AcceptedRepliesEndInSuccess) {
    for (const auto& [status, body] :
         std::vector<std::pair<int, QByteArray>>{{200, R"({"ok":true})"},
                                                 {200, "{ \"ok\" :\r\n\ttrue }"},
                                                 {500, R"({"error":"later","ok":true})"}}) {
        Reply(status, body);
        RecordingView view = Filled();
        EXPECT_EQ(
            Send(Poster(), view),
            QStringList({"buttons:off", "status:Sending...", "process", "status:Sent. Thank you!",
                         "box:Information:Your feedback has been sent. Thank you!", "clear",
                         "close", "buttons:on"}))
            << body.toStdString();
    }
    // What went out: trimmed address in both name and email, trimmed message with CR LF, and
    // the same source item every time.
    const auto requests = FServer.requests();
    ASSERT_EQ(requests.size(), 3);
    for (const auto& r : requests)
        EXPECT_TRUE(r.body.endsWith("&src=Halvora")) << r.body.toStdString();
    const QByteArray body = requests.last().body;
    EXPECT_TRUE(
        body.startsWith("name=someone@mail-host.org&email=someone@mail-host.org&"
                        "message=The+export+hangs.%0D%0ATwice+today.&ver=1.0.31.6&os=Linux+"))
        << body.toStdString();
}

TEST_F(FeedbackPost, RefusedRepliesKeepTheInput) {
    const QString plain = QStringLiteral("Could not send feedback. ") + kRetry;
    for (const auto& [status, body, box] : std::vector<std::tuple<int, QByteArray, QString>>{
             {200, R"({ "OK" : TRUE })", plain},
             {200, R"({"ok":"true"})", plain},
             {200, R"({"ok":false})", plain},
             {200, "", plain},
             {502, "<html>Bad gateway</html>", plain},
             {200, R"({"ok":false,"error":"Message too short","error":"dup"})",
              QStringLiteral("Could not send feedback: Message too short.")},
             {400, R"({ "error" : "Bad address" })",
              QStringLiteral("Could not send feedback: Bad address.")},
         }) {
        Reply(status, body);
        RecordingView view = Filled();
        EXPECT_EQ(Send(Poster(), view), FailedCalls(box)) << body.toStdString();
        EXPECT_FALSE(view.message.isEmpty());
        EXPECT_FALSE(view.email.isEmpty());
    }
}

TEST_F(FeedbackPost, ReplyTooLargeIsAFailure) {
    Reply(200, QByteArray(R"({"ok":true,"pad":")") + QByteArray(2 * 1024 * 1024, 'p') + "\"}");
    RecordingView view = Filled();
    const QStringList calls = Send(Poster(), view);
    ASSERT_EQ(calls.size(), 6);
    EXPECT_TRUE(calls[4].startsWith("box:Warning:Could not send feedback ("))
        << calls[4].toStdString();
}

TEST(FeedbackPostFailures, UnreachableOrUntrustedServersEndInTheErrorBox) {
    struct Case {
        TestHttpServer::Mode mode;
        const char* what;
    };
    for (const Case& c : {
             Case{TestHttpServer::Mode::HttpsTls11Only, "TLS 1.1 only"},
             Case{TestHttpServer::Mode::HttpsUntrusted, "untrusted certificate"},
         }) {
        TestHttpServer srv(c.mode);
        ASSERT_TRUE(srv.isListening());
        srv.route(kPath, TestHttpServer::Json(R"({"ok":true})"));
        qputenv("HALVORA_CA_FILE", TestHttpServer::caFile().toLocal8Bit());
        FeedbackPostOptions options;
        options.url = QStringLiteral("https://127.0.0.1:%1/halvora/feedback").arg(srv.port());
        RecordingView view = Filled();
        const QStringList calls = Send(Poster(options), view);
        ASSERT_EQ(calls.size(), 6) << c.what;
        EXPECT_EQ(calls[3], "status:Send failed.");
        EXPECT_TRUE(calls[4].startsWith("box:Warning:Could not send feedback ("))
            << calls[4].toStdString();
        EXPECT_TRUE(calls[4].endsWith(").\r\n" + kRetry)) << calls[4].toStdString();
        EXPECT_GT(calls[4].size(),
                  QStringLiteral("box:Warning:Could not send feedback ().\r\n").size() +
                      kRetry.size())
            << "the client's own text is shown";
        EXPECT_EQ(srv.requestCount(), 0) << c.what;
    }
    qunsetenv("HALVORA_CA_FILE");

    // Nothing listens on the discard port of the loopback address.
    FeedbackPostOptions refused;
    refused.url = QStringLiteral("https://127.0.0.1:9/halvora/feedback");
    RecordingView view = Filled();
    const QStringList calls = Send(Poster(refused), view);
    ASSERT_EQ(calls.size(), 6);
    EXPECT_TRUE(calls[4].startsWith("box:Warning:Could not send feedback ("))
        << calls[4].toStdString();
}

TEST(FeedbackPostFailures, SilentServersTimeOut) {
    for (const auto mode :
         {TestHttpServer::Mode::NeverAnswers, TestHttpServer::Mode::TlsNeverCompletes}) {
        TestHttpServer srv(mode);
        ASSERT_TRUE(srv.isListening());
        qputenv("HALVORA_CA_FILE", TestHttpServer::caFile().toLocal8Bit());
        FeedbackPostOptions options;
        options.url = srv.url(kPath);
        options.connectTimeoutMs = 400;
        options.responseTimeoutMs = 400;
        RecordingView view = Filled();
        QElapsedTimer clock;
        clock.start();
        const QStringList calls = Send(Poster(options), view);
        EXPECT_LT(clock.elapsed(), 10000);
        ASSERT_EQ(calls.size(), 6);
        EXPECT_TRUE(calls[4].startsWith("box:Warning:Could not send feedback ("))
            << calls[4].toStdString();
        EXPECT_TRUE(calls[4].contains(QStringLiteral("time"), Qt::CaseInsensitive))
            << calls[4].toStdString();
    }
    qunsetenv("HALVORA_CA_FILE");
}

TEST_F(FeedbackPost, RedirectsOnlyToHttps) {
    TestHttpServer plain(TestHttpServer::Mode::Http);
    plain.route(kPath, TestHttpServer::Json(R"({"ok":true})"));
    FServer.redirect(kPath, plain.url(kPath), 307);
    QString reply;
    QString err;
    EXPECT_FALSE(PostFeedback({"message=secret"}, reply, err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(plain.requestCount(), 0);

    FServer.redirect(kPath, FServer.url(QStringLiteral("/halvora/feedback2")), 307);
    FServer.route(QStringLiteral("/halvora/feedback2"), TestHttpServer::Json(R"({"ok":true})"));
    ASSERT_TRUE(PostFeedback({"message=kept"}, reply, err)) << err.toStdString();
    EXPECT_EQ(reply, R"({"ok":true})");
    EXPECT_EQ(FServer.requests().last().body, "message=kept");

    // A moved service gets the form itself, not an empty GET that could answer "ok".
    for (const int status : {301, 302}) {
        FServer.clearRequests();
        FServer.redirect(kPath, FServer.url(QStringLiteral("/halvora/feedback2")), status);
        ASSERT_TRUE(PostFeedback({"message=moved"}, reply, err)) << err.toStdString();
        ASSERT_EQ(FServer.requestCount(), 2) << status;
        EXPECT_EQ(FServer.requests().last().method, "POST") << status;
        EXPECT_EQ(FServer.requests().last().body, "message=moved") << status;
    }
}

// Input checks in order, before anything is sent, and a second Send while sending.
TEST_F(FeedbackPost, InputChecksAndSecondSend) {
    Reply(200, R"({"ok":true})");
    struct Case {
        const char16_t* message;
        const char16_t* email;
        QStringList calls;
    };
    const QString noMessage =
        QStringLiteral("box:Information:Please type your message before sending.");
    const QString noEmail =
        QStringLiteral("box:Information:Please enter your email address so we can reply to you.");
    const QString badEmail =
        QStringLiteral("box:Information:That email address does not look valid - please check it.");
    for (const Case& c : {Case{u"", u"", {noMessage, "focus:message"}},
                          Case{u" \r\n\t ", u"a@mail.org", {noMessage, "focus:message"}},
                          Case{u"hello", u"  \n", {noEmail, "focus:email"}},
                          Case{u"hello", u"a@mailinator.com", {badEmail, "focus:email"}},
                          Case{u"hello", u"a b@mail.org", {badEmail, "focus:email"}}}) {
        RecordingView view;
        view.message = QString::fromUtf16(c.message);
        view.email = QString::fromUtf16(c.email);
        bool sending = false;
        SendFeedback(view, sending, Poster());
        EXPECT_EQ(view.calls, c.calls);
    }
    EXPECT_EQ(FServer.requestCount(), 0);

    RecordingView view = Filled();
    bool sending = false;
    int reentered = 0;
    view.onProcess = [&] {
        EXPECT_TRUE(sending);
        EXPECT_FALSE(view.buttonsEnabled);
        const qsizetype before = view.calls.size();
        SendFeedback(view, sending, Poster()); // a second Send while the first is under way
        EXPECT_EQ(view.calls.size(), before);
        ++reentered;
    };
    SendFeedback(view, sending, Poster());
    EXPECT_EQ(reentered, 1);
    EXPECT_FALSE(sending);
    EXPECT_EQ(FServer.requestCount(), 1);
}
