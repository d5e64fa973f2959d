// Cut lists kept beside a video, and the list as CSV.
#include "CutList.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

const CutList kList{123456789012, 1800.04, {{1.24, 3}, {65, 70.5}}};

TEST(CutList, WrittenAsItsFormatAndReadBack) {
    const QByteArray json = CutListJson(kList);
    EXPECT_EQ(json, "{\"format\":\"halvora-cuts\",\"version\":1,\"video\":{\"size\":123456789012,"
                    "\"duration\":1800.040},\"segments\":[\n"
                    "  {\"start\":1.240,\"end\":3.000},\n"
                    "  {\"start\":65.000,\"end\":70.500}\n]}\n");
    CutList back;
    QString err;
    ASSERT_TRUE(ParseCutList(json, &back, &err)) << err.toStdString();
    EXPECT_EQ(back, kList);
    EXPECT_EQ(CutListPath("/v/my movie.final.mp4"), "/v/my movie.final.halvora-cuts.json");
    EXPECT_EQ(CutListCsv(kList.segments), "start,end\n1.240,3.000\n65.000,70.500\n");
}

TEST(CutList, RefusesWhatIsNotOne) {
    const char* bad[] = {
        "",
        "[]",
        "{\"format\":\"other\",\"version\":1,\"video\":{\"size\":1,\"duration\":1},\"segments\":[]"
        "}",
        "{\"format\":\"halvora-cuts\",\"version\":2,\"video\":{\"size\":1,\"duration\":1},"
        "\"segments\":[]}",
        "{\"format\":\"halvora-cuts\",\"version\":1,\"segments\":[]}",
        "{\"format\":\"halvora-cuts\",\"version\":1,\"video\":{\"size\":1,\"duration\":1},"
        "\"segments\":[{\"start\":3,\"end\":2}]}",
        "{\"format\":\"halvora-cuts\",\"version\":1,\"video\":{\"size\":1,\"duration\":1},"
        "\"segments\":[{\"start\":-1,\"end\":2}]}",
    };
    for (const char* text : bad) {
        CutList list;
        QString err;
        EXPECT_FALSE(ParseCutList(text, &list, &err)) << text;
        EXPECT_FALSE(err.isEmpty()) << text;
    }
}

TEST(CutList, FilesAreReplacedWhole) {
    const QString dir = NewTempDir("cutlist");
    const QString path = dir + "/v.halvora-cuts.json";
    QString err;
    ASSERT_TRUE(WriteCutList(path, kList, &err)) << err.toStdString();
    CutList other = kList;
    other.segments = {{2, 4}};
    ASSERT_TRUE(WriteCutList(path, other, &err));
    CutList back;
    ASSERT_TRUE(ReadCutList(path, &back, &err));
    EXPECT_EQ(back, other);
    // Nothing but the list itself is left in the folder.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"v.halvora-cuts.json"});
    EXPECT_FALSE(WriteCutList(dir + "/missing/v.halvora-cuts.json", kList, &err));
    QDir(dir).removeRecursively();
}

} // namespace
