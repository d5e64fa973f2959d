// The test server itself, checked with the curl program so that its faults are known to be
// real before other tests rely on them.
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

struct CurlRun {
    int exitCode = -1;
    QByteArray out;
};

CurlRun Curl(const QStringList& AArgs) {
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{"-sS", "--max-time", "10"} + AArgs);
    CurlRun r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    return r;
}

} // namespace

TEST(TestHttpServer, ServesRoutesFoldersAndRecordsRequests) {
    TestHttpServer srv;
    ASSERT_TRUE(srv.isListening());
    const QString dir = NewTempDir();
    ASSERT_TRUE(WriteAll(dir + "/a.bin", QByteArray(100000, 'a')));
    srv.serveFolder("/files/", dir);
    srv.route("/j", TestHttpServer::Json(R"({"ok":true})"));
    srv.route("/err", TestHttpServer::Status(500, "boom"));
    srv.notFound("/files/a.bin.gone");

    CurlRun r = Curl({"--cacert", TestHttpServer::caFile(), srv.url("/files/a.bin")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QByteArray(100000, 'a'));
    r = Curl({"--cacert", TestHttpServer::caFile(), "-d", "x=1", srv.url("/j")});
    EXPECT_EQ(r.out, R"({"ok":true})");
    r = Curl({"--cacert", TestHttpServer::caFile(), "-w", "%{http_code}", "-o", "/dev/null",
              srv.url("/err")});
    EXPECT_EQ(r.out, "500");
    r = Curl({"--cacert", TestHttpServer::caFile(), "-w", "%{http_code}", "-o", "/dev/null",
              srv.url("/nothing")});
    EXPECT_EQ(r.out, "404");

    const auto reqs = srv.requests();
    ASSERT_EQ(reqs.size(), 4);
    EXPECT_EQ(reqs[0].method, "GET");
    EXPECT_EQ(reqs[0].path, "/files/a.bin");
    EXPECT_EQ(reqs[1].method, "POST");
    EXPECT_EQ(reqs[1].body, "x=1");
    EXPECT_EQ(reqs[1].header("content-type"), "application/x-www-form-urlencoded");
}

TEST(TestHttpServer, FaultsAndRedirects) {
    TestHttpServer srv(TestHttpServer::Mode::Http);
    ASSERT_TRUE(srv.url("/").startsWith("http://"));
    TestHttpServer::Reply shortBody = TestHttpServer::Status(200, QByteArray(1000, 'b'));
    shortBody.fault = TestHttpServer::Fault::ShortBody;
    shortBody.faultAfter = 10;
    srv.route("/short", shortBody);
    TestHttpServer::Reply stall = TestHttpServer::Status(200, "never sent");
    stall.fault = TestHttpServer::Fault::StallAfterHeaders;
    srv.route("/stall", stall);
    TestHttpServer::Reply endless;
    endless.fault = TestHttpServer::Fault::EndlessBody;
    srv.route("/endless", endless);
    srv.route("/final", TestHttpServer::Status(200, "done"));
    const QString first = srv.redirectChain("/hop", 3, srv.url("/final"));

    CurlRun r = Curl({srv.url("/short")});
    EXPECT_EQ(r.exitCode, 18); // partial file
    EXPECT_EQ(r.out, QByteArray(10, 'b'));
    r = Curl({"--max-time", "1", srv.url("/stall")});
    EXPECT_EQ(r.exitCode, 28); // timed out
    r = Curl({"--max-time", "1", "-o", "/dev/null", srv.url("/endless")});
    EXPECT_EQ(r.exitCode, 28);
    r = Curl({"-L", first});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "done");
    r = Curl({"-L", "--max-redirs", "2", first});
    EXPECT_EQ(r.exitCode, 47); // too many redirects
}

TEST(TestHttpServer, TlsModes) {
    TestHttpServer untrusted(TestHttpServer::Mode::HttpsUntrusted);
    EXPECT_EQ(Curl({"--cacert", TestHttpServer::caFile(), untrusted.url("/")}).exitCode, 60);

    TestHttpServer old(TestHttpServer::Mode::HttpsTls11Only);
    old.route("/", TestHttpServer::Status(200, "old"));
    // A modern client refuses it; one that allows TLS 1.1 at security level 0 gets through,
    // so the refusal is about the protocol version and nothing else.
    EXPECT_NE(Curl({"--cacert", TestHttpServer::caFile(), old.url("/")}).exitCode, 0);
    const CurlRun r = Curl({"--cacert", TestHttpServer::caFile(), "--tlsv1.1", "--tls-max", "1.1",
                            "--ciphers", "DEFAULT:@SECLEVEL=0", old.url("/")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "old");

    TestHttpServer silent(TestHttpServer::Mode::TlsNeverCompletes);
    EXPECT_EQ(
        Curl({"--cacert", TestHttpServer::caFile(), "--connect-timeout", "1", silent.url("/")})
            .exitCode,
        28);

    TestHttpServer mute(TestHttpServer::Mode::NeverAnswers);
    EXPECT_EQ(
        Curl({"--cacert", TestHttpServer::caFile(), "--max-time", "1", mute.url("/x")}).exitCode,
        28);
    EXPECT_EQ(mute.requestCount(), 1);
}
