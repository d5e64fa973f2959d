// The libcurl client and the verified download against the loopback test server.
#include "Download.h"
#include "HttpClient.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>

using namespace halvora;
using namespace halvora::test;
using Fault = TestHttpServer::Fault;

namespace {

QByteArray Payload(int ASize) {
    QByteArray data(ASize, Qt::Uninitialized);
    for (int i = 0; i < ASize; ++i)
        data[i] = char((i * 131 + i / 7) & 0xff);
    return data;
}

QString Sha(const QByteArray& AData) {
    return QString::fromLatin1(QCryptographicHash::hash(AData, QCryptographicHash::Sha256).toHex());
}

class HttpFixture : public ::testing::Test {
protected:
    void SetUp() override {
        HttpGlobalInit();
        qputenv("HALVORA_CA_FILE", QFile::encodeName(TestHttpServer::caFile()));
        dir = NewTempDir("dl");
        files = NewTempDir("srv");
        data = Payload(300000);
        ASSERT_TRUE(WriteAll(files + "/comp.zip", data));
        srv.serveFolder("/update/components/", files);
        dest = dir + "/comp.zip";
    }
    void TearDown() override { qunsetenv("HALVORA_CA_FILE"); }

    // Every failing case must leave no file behind, also when one stood there before.
    void ExpectFails(const QString& AUrl, const QString& AErr, const QString& ASha = {},
                     qint64 ASize = 0, DownloadTimeouts ATimeouts = {}) {
        ASSERT_TRUE(WriteAll(dest, "an older file"));
        QString err = "stale";
        EXPECT_FALSE(DownloadFile(AUrl, dest, ASha, ASize, err, ATimeouts)) << AUrl.toStdString();
        EXPECT_EQ(err, AErr);
        EXPECT_FALSE(QFileInfo::exists(dest)) << AUrl.toStdString();
    }

    TestHttpServer srv;
    QString dir, files, dest;
    QByteArray data;
};

} // namespace

TEST(HttpClient, ServiceBaseUrlDropsTrailingSlashes) {
    const QByteArray saved = qgetenv("HALVORA_SERVICE_URL");
    qputenv("HALVORA_SERVICE_URL", "https://example.test/base//");
    EXPECT_EQ(ServiceBaseUrl(), "https://example.test/base");
    qunsetenv("HALVORA_SERVICE_URL");
    EXPECT_TRUE(ServiceBaseUrl().startsWith("https://"));
    EXPECT_FALSE(ServiceBaseUrl().endsWith('/'));
    qputenv("HALVORA_SERVICE_URL", saved);
}

TEST_F(HttpFixture, PerformSendsPostsAndKeepsStatusAndBody) {
    srv.route("/halvora/feedback", TestHttpServer::Json(R"({"ok": true})", 500));
    HttpRequest req;
    req.url = srv.url("/halvora/feedback");
    req.method = "POST";
    req.body = "a=1&b=%C3%A9";
    req.headers.emplaceBack("Content-Type", "application/x-www-form-urlencoded");
    const HttpResult res = HttpPerform(req);
    EXPECT_TRUE(res.transportOk);
    EXPECT_EQ(res.status, 500);
    EXPECT_EQ(res.body, R"({"ok": true})");
    ASSERT_EQ(srv.requestCount(), 1);
    const auto r = srv.requests().at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, "a=1&b=%C3%A9");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_TRUE(r.header("Authorization").isEmpty());
    EXPECT_TRUE(r.header("Cookie").isEmpty());
}

