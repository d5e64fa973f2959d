// Conversions on a full disk and into places that refuse writes: each ends in its error text,
// never "complete", and no partial output stands under the finished file's name.
#include "Conversion.h"
#include "FakeView.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

// ffmpeg ends with 0 when writing its trailer fails ("Error writing trailer of ...: File too
// large"): the conversion must not take the fragment for a finished MP4.
TEST(ConversionFullDisk, WritingFailsPartWay) {
    const QString dir = NewTempDir("full");
    ASSERT_TRUE(MakeVideo(dir + "/in.ts", 4));
    const QString limited = SizeLimitedFFmpeg(NewTempDir("bin"), 16);
    FakeView view;
    RunRecorder rec;
    rec.passThrough();
    ConversionFlow flow(view, rec.runner(), [&] { return limited; });
    view.input = dir + "/in.ts";
    view.output = dir + "/out";
    flow.ConvertInput();
    EXPECT_TRUE(view.status().startsWith("Conversion failed (exit="))
        << view.status().toStdString();
    EXPECT_FALSE(SaidComplete(view));
    EXPECT_EQ(QDir(dir + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST(ConversionFullDisk, OutputsThatRefuseWrites) {
    const QString dir = NewTempDir("refused");
    ASSERT_TRUE(MakeVideo(dir + "/in.ts", 1));
    ASSERT_TRUE(WriteAll(dir + "/a-file", "not a folder"));
    // An output folder that is a file, one on a file system that refuses new files.
    for (const QString& output : {dir + "/a-file", QStringLiteral("/proc/self")}) {
        FakeView view;
        RunRecorder rec;
        rec.passThrough();
        ConversionFlow flow(view, rec.runner());
        view.input = dir + "/in.ts";
        view.output = output;
        flow.ConvertInput();
        EXPECT_FALSE(SaidComplete(view)) << output.toStdString();
        EXPECT_FALSE(view.boxes.isEmpty()) << output.toStdString();
        if (!view.boxes.isEmpty()) {
            EXPECT_EQ(view.boxes.last().kind, BoxKind::Error) << output.toStdString();
        }
        EXPECT_TRUE(view.status().startsWith("Cannot create output"))
            << view.status().toStdString();
    }
    EXPECT_EQ(ReadAll(dir + "/a-file"), "not a folder");
}
