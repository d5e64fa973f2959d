// Feedback that could reach the maker's terminal, and the client addresses posts are counted by.
#include "FeedbackExport.h"
#include "FeedbackForm.h"
#include "FeedbackStore.h"
#include "RawClient.h"
#include "ServiceFixture.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

QByteArray WithField(const QByteArray& ABody, const char* AKey, const QByteArray& AValue) {
    QList<QByteArray> items = ABody.split('&');
    for (QByteArray& i : items)
        if (i.startsWith(QByteArray(AKey) + "="))
            i = QByteArray(AKey) + "=" + AValue;
    return items.join('&');
}

// One post over plain HTTP from 127.0.0.1, with extra header lines; the status.
int PostStatus(int APort, const QByteArray& ABody, const QByteArray& AExtra = {}) {
    RawClient c(APort, false);
    QByteArray got;
    c.Send("POST /halvora/feedback HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n" +
           AExtra + "Content-Length: " + QByteArray::number(ABody.size()) + "\r\n\r\n" + ABody);
    c.ReadToClose(got, 5000);
    return ResponseStatuses(got).value(0);
}

// What a terminal would act on: C0 controls but line feed, carriage return and tab; DEL; C1.
bool HasRawControl(const QByteArray& AText) {
    for (qsizetype i = 0; i < AText.size(); ++i) {
        const uchar c = uchar(AText[i]);
        if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7f)
            return true;
        if (c == 0xc2 && i + 1 < AText.size() && uchar(AText[i + 1]) >= 0x80 &&
            uchar(AText[i + 1]) <= 0x9f)
            return true;
    }
    return false;
}

} // namespace

TEST(FeedbackHardening, ControlCharactersRefusedInEveryField) {
    const QByteArray good = FeedbackBody("me@mail-host.org", "Hello");
    const QString site = NewTempDir("site");
    const QString db = NewTempDir("db") + "/feedback.db";
    ServiceProcess svc(site, db, {"--posts-per-minute", "0"}, false);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    for (const char* key : {"name", "email", "message", "ver", "os", "mc", "src"})
        for (const QByteArray& bad : {QByteArray("%1B%5B2J"), QByteArray("%07"), QByteArray("%00"),
                                      QByteArray("%7F"), QByteArray("%C2%9B")}) {
            const QList<QByteArray> parts = good.split('&');
            QByteArray value;
            for (const QByteArray& p : parts)
                if (p.startsWith(QByteArray(key) + "="))
                    value = p.mid(qsizetype(std::strlen(key)) + 1);
            EXPECT_EQ(PostStatus(svc.port(), WithField(good, key, value + bad)), 400)
                << key << " " << bad.constData();
        }
    // Line breaks and tabs are a message's own.
    EXPECT_EQ(PostStatus(svc.port(), WithField(good, "message", "a%0D%0Ab%09c")), 200);
    EXPECT_EQ(svc.terminate(), 0);
    EXPECT_EQ(StoredMessages(db), QStringList{"a\r\nb\tc"});
}

TEST(FeedbackHardening, TrustedProxyMustNameAnAddressAndIpv6CountsBySlash64) {
    const QString site = NewTempDir("site");
    const QString db = NewTempDir("db") + "/feedback.db";
    ServiceProcess svc(site, db, {"--posts-per-minute", "1", "--trusted-proxy", "127.0.0.1"},
                       false);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    const QByteArray body = FeedbackBody("me@mail-host.org", "Hello");
    struct Case {
        QByteArray forwarded;
        int status;
    } cases[] = {
        {"not-an-address", 400},
        {"10.0.0.1, <script>", 400},
        {"", 400},
        {"2001:db8:1:2::1", 200},
        {"2001:db8:1:2:ffff::9", 429}, // the same /64
        {"2001:db8:1:3::1", 200},
        {"::ffff:10.0.0.7", 200},
        {"10.0.0.7", 429}, // the same IPv4 address, written the other way
    };
    for (const Case& k : cases)
        EXPECT_EQ(PostStatus(svc.port(), body, "X-Forwarded-For: " + k.forwarded + "\r\n"),
                  k.status)
            << k.forwarded.constData();
    EXPECT_EQ(svc.terminate(), 0);
}

// Rows stored before the refusal existed (or written by other means) still reach the terminal
// only escaped.
TEST(FeedbackHardening, ListAndExportNeverWriteRawControls) {
    const QString db = NewTempDir("db") + "/feedback.db";
    {
        service::FeedbackStore store;
        QString err;
        ASSERT_TRUE(store.Open(db, err)) << qPrintable(err);
        service::FeedbackPost p{"me@mail-host.org",
                                "me@mail-host.org",
                                QString("bell\a esc\x1b[2J cr\rline\r\nnext\ttab del\x7f c1") +
                                    QChar(0x9b) + "31m",
                                "1.0.0.0",
                                "Linux \x1b]0;title\a",
                                "",
                                "Halvora"};
        ASSERT_TRUE(store.Add(p, "10.0.0.1\x1b[1m", err)) << qPrintable(err);
        store.Close();
    }
    auto run = [&](const QStringList& AArgs) {
        QProcess proc;
        proc.start(ServiceProgram(), QStringList{"feedback"} + AArgs + QStringList{"--db", db});
        proc.waitForFinished(30000);
        return proc.readAllStandardOutput();
    };
    const QByteArray list = run({"list"});
    EXPECT_FALSE(HasRawControl(list)) << list.toHex().constData();
    EXPECT_FALSE(list.contains('\r'));
    EXPECT_TRUE(list.contains("esc\\x1b[2J")) << list.constData();
    EXPECT_TRUE(list.contains("c1\\u009b31m")) << list.constData();
    EXPECT_TRUE(list.contains("next\ttab"));
    const QByteArray csv = run({"export"});
    EXPECT_FALSE(HasRawControl(csv));
    EXPECT_TRUE(csv.contains("line\r\nnext")); // a cell's own line break stays
    const QByteArray json = run({"export", "--format", "json"});
    EXPECT_FALSE(HasRawControl(json));
    // JSON escapes keep the text whole for a program that reads it.
    const QJsonArray rows = QJsonDocument::fromJson(json).array();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows[0].toObject().value("message").toString().contains(QChar(0x9b)));
}