TEST_F(HttpFixture, GetTextStatusesAndTransportErrors) {
    srv.route("/update/components.json", TestHttpServer::Json("{\"name\":\"\xc3\xa9t\xc3\xa9\"}"));
    srv.route("/empty", TestHttpServer::Status(200));
    srv.route("/gone", TestHttpServer::Status(404, "missing"));
    srv.route("/fail", TestHttpServer::Status(500, "boom"));
    TestHttpServer::Reply endless;
    endless.fault = Fault::EndlessBody;
    srv.route("/endless", endless);

    QString err = "stale";
    EXPECT_EQ(HttpGetText(srv.url("/update/components.json"), 10000, err),
              QString::fromUtf8("{\"name\":\"\xc3\xa9t\xc3\xa9\"}"));
    EXPECT_TRUE(err.isEmpty());
    EXPECT_TRUE(HttpGetText(srv.url("/empty"), 10000, err).isEmpty());
    EXPECT_TRUE(err.isEmpty());
    EXPECT_TRUE(HttpGetText(srv.url("/gone"), 10000, err).isEmpty());
    EXPECT_EQ(err, "HTTP 404");
    EXPECT_TRUE(HttpGetText(srv.url("/fail"), 10000, err).isEmpty());
    EXPECT_EQ(err, "HTTP 500");
    // An endless reply is cut off instead of filling memory.
    EXPECT_TRUE(HttpGetText(srv.url("/endless"), 10000, err).isEmpty());
    EXPECT_EQ(err, "reply larger than 16777216 bytes");
    // Nothing listens on port 9.
    EXPECT_TRUE(HttpGetText("https://127.0.0.1:9/x", 10000, err).isEmpty());
    EXPECT_FALSE(err.isEmpty());
    EXPECT_NE(err.indexOf("onnect"), -1) << err.toStdString();
    // Plain http is never spoken.
    TestHttpServer plain(TestHttpServer::Mode::Http);
    plain.route("/x", TestHttpServer::Status(200, "plain"));
    EXPECT_TRUE(HttpGetText(plain.url("/x"), 10000, err).isEmpty());
    EXPECT_NE(err.indexOf("http"), -1) << err.toStdString();
    EXPECT_EQ(plain.requestCount(), 0);
}

TEST_F(HttpFixture, TrustAndProtocolVersion) {
    QString err;
    TestHttpServer untrusted(TestHttpServer::Mode::HttpsUntrusted);
    untrusted.route("/x", TestHttpServer::Status(200, "x"));
    EXPECT_TRUE(HttpGetText(untrusted.url("/x"), 10000, err).isEmpty());
    EXPECT_NE(err.indexOf("certificate"), -1) << err.toStdString();

    TestHttpServer old(TestHttpServer::Mode::HttpsTls11Only);
    old.route("/x", TestHttpServer::Status(200, "x"));
    EXPECT_TRUE(HttpGetText(old.url("/x"), 10000, err).isEmpty());
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(old.requestCount(), 0);

    // Without the extra anchor the test CA is unknown: the system store alone doesn't trust it.
    srv.route("/x", TestHttpServer::Status(200, "x"));
    qunsetenv("HALVORA_CA_FILE");
    EXPECT_TRUE(HttpGetText(srv.url("/x"), 10000, err).isEmpty());
    EXPECT_NE(err.indexOf("certificate"), -1) << err.toStdString();
    qputenv("HALVORA_CA_FILE", QFile::encodeName(dir + "/missing.pem"));
    EXPECT_TRUE(HttpGetText(srv.url("/x"), 10000, err).isEmpty());
    EXPECT_NE(err.indexOf("HALVORA_CA_FILE"), -1) << err.toStdString();
    qputenv("HALVORA_CA_FILE", QFile::encodeName(TestHttpServer::caFile()));
    EXPECT_EQ(HttpGetText(srv.url("/x"), 10000, err), "x");
}

