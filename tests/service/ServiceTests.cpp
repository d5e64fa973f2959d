// halvora-service as its own process over loopback HTTPS: the update tree, feedback posts and
// their store, the rate limit, concurrency, a kill during a burst, and the maker's reader.
#include "FeedbackExport.h"
#include "FeedbackForm.h"
#include "FeedbackStore.h"
#include "Service.h"
#include "ServiceFixture.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <set>
#include <thread>

using namespace halvora;
using namespace halvora::test;

namespace {

// The update site with the files a hostile path must not reach.
struct Site : UpdateSite {
    Site() {
        WriteAll(root + "/update/.publish-1-components.json", "in progress");
        WriteAll(root + "/secret.txt", "site-private");
        outside = NewTempDir("outside") + "/outside.txt";
        WriteAll(outside, "outside");
        QFile::link(outside, root + "/update/link-out");
        QFile::link(root + "/secret.txt", root + "/update/link-secret");
        QFile::link(root + "/update/components.json", root + "/update/link-in.json");
    }
    QString outside;
};

httplib::Result Post(httplib::SSLClient& AClient, const QByteArray& ABody,
                     const char* AType = "application/x-www-form-urlencoded; charset=utf-8") {
    return AClient.Post("/halvora/feedback", ABody.constData(), size_t(ABody.size()), AType);
}

QJsonObject Reply(const httplib::Result& AResult) {
    return AResult ? QJsonDocument::fromJson(QByteArray::fromStdString(AResult->body)).object()
                   : QJsonObject();
}

} // namespace

