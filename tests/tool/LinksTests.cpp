#include "Links.h"

#include <gtest/gtest.h>

using namespace halvora;

TEST(Links, WhatCountsAsALink) {
    const struct {
        const char16_t* text;
        bool link;
    } cases[] = {
        {u"http://a/b.m3u8", true},
        {u"https://a/b.m3u8", true},
        {u"HTTPS://A/B.M3U8", true}, // schemes are case-insensitive
        {u"hTtP://x", true},
        {u"http://", true},
        {u" http://x", false}, // nothing is trimmed: callers pass trimmed text
        {u"\thttps://x", false},
        {u"ftp://x", false},
        {u"file:///tmp/a.m3u8", false},
        {u"https:/x", false},
        {u"http:x", false},
        {u"httpx://x", false},
        {u"/local/http://x", false},
        {u"", false},
        {u"http\u017F://x", false}, // long s folds to 's' only under Unicode rules
        {u"\uFF48ttp://x", false},  // fullwidth h
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUrl(QString::fromUtf16(c.text)), c.link)
            << QString::fromUtf16(c.text).toStdString();
}