TEST_F(HttpFixture, DownloadVerifiesSizeAndDigest) {
    const QString url = srv.url("/update/components/comp.zip");
    QString err = "stale";
    ASSERT_TRUE(WriteAll(dest, "an older, longer file that must be replaced entirely........"));
    EXPECT_TRUE(DownloadFile(url, dest, Sha(data), data.size(), err));
    EXPECT_TRUE(err.isEmpty());
    EXPECT_EQ(ReadAll(dest), data);
    // No size and no digest: status alone decides. Upper-case hex matches.
    EXPECT_TRUE(DownloadFile(url, dest, {}, 0, err));
    EXPECT_TRUE(DownloadFile(url, dest, {}, -5, err));
    EXPECT_TRUE(DownloadFile(url, dest, Sha(data).toUpper(), 0, err));
    EXPECT_EQ(ReadAll(dest), data);

    ExpectFails(url, "incomplete download (300000 of 52428800 bytes)", Sha(data), 52428800);
    ExpectFails(url, "incomplete download (300000 of 299999 bytes)", Sha(data), 299999);
    // Status comes first, then size, then digest.
    srv.route("/gone", TestHttpServer::Status(404, "missing"));
    ExpectFails(srv.url("/gone"), "HTTP 404", Sha(data), 1);
    ExpectFails(url, "incomplete download (300000 of 1 bytes)", "0000", 1);

    QByteArray flipped = data;
    flipped[150000] = char(flipped[150000] ^ 0x01);
    ExpectFails(url, "integrity check failed", Sha(flipped), data.size());
    ExpectFails(url, "integrity check failed", Sha(data) + " ");
    ExpectFails(url, "integrity check failed", Sha(data) + "\n");
    ExpectFails(url, "integrity check failed", " " + Sha(data));
    ExpectFails(url, "integrity check failed", Sha(data).left(63));
}

TEST_F(HttpFixture, DownloadStatusesAndRedirects) {
    for (int code : {204, 206, 404, 500}) {
        srv.route(QStringLiteral("/s%1").arg(code),
                  TestHttpServer::Status(code, "body of an error"));
        ExpectFails(srv.url(QStringLiteral("/s%1").arg(code)), QStringLiteral("HTTP %1").arg(code));
    }
    const QString target = srv.url("/update/components/comp.zip");
    QString err;
    EXPECT_TRUE(
        DownloadFile(srv.redirectChain("/five", 5, target), dest, Sha(data), data.size(), err))
        << err.toStdString();
    srv.redirect("/moved", target, 301);
    EXPECT_TRUE(DownloadFile(srv.url("/moved"), dest, Sha(data), 0, err)) << err.toStdString();
    ExpectFails(srv.redirectChain("/six", 6, target), "Maximum (5) redirects followed");

    TestHttpServer plain(TestHttpServer::Mode::Http);
    plain.serveFolder("/update/components/", files);
    srv.redirect("/to-http", plain.url("/update/components/comp.zip"));
    ASSERT_TRUE(WriteAll(dest, "old"));
    EXPECT_FALSE(DownloadFile(srv.url("/to-http"), dest, {}, 0, err));
    EXPECT_NE(err.indexOf("http"), -1) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dest));
    EXPECT_EQ(plain.requestCount(), 0);
}

TEST_F(HttpFixture, DownloadBrokenTransfers) {
    TestHttpServer::Reply cut = TestHttpServer::File(files + "/comp.zip", Fault::ShortBody);
    srv.route("/short", cut);
    ASSERT_TRUE(WriteAll(dest, "old"));
    QString err;
    EXPECT_FALSE(DownloadFile(srv.url("/short"), dest, {}, 0, err));
    EXPECT_NE(err.indexOf("150000 bytes remaining"), -1) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dest));

    // The response timeout is the longest silence, not the whole transfer.
    TestHttpServer::Reply stall =
        TestHttpServer::File(files + "/comp.zip", Fault::StallAfterHeaders);
    srv.route("/stall", stall);
    const auto t0 = std::chrono::steady_clock::now();
    ExpectFails(srv.url("/stall"),
                "Operation timed out after 700 milliseconds with no data received", {}, 0,
                DownloadTimeouts{15000, 700});
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));

    // A connection whose TLS handshake never completes runs into the connection timeout.
    TestHttpServer silent(TestHttpServer::Mode::TlsNeverCompletes);
    ASSERT_TRUE(WriteAll(dest, "old"));
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadFile(silent.url("/x"), dest, {}, 0, err, DownloadTimeouts{600, 900000}));
    EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(5));
    EXPECT_EQ(err, "SSL connection timeout");
    EXPECT_FALSE(QFileInfo::exists(dest));

    // An endless body is cut off soon after it passes the announced size.
    TestHttpServer::Reply endless;
    endless.fault = Fault::EndlessBody;
    srv.route("/endless", endless);
    ASSERT_TRUE(WriteAll(dest, "old"));
    EXPECT_FALSE(DownloadFile(srv.url("/endless"), dest, {}, 1000, err));
    EXPECT_TRUE(err.startsWith("incomplete download (")) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dest));
}