TEST(ServiceFiles, ServedWithTypeLengthAndRevalidation) {
    Site s;
    ServiceProcess svc(s.root, s.db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    auto c = svc.client();

    auto r = c->Get("/update/components/a.tar.gz");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, std::string(100000, 'x'));
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/gzip");
    const std::string tag = r->get_header_value("ETag");
    const std::string modified = r->get_header_value("Last-Modified");
    ASSERT_FALSE(tag.empty());
    ASSERT_FALSE(modified.empty());

    r = c->Head("/update/components/a.tar.gz");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Length"), "100000");
    EXPECT_TRUE(r->body.empty());

    r = c->Get("/update/components.json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(r->body, R"({"components":[]})");

    r = c->Get("/update/components/a.tar.gz", {{"If-None-Match", tag}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 304);
    EXPECT_TRUE(r->body.empty());
    r = c->Get("/update/components/a.tar.gz", {{"If-Modified-Since", modified}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 304);
    r = c->Get("/update/components/a.tar.gz", {{"If-None-Match", "\"other\""}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    r = c->Get("/update/components/a.tar.gz",
               {{"If-Modified-Since", "Mon, 01 Jan 2001 00:00:00 GMT"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    // Changed content gets a new tag.
    WriteAll(s.root + "/update/components/a.tar.gz", QByteArray(100001, 'y'));
    r = c->Get("/update/components/a.tar.gz", {{"If-None-Match", tag}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body.size(), 100001u);

    // A link that stays inside the site is followed.
    r = c->Get("/update/link-in.json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(svc.terminate(), 0);
    // One log line per request.
    EXPECT_EQ(svc.log().count("\"GET /update/") + svc.log().count("\"HEAD /update/"), 9);
}

// Parts of a file, as a resumed download asks for them: one range of bytes in each of its
// spellings, the client's copy checked with If-Range, and what cannot be served as a part.
TEST(ServiceFiles, RangesOfAFile) {
    Site s;
    QByteArray data(300000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    const QString file = s.root + "/update/components/b.tar.gz";
    ASSERT_TRUE(WriteAll(file, data));
    // Old enough for its date to be a sure sign of its content.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                  QFileDevice::FileModificationTime));
    }
    WriteAll(s.root + "/update/components/empty.tar.gz", {});
    ServiceProcess svc(s.root, s.db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    auto c = svc.client();
    const char* path = "/update/components/b.tar.gz";
    const std::string size = std::to_string(data.size());
    auto get = [&](httplib::Headers AHeaders) { return c->Get(path, AHeaders); };
    auto slice = [&](qsizetype AFirst, qsizetype ALast) {
        return data.mid(AFirst, ALast - AFirst + 1).toStdString();
    };

    auto whole = get({});
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
    const std::string tag = whole->get_header_value("ETag");
    const std::string modified = whole->get_header_value("Last-Modified");

    struct Part {
        const char* range;
        qsizetype first, last;
    };
    const qsizetype n = data.size();
    const Part parts[] = {
        {"bytes=0-9", 0, 9},
        {"bytes=1000-1000", 1000, 1000},
        {"bytes=299990-", 299990, n - 1},
        {"bytes=-7", n - 7, n - 1},
        {"bytes=299995-999999999", 299995, n - 1},        // an end past the file ends with it
        {"bytes=-400000", 0, n - 1},                      // more than the file: all of it
        {"BYTES=5-6", 5, 6},                              // the unit in any case
        {"bytes=0-99999999999999999999999999", 0, n - 1}, // no overflow
    };
    for (const Part& p : parts) {
        SCOPED_TRACE(p.range);
        auto r = get({{"Range", p.range}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 206);
        EXPECT_EQ(r->get_header_value("Content-Range"),
                  "bytes " + std::to_string(p.first) + "-" + std::to_string(p.last) + "/" + size);
        EXPECT_TRUE(r->body == slice(p.first, p.last));
        EXPECT_EQ(r->get_header_value("ETag"), tag);
    }

    // Nothing of the file in range: 416 naming the size.
    for (const char* range : {"bytes=300000-", "bytes=300000-300010", "bytes=-0",
                              "bytes=99999999999999999999999999-"}) {
        SCOPED_TRACE(range);
        auto r = get({{"Range", range}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 416);
        EXPECT_EQ(r->get_header_value("Content-Range"), "bytes */" + size);
        EXPECT_TRUE(r->body.empty());
    }
    auto r = c->Get("/update/components/empty.tar.gz", {{"Range", "bytes=0-"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 416);
    EXPECT_EQ(r->get_header_value("Content-Range"), "bytes */0");

    // Several ranges, another unit and malformed values: the whole file.
    for (const char* range : {"bytes=0-1,5-6", "bytes=0-1, 0-1", "items=0-1", "bytes=abc",
                              "bytes=5-2", "bytes=-", "bytes=1-2-3", "bytes=+1-2", "bytes=0x10-"}) {
        SCOPED_TRACE(range);
        r = get({{"Range", range}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_FALSE(r->has_header("Content-Range"));
        EXPECT_TRUE(r->body == data.toStdString());
    }

    // A download resumed after 100000 bytes, only while the file is the one it began with.
    r = get({{"Range", "bytes=100000-"}, {"If-Range", tag}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 206);
    EXPECT_TRUE(slice(0, 99999) + r->body == data.toStdString());
    r = get({{"Range", "bytes=100000-"}, {"If-Range", modified}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 206);
    EXPECT_TRUE(r->body == slice(100000, n - 1));
    for (const std::string& other :
         {std::string("\"other\""), "W/" + tag, std::string("Mon, 01 Jan 2001 00:00:00 GMT"),
          std::string("not a date")}) {
        SCOPED_TRACE(other);
        r = get({{"Range", "bytes=100000-"}, {"If-Range", other}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_TRUE(r->body == data.toStdString());
    }
    // The client's copy is current: nothing to send, whatever the range.
    r = get({{"Range", "bytes=0-9"}, {"If-None-Match", tag}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 304);
    // HEAD tells the part's length without the bytes.
    r = c->Head(path, {{"Range", "bytes=10-19"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 206);
    EXPECT_EQ(r->get_header_value("Content-Length"), "10");
    EXPECT_EQ(r->get_header_value("Content-Range"), "bytes 10-19/" + size);
    EXPECT_TRUE(r->body.empty());

    // The file replaced under the same name: the old tag no longer gets a part.
    QByteArray changed = data;
    changed[200000] = char(changed[200000] ^ 1);
    ASSERT_TRUE(WriteAll(file, changed));
    r = get({{"Range", "bytes=100000-"}, {"If-Range", tag}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_TRUE(r->body == changed.toStdString());
    // A name that is not there stays not found, with or without a readable range.
    for (const char* range : {"bytes=0-1", "bytes=abc"}) {
        r = c->Get("/update/components/missing.tar.gz", {{"Range", range}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 404);
    }
    EXPECT_EQ(svc.terminate(), 0);
}

TEST(ServiceFiles, NothingOutsideTheTreeAndNoListings) {
    Site s;
    ServiceProcess svc(s.root, s.db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    auto c = svc.client();
    const char* const refused[] = {
        "/update/../secret.txt",
        "/update/components/../../secret.txt",
        "/update/%2e%2e/secret.txt",
        "/update/%2E%2E/secret.txt",
        "/update/.%2e/secret.txt",
        "/update/%2e%2e%2fsecret.txt",
        "/update/components%2f..%2f..%2fsecret.txt",
        "/update/..%5csecret.txt",
        "/update/components%5c..%5c..%5csecret.txt",
        "/update//secret.txt",
        "/update/components//a.tar.gz",
        "/update/./components.json",
        "/update/%00components.json",
        "/update/components.json%00.txt",
        "/update/link-out",
        "/update/link-secret",
        "/update/.publish-1-components.json",
        "/update/",
        "/update/components/",
        "/update/components",
        "/update",
        "/secret.txt",
        "/update/%252e%252e/secret.txt",
        "/update/..;/secret.txt",
    };
    for (const char* path : refused) {
        auto r = c->Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_GE(r->status, 400) << path;
        EXPECT_EQ(r->body.find("site-private"), std::string::npos) << path;
        EXPECT_EQ(r->body.find("outside"), std::string::npos) << path;
        EXPECT_EQ(r->body.find("a.tar.gz"), std::string::npos) << path; // no listing
        r = c->Head(path);
        ASSERT_TRUE(r) << path;
        EXPECT_GE(r->status, 400) << path;
    }
    // Other methods on the tree.
    auto r = c->Post("/update/components.json", "x", "text/plain");
    ASSERT_TRUE(r);
    EXPECT_GE(r->status, 400);
}

TEST(ServiceFeedback, AcceptedPostStoredWithEveryField) {
    Site s;
    ServiceProcess svc(s.root, s.db);
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    auto c = svc.client();
    const QString message = QStringLiteral("Grüße, 50% off! a=b&c\r\nsecond line \"quoted\"");
    auto r = Post(*c, FeedbackBody("me@mail-host.org", message));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, R"({"ok":true})");
    // What a Windows build sends.
    QList<QByteArray> items = FeedbackBody("me@mail-host.org", "Hi").split('&');
    for (QByteArray& i : items)
        if (i.startsWith("os="))
            i = "os=Windows+10.0+build+19045+x64";
    const QByteArray windows = items.join('&');
    r = Post(*c, windows);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(svc.terminate(), 0);

    QList<service::StoredFeedback> posts;
    QString err;
    ASSERT_TRUE(service::ReadFeedback(s.db, {}, posts, err)) << qPrintable(err);
    ASSERT_EQ(posts.size(), 2);
    EXPECT_EQ(posts[0].post.os, "Windows 10.0 build 19045 x64");
    const service::FeedbackPost& p = posts[1].post;
    EXPECT_EQ(p.name, "me@mail-host.org");
    EXPECT_EQ(p.email, "me@mail-host.org");
    EXPECT_EQ(p.message, message);
    EXPECT_EQ(p.ver, "1.0.31.6");
    EXPECT_EQ(p.os, "Linux 6.1.0-28-amd64 Debian GNU/Linux 12 (bookworm) x86_64");
    EXPECT_EQ(p.mc, QString(64, 'a'));
    EXPECT_EQ(p.src, "Halvora");
    EXPECT_EQ(posts[0].client, "127.0.0.1");
}

TEST(ServiceFeedback, RefusesWhatTheProgramNeverSends) {
    Site s;
    ServiceProcess svc(s.root, s.db, {"--posts-per-minute", "0"});
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    auto c = svc.client();
    const QByteArray good = FeedbackBody("me@mail-host.org", "Hello");
    struct Case {
        QByteArray body;
        const char* why;
    };
    auto without = [&](const char* AKey) {
        QList<QByteArray> items = good.split('&');
        items.removeIf([&](const QByteArray& AItem) { return AItem.startsWith(AKey); });
        return items.join('&');
    };
    auto with = [&](const char* AKey, const QByteArray& AValue) {
        QList<QByteArray> items = good.split('&');
        for (QByteArray& i : items)
            if (i.startsWith(QByteArray(AKey) + "="))
                i = QByteArray(AKey) + "=" + AValue;
        return items.join('&');
    };
    const QList<Case> cases = {
        {without("name="), "missing name"},
        {without("email="), "missing email"},
        {without("message="), "missing message"},
        {without("ver="), "missing ver"},
        {without("os="), "missing os"},
        {without("mc="), "missing mc"},
        {without("src="), "missing src"},
        {good + "&extra=1", "unknown field"},
        {good + "&src=Halvora", "field twice"},
        {with("email", "someone@example.com")
             .replace("name=me@mail-host.org", "name=someone@example.com"),
         "reserved domain"},
        {with("email", "a@mailinator.com")
             .replace("name=me@mail-host.org", "name=a@mailinator.com"),
         "disposable domain"},
        {with("email", "no-at-sign").replace("name=me@mail-host.org", "name=no-at-sign"),
         "malformed address"},
        {with("name", "Someone+Else"), "name differs from the address"},
        {with("message", "+++%0D%0A"), "blank message"},
        {with("ver", "1.0.31"), "three-part ver"},
        {with("os", "Linux"), "os text"},
        {with("os", "Linux 6.1.0%0A x86_64"), "os with a line break"},
        {with("mc", "XYZ"), "mc not a digest"},
        {with("src", "Other"), "src"},
        {with("message", "%zz"), "bad percent escape"},
        {with("message", "%C3%28"), "not UTF-8"},
        {"garbage", "no fields"},
        {"", "empty body"},
    };
    for (const Case& k : cases) {
        auto r = Post(*c, k.body);
        ASSERT_TRUE(r) << k.why;
        EXPECT_GE(r->status, 400) << k.why;
        EXPECT_LT(r->status, 500) << k.why;
        const QJsonObject o = Reply(r);
        EXPECT_EQ(o.value("ok"), QJsonValue(false)) << k.why << ": " << r->body;
        EXPECT_FALSE(o.value("error").toString().isEmpty()) << k.why;
    }
    // Not a form; a compressed body; over 64 KiB (declared and chunked).
    auto r = Post(*c, good, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 415);
    r = c->Post("/halvora/feedback", {{"Content-Encoding", "gzip"}}, good.constData(),
                size_t(good.size()), "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 415);
    const QByteArray big = with("message", QByteArray(70 * 1024, 'a'));
    r = Post(*c, big);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 413);
    EXPECT_EQ(Reply(r).value("ok"), QJsonValue(false));
    EXPECT_FALSE(Reply(r).value("error").toString().isEmpty());
    size_t sent = 0;
    r = c->Post(
        "/halvora/feedback",
        [&](size_t, httplib::DataSink& ASink) {
            const std::string chunk(16384, 'a');
            sent += chunk.size();
            ASink.write(chunk.data(), chunk.size());
            if (sent >= 100 * 1024)
                ASink.done();
            return true;
        },
        "application/x-www-form-urlencoded");
    // The service may close before the client has sent everything; then the client sees no
    // reply at all. Either way nothing is stored (checked below).
    if (r) {
        EXPECT_EQ(r->status, 413);
    }
    // A post just under the limit goes through.
    QByteArray near = with("message", QByteArray(60 * 1024, 'a'));
    r = Post(*svc.client(), near);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, R"({"ok":true})");
    EXPECT_EQ(svc.terminate(), 0);
    EXPECT_EQ(StoredMessages(s.db), QStringList{QString(60 * 1024, 'a')});
}

TEST(ServiceFeedback, RateLimitPerClientAndTrustedProxy) {
    Site s;
    {
        ServiceProcess svc(s.root, s.db, {"--posts-per-minute", "3"});
        ASSERT_TRUE(svc.started()) << svc.log().toStdString();
        auto c = svc.client();
        for (int i = 0; i < 3; ++i) {
            auto r = Post(*c, FeedbackBody("me@mail-host.org", QString("m%1").arg(i)));
            ASSERT_TRUE(r);
            EXPECT_EQ(r->body, R"({"ok":true})");
        }
        // The client's own claim of another address changes nothing without a trusted proxy.
        auto r = c->Post("/halvora/feedback", {{"X-Forwarded-For", "10.0.0.9"}},
                         FeedbackBody("me@mail-host.org", "m3").toStdString(),
                         "application/x-www-form-urlencoded");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 429);
        EXPECT_EQ(Reply(r).value("ok"), QJsonValue(false));
        EXPECT_FALSE(Reply(r).value("error").toString().isEmpty());
        EXPECT_EQ(svc.terminate(), 0);
    }
    EXPECT_EQ(StoredMessages(s.db).size(), 3);
    {
        ServiceProcess svc(s.root, s.db,
                           {"--posts-per-minute", "2", "--trusted-proxy", "127.0.0.1"});
        ASSERT_TRUE(svc.started()) << svc.log().toStdString();
        auto c = svc.client();
        auto post = [&](const char* AFor, const QString& AMessage) {
            auto r = c->Post("/halvora/feedback", {{"X-Forwarded-For", AFor}},
                             FeedbackBody("me@mail-host.org", AMessage).toStdString(),
                             "application/x-www-form-urlencoded");
            return r ? r->status : 0;
        };
        // The proxy appends the address it saw: the last entry counts, not the client's claim.
        EXPECT_EQ(post("10.0.0.1", "p1"), 200);
        EXPECT_EQ(post("1.2.3.4, 10.0.0.1", "p2"), 200);
        EXPECT_EQ(post("5.6.7.8, 10.0.0.1", "p3"), 429);
        EXPECT_EQ(post("10.0.0.2", "p4"), 200);
        EXPECT_EQ(svc.terminate(), 0);
    }
    QList<service::StoredFeedback> posts;
    QString err;
    ASSERT_TRUE(service::ReadFeedback(s.db, {}, posts, err));
    ASSERT_EQ(posts.size(), 6);
    EXPECT_EQ(posts[0].client, "10.0.0.2");
    EXPECT_EQ(posts[1].client, "10.0.0.1");
}

TEST(ServiceFeedback, ConcurrentClientsEachStoredOnce) {
    Site s;
    // 20 clients on one address connect anew for every post; a closed connection leaves the
    // per-address count only when the server has cleaned it up, so that limit is off here.
    ServiceProcess svc(s.root, s.db,
                       {"--posts-per-minute", "0", "--max-connections-per-address", "0"});
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 20; ++t)
        clients.emplace_back([&, t] {
            auto c = svc.client();
            for (int i = 0; i < 10; ++i) {
                auto r =
                    Post(*c, FeedbackBody("me@mail-host.org", QString("c%1-%2").arg(t).arg(i)));
                if (r && r->body == R"({"ok":true})")
                    ++accepted;
            }
        });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), 200);
    EXPECT_EQ(svc.terminate(), 0);
    const QStringList stored = StoredMessages(s.db);
    EXPECT_EQ(stored.size(), 200);
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()).size(), 200);
    EXPECT_EQ(IntegrityCheck(s.db), "ok");
}

namespace {

// 8 clients post without pause until 100 posts are acknowledged; then the service is stopped
// with ASignal. Gives the acknowledged messages; AExit the service's exit code.
QStringList BurstThenStop(const Site& ASite, int ASignal, int& AExit) {
    QStringList acknowledged;
    std::mutex mutex;
    ServiceProcess svc(ASite.root, ASite.db,
                       {"--posts-per-minute", "0", "--max-connections-per-address", "0"});
    EXPECT_TRUE(svc.started()) << svc.log().toStdString();
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int t = 0; t < 8 && svc.started(); ++t)
        clients.emplace_back([&, t] {
            auto c = svc.client();
            c->set_connection_timeout(2);
            c->set_read_timeout(5);
            for (int i = 0; !stop; ++i) {
                const QString m = QString("k%1-%2").arg(t).arg(i);
                auto r = Post(*c, FeedbackBody("me@mail-host.org", m));
                if (!r)
                    break;
                if (r->body == R"({"ok":true})") {
                    std::lock_guard lock(mutex);
                    acknowledged << m;
                }
            }
        });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(mutex);
            return acknowledged.size() >= 100;
        },
        60000));
    if (ASignal == SIGKILL) {
        svc.kill();
        AExit = -1;
    } else {
        AExit = svc.terminate();
    }
    stop = true;
    for (auto& t : clients)
        t.join();
    return acknowledged;
}

// Every acknowledged post is stored once, the store is whole, and a restarted service on it
// takes posts.
void ExpectStoreHolds(const Site& ASite, const QStringList& AAcknowledged) {
    EXPECT_EQ(IntegrityCheck(ASite.db), "ok");
    ServiceProcess again(ASite.root, ASite.db);
    ASSERT_TRUE(again.started()) << again.log().toStdString();
    auto r = Post(*again.client(), FeedbackBody("me@mail-host.org", "after"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, R"({"ok":true})");
    EXPECT_EQ(again.terminate(), 0);
    EXPECT_EQ(IntegrityCheck(ASite.db), "ok");
    const QStringList stored = StoredMessages(ASite.db);
    const QSet<QString> set(stored.begin(), stored.end());
    EXPECT_EQ(set.size(), stored.size()) << "a post stored twice";
    EXPECT_GE(AAcknowledged.size(), 100);
    for (const QString& m : AAcknowledged)
        EXPECT_TRUE(set.contains(m)) << qPrintable(m);
    EXPECT_TRUE(set.contains("after"));
}

} // namespace

TEST(ServiceFeedback, KilledDuringABurstLosesNoAcknowledgedPost) {
    Site s;
    int exitCode = 0;
    const QStringList acknowledged = BurstThenStop(s, SIGKILL, exitCode);
    ExpectStoreHolds(s, acknowledged);
}

TEST(ServiceFeedback, TerminatedDuringABurstEndsCleanly) {
    Site s;
    int exitCode = -1;
    const QStringList acknowledged = BurstThenStop(s, SIGTERM, exitCode);
    EXPECT_EQ(exitCode, 0);
    ExpectStoreHolds(s, acknowledged);
}

TEST(ServiceFeedback, MakerReadsTheStoreNewestFirst) {
    Site s;
    {
        ServiceProcess svc(s.root, s.db, {"--posts-per-minute", "0"});
        ASSERT_TRUE(svc.started());
        auto c = svc.client();
        for (const char* m :
             {"first", "=cmd|' /C calc'!A0", "third, with \"quotes\"\r\nand a line"})
            ASSERT_EQ(Post(*c, FeedbackBody("me@mail-host.org", m))->body, R"({"ok":true})");
        EXPECT_EQ(svc.terminate(), 0);
    }
    auto run = [&](const QStringList& AArgs, int* ACode = nullptr) {
        QProcess p;
        p.start(ServiceProgram(), QStringList{"feedback"} + AArgs + QStringList{"--db", s.db});
        p.waitForFinished(30000);
        if (ACode)
            *ACode = p.exitCode();
        return p.readAllStandardOutput();
    };
    const QByteArray text = run({"list"});
    EXPECT_LT(text.indexOf("third"), text.indexOf("=cmd"));
    EXPECT_LT(text.indexOf("=cmd"), text.indexOf("first"));
    EXPECT_TRUE(text.contains("me@mail-host.org"));

    const QJsonArray json = QJsonDocument::fromJson(run({"export", "--format", "json"})).array();
    ASSERT_EQ(json.size(), 3);
    EXPECT_EQ(json[0].toObject().value("message").toString(),
              "third, with \"quotes\"\r\nand a line");
    EXPECT_EQ(json[2].toObject().value("message").toString(), "first");
    EXPECT_EQ(json[0].toObject().value("ver").toString(), "1.0.31.6");

    const QByteArray csv = run({"export"});
    EXPECT_TRUE(csv.startsWith("id,received,client,name,email,message,ver,os,mc,src\r\n"));
    EXPECT_TRUE(csv.contains(",\"third, with \"\"quotes\"\"\r\nand a line\","));
    EXPECT_TRUE(csv.contains(",\"'=cmd|' /C calc'!A0\",")); // no formula for a spreadsheet
    EXPECT_EQ(csv.count("\r\n"), 5);

    EXPECT_EQ(QJsonDocument::fromJson(run({"export", "--format", "json", "--since", "2999-01-01"}))
                  .array()
                  .size(),
              0);
    EXPECT_EQ(QJsonDocument::fromJson(
                  run({"export", "--format", "json", "--since", "2001-01-01T10:00:00Z"}))
                  .array()
                  .size(),
              3);
    int code = 0;
    run({"list", "--since", "yesterday"}, &code);
    EXPECT_NE(code, 0);
}

// A client that connects anew for each post but keeps its TLS session skips the full handshake.
TEST(ServiceTls, ReconnectingClientResumesItsSession) {
    Site s;
    ServiceProcess svc(s.root, s.db, {"--posts-per-minute", "0"});
    ASSERT_TRUE(svc.started()) << svc.log().toStdString();
    ResumingPoster poster(svc.port());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(poster.Post(FeedbackBody("a@mail-host.org", QString("resumed %1").arg(i))))
            << i;
        EXPECT_EQ(poster.resumed(), i > 0) << i;
    }
    EXPECT_EQ(svc.terminate(), 0);
    EXPECT_EQ(StoredMessages(s.db), QStringList({"resumed 2", "resumed 1", "resumed 0"}));
}

TEST(ServiceOptions, RefusesPlainHttpOffLoopbackAndBadCombinations) {
    service::ServiceOptions o;
    QString err;
    EXPECT_TRUE(service::ParseServiceArgs(
        {"--site", "s", "--db", "d", "--listen", "127.0.0.1:8080"}, o, err));
    EXPECT_EQ(o.port, 8080);
    EXPECT_FALSE(
        service::ParseServiceArgs({"--site", "s", "--db", "d", "--listen", "0.0.0.0:80"}, o, err));
    EXPECT_TRUE(service::ParseServiceArgs({"--site", "s", "--db", "d", "--listen", "0.0.0.0:443",
                                           "--tls-cert", "c", "--tls-key", "k"},
                                          o, err));
    EXPECT_TRUE(
        service::ParseServiceArgs({"--site", "s", "--db", "d", "--listen", "[::1]:8080"}, o, err));
    EXPECT_EQ(o.host, "::1");
    EXPECT_FALSE(
        service::ParseServiceArgs({"--site", "s", "--db", "d", "--tls-cert", "c"}, o, err));
    EXPECT_FALSE(service::ParseServiceArgs({"--db", "d"}, o, err));
    EXPECT_FALSE(
        service::ParseServiceArgs({"--site", "s", "--db", "d", "--listen", "nohost"}, o, err));
}
