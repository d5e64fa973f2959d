// The background reader of a link's variants: debounced, newer links win, never blocks.
#include "QualityReader.h"

#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <mutex>

using namespace halvora;

namespace {

const QByteArray kMaster = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\n"
                           "v.m3u8\n";

// Records the links fetched; a link containing "slow" blocks until it is abandoned.
struct Fetches {
    std::mutex lock;
    QStringList links;
    int abandoned = 0;

    QualityReader::Fetcher fetcher() {
        return [this](const QString& AUrl, const std::function<bool()>& ACancel) {
            {
                std::lock_guard<std::mutex> g(lock);
                links << AUrl;
            }
            PlaylistText t;
            if (AUrl.contains("slow")) {
                while (!ACancel())
                    QThread::msleep(5);
                std::lock_guard<std::mutex> g(lock);
                ++abandoned;
                return t;
            }
            t.ok = !AUrl.contains("fail");
            t.body = kMaster;
            return t;
        };
    }
    int abandonedCount() {
        std::lock_guard<std::mutex> g(lock);
        return abandoned;
    }
    QStringList seen() {
        std::lock_guard<std::mutex> g(lock);
        return links;
    }
};

} // namespace

TEST(QualityReader, ReadsOnceTypingPausesAndKeepsOnlyTheNewestLink) {
    Fetches f;
    QualityReader reader(nullptr, f.fetcher());
    reader.setDelayMs(30);
    int changes = 0;
    QObject::connect(&reader, &QualityReader::variantsChanged, [&] { ++changes; });

    for (const char* partial :
         {"h", "https://a", "https://a.example/m", "https://a.example/m.m3u8"})
        reader.request(partial);
    ASSERT_TRUE(QTest::qWaitFor([&] { return reader.playlist().isMaster(); }, 10000));
    EXPECT_EQ(f.seen(), QStringList{"https://a.example/m.m3u8"});
    EXPECT_EQ(reader.link(), "https://a.example/m.m3u8");
    EXPECT_EQ(reader.playlist().variants[0].uri, "https://a.example/v.m3u8");
    EXPECT_EQ(changes, 1);

    // A slow link replaced by another: the slow read is abandoned, only the newer one counts.
    reader.request("https://slow.example/m.m3u8");
    EXPECT_FALSE(reader.playlist().isMaster()); // forgotten at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.seen().size() == 2; }, 10000));
    reader.request("https://b.example/m.m3u8");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return reader.link() == "https://b.example/m.m3u8"; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.abandonedCount() == 1; }, 10000));

    // A failed read lists nothing; a path is no link.
    reader.request("https://fail.example/m.m3u8");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return reader.link() == "https://fail.example/m.m3u8"; }, 10000));
    EXPECT_FALSE(reader.playlist().isMaster());
    reader.request("/home/user/local.m3u8");
    EXPECT_TRUE(reader.link().isEmpty());
    reader.request("https://c.example/m.m3u8");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return reader.link() == "https://c.example/m.m3u8"; }, 10000));
    EXPECT_EQ(f.seen().size(), 5);
    EXPECT_FALSE(f.seen().contains("/home/user/local.m3u8"));
}

TEST(QualityReader, GoesAwayWhileAReadHangs) {
    Fetches f;
    {
        QualityReader reader(nullptr, f.fetcher());
        reader.setDelayMs(1);
        reader.request("https://slow.example/m.m3u8");
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.seen().size() == 1; }, 10000));
    }
    EXPECT_EQ(f.abandonedCount(), 1); // the destructor waited for it
}