TEST_F(HttpFixture, DownloadDestinationProblems) {
    const QString url = srv.url("/update/components/comp.zip");
    QString err;
    // A link planted under the destination's name is replaced, not written through.
    const QString victim = dir + "/victim";
    ASSERT_TRUE(WriteAll(victim, "keep me"));
    ASSERT_TRUE(QFile::link(victim, dest));
    EXPECT_TRUE(DownloadFile(url, dest, Sha(data), data.size(), err)) << err.toStdString();
    EXPECT_FALSE(QFileInfo(dest).isSymLink());
    EXPECT_EQ(ReadAll(victim), "keep me");
    // A destination that can't be created gives the file system's text.
    EXPECT_FALSE(DownloadFile(url, dir + "/no/such/folder/x.zip", {}, 0, err));
    EXPECT_EQ(err, "No such file or directory");
}

// A download killed mid-transfer leaves the older file, never a partial one under the
// destination's name; the next download clears what the killed one left.
TEST_F(HttpFixture, KilledMidTransferLeavesNoPartialFile) {
    TestHttpServer::Reply stall = TestHttpServer::File(files + "/comp.zip", Fault::StallMidBody);
    stall.faultAfter = 100000;
    srv.route("/stall-mid", stall);
    ASSERT_TRUE(WriteAll(dest, "the older file"));
    QProcess probe;
    probe.start(DOWNLOAD_PROBE, {srv.url("/stall-mid"), dest});
    ASSERT_TRUE(probe.waitForStarted());
    const QString part = dir + "/.comp.zip.part-" + QString::number(probe.processId());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(part).size() == 100000; }, 20000))
        << QString::fromLocal8Bit(probe.readAllStandardError()).toStdString();
    ::kill(pid_t(probe.processId()), SIGKILL);
    ASSERT_TRUE(probe.waitForFinished());
    EXPECT_EQ(ReadAll(dest), "the older file");
    EXPECT_TRUE(QFileInfo::exists(part));

    QString err;
    EXPECT_TRUE(
        DownloadFile(srv.url("/update/components/comp.zip"), dest, Sha(data), data.size(), err))
        << err.toStdString();
    EXPECT_EQ(ReadAll(dest), data);
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"comp.zip"}));
}

// A disk that fills up mid-download, and destinations that refuse writes: the file system's
// text, and no file (partial or not) under any name.
TEST_F(HttpFixture, FullDiskAndRefusedWrites) {
    QProcess probe;
    LimitFileSize(probe, 128);
    probe.start(DOWNLOAD_PROBE, {srv.url("/update/components/comp.zip"), dest});
    ASSERT_TRUE(probe.waitForFinished(60000));
    EXPECT_EQ(probe.exitCode(), 1);
    EXPECT_EQ(QString::fromLocal8Bit(probe.readAllStandardError()).trimmed(), "File too large");
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());

    QString err;
    EXPECT_FALSE(
        DownloadFile(srv.url("/update/components/comp.zip"), "/proc/self/comp.zip", {}, 0, err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_FALSE(QFileInfo::exists("/proc/self/comp.zip"));
    // A folder standing under the destination's name is left as it is.
    QDir().mkpath(dest);
    EXPECT_FALSE(DownloadFile(srv.url("/update/components/comp.zip"), dest, {}, 0, err));
    EXPECT_EQ(err, "Is a directory");
    EXPECT_TRUE(QFileInfo(dest).isDir());
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"comp.zip"}));
}
