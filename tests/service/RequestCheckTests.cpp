// The service's checks of a request head and of client addresses, in process.
#include "RequestChecks.h"

#include <gtest/gtest.h>

using namespace halvora::service;

TEST(RequestChecks, FramingAndHeadLimits) {
    const HeadLimits limits;
    struct Case {
        HeaderList headers;
        int status;
        bool body;
    } cases[] = {
        {{{"Host", "x"}}, 0, false},
        {{{"Content-Length", "10"}}, 0, true},
        {{{"Content-Length", "0"}}, 0, false},
        {{{"Content-Length", "10"}, {"content-length", "10"}}, 0, true},
        {{{"Content-Length", "10"}, {"Content-Length", "11"}}, 400, false},
        {{{"Content-Length", "+10"}}, 400, false},
        {{{"Content-Length", "-1"}}, 400, false},
        {{{"Content-Length", "1 0"}}, 400, false},
        {{{"Content-Length", ""}}, 400, false},
        {{{"Content-Length", "99999999999999999999"}}, 400, false},
        {{{"Content-Length", "1000000000000000000"}}, 413, true},
        {{{"Content-Length", "65537"}}, 413, true},
        {{{"Content-Length", "65536"}}, 0, true},
        {{{"Transfer-Encoding", "chunked"}}, 0, true},
        {{{"Transfer-Encoding", "Chunked "}}, 0, true},
        {{{"Transfer-Encoding", "gzip, chunked"}}, 400, false},
        {{{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}}, 400, false},
        {{{"Transfer-Encoding", "chunked"}, {"Content-Length", "5"}}, 400, false},
        {HeaderList(100, {"X", "y"}), 0, false},
        {HeaderList(101, {"X", "y"}), 431, false},
        {{{"X", std::string(16 * 1024, 'a')}}, 431, false},
    };
    for (const Case& k : cases) {
        const HeadVerdict v = CheckHead("/update/x", k.headers, limits);
        EXPECT_EQ(v.status, k.status) << (k.headers.empty() ? "" : k.headers[0].second);
        if (v.status == 0) {
            EXPECT_EQ(v.bodyExpected, k.body) << k.headers[0].second;
        }
    }
}

TEST(RequestChecks, AddressesAndRateKeys) {
    struct Case {
        const char *text, *canonical, *key;
    } cases[] = {
        {"10.0.0.1", "10.0.0.1", "10.0.0.1"},
        {" 10.0.0.1 ", "10.0.0.1", "10.0.0.1"},
        {"::ffff:10.0.0.1", "10.0.0.1", "10.0.0.1"},
        {"2001:DB8:0:1:0:0:0:5", "2001:db8:0:1::5", "2001:db8:0:1::/64"},
        {"2001:db8:0:1:ffff:1:2:3", "2001:db8:0:1:ffff:1:2:3", "2001:db8:0:1::/64"},
        {"fe80::1%eth0", "", ""},
        {"10.0.0.256", "", ""},
        {"example.com", "", ""},
        {"", "", ""},
        {"10.0.0.1, 10.0.0.2", "", ""},
    };
    for (const Case& k : cases) {
        const std::string c = CanonicalAddress(k.text);
        EXPECT_EQ(c, k.canonical) << k.text;
        if (!c.empty()) {
            EXPECT_EQ(RateKey(c), k.key) << k.text;
        }
    }
}

TEST(RequestChecks, PathsDecodedWithEveryByteKept) {
    struct Case {
        std::string target, path;
    } cases[] = {
        {"/update/a.json", "/update/a.json"},
        {"/update/a.json?x=%41", "/update/a.json"},
        {"/update/%2e%2E/secret", "/update/../secret"},
        {"/update/a%00b", std::string("/update/a\0b", 11)},
        {"/update/%zz%4", "/update/%zz%4"},
        {"/update/%2F", "/update//"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(DecodedPath(k.target), k.path) << k.target;
}
