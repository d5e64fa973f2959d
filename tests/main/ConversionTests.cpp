// Single and batch conversion driven through a recording view and a recording runner: the exact
// texts, boxes and command lines, without running ffmpeg.
#include "Conversion.h"
#include "FakeView.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace halvora;
using namespace halvora::test;

namespace {

const QString kFF = QStringLiteral("/opt/ff/ffmpeg");

class Flow : public ::testing::Test {
protected:
    FakeView view;
    RunRecorder rec;
    QString ffmpeg = kFF;
    ConversionFlow flow{view, rec.runner(), [this] { return ffmpeg; }};
    // The links of these tests lead nowhere: their playlists are never read.
    void SetUp() override {
        flow.setPlaylistFetcher([](const QString&) { return PlaylistText(); });
    }
    QString dir = NewTempDir("conv");

    QStringList texts() const {
        QStringList t;
        for (const RecordedRun& r : rec.runs)
            t << r.text;
        return t;
    }
};

void Touch(const QString& APath) {
    ASSERT_TRUE(WriteAll(APath, "x"));
}

} // namespace

TEST(Conversion, OutputNames) {
    EXPECT_EQ(OutputName("https://h/live/index.m3u8"), "output.mp4");
    EXPECT_EQ(OutputName("/rec/show1/local.m3u8"), "local.mp4");
    EXPECT_EQ(OutputName("/v/clip.TS"), "clip.mp4");
    EXPECT_EQ(OutputName("/v/a.b.ts"), "a.b.mp4");
    EXPECT_EQ(OutputName("/v/noext"), "noext.mp4");
    EXPECT_EQ(OutputName("/v/.ts"), "output.mp4");
    EXPECT_EQ(OutputName("/v/sub/"), "output.mp4");
    EXPECT_EQ(OutputName("/v.d/file"), "file.mp4");

    EXPECT_EQ(JoinPath("/out", "a.mp4"), "/out/a.mp4");
    EXPECT_EQ(JoinPath("/out/", "a.mp4"), "/out/a.mp4");
}

TEST(Conversion, CommandTemplates) {
    EXPECT_EQ(
        DownloadCommand("/f f/ffmpeg", "https://h/a b.m3u8", "/o/output.ts").text(),
        R"("/f f/ffmpeg" -y -allowed_extensions ALL -i "https://h/a b.m3u8" -c copy -flush_packets 1 -f mpegts "/o/output.ts")");
    EXPECT_EQ(
        ConvertCommand("ff", "in.m3u8", "o.mp4", true, true).text(),
        R"("ff" -y -allowed_extensions ALL -i "in.m3u8" -map 0:V? -map 0:a? -c copy -movflags +faststart "o.mp4")");
    EXPECT_EQ(ConvertCommand("ff", "in.ts", "o.mp4", true, false).text(),
              R"("ff" -y -i "in.ts" -map 0:V? -map 0:a? -c copy -movflags +faststart "o.mp4")");
    EXPECT_EQ(
        ConvertCommand("ff", "in.m3u8", "o.mp4", false, true).text(),
        R"("ff" -y -allowed_extensions ALL -i "in.m3u8" -map 0:V? -map 0:a? -c:v libx264 -preset medium -c:a aac -movflags +faststart "o.mp4")");
    EXPECT_EQ(
        ConvertCommand("ff", "in.ts", "o.mp4", false, false).text(),
        R"("ff" -y -i "in.ts" -map 0:V? -map 0:a? -c:v libx264 -preset medium -c:a aac -movflags +faststart "o.mp4")");
    // A path is one argument whatever it holds.
    const Command c = ConvertCommand("ff", "-i \"x\".ts", "o.mp4", true, false);
    EXPECT_EQ(c.arguments().at(2), "-i \"x\".ts");
}

TEST(Conversion, FindLocalFileAndDocumentsDir) {
    const QString root = NewTempDir("find");
    const QString a = root + "/a";
    QDir().mkpath(a);
    EXPECT_EQ(FindLocalFile(a), "");
    Touch(a + "/local.ts");
    EXPECT_EQ(FindLocalFile(a), a + "/local.ts");
    EXPECT_EQ(FindLocalFile(a + "/"), a + "/local.ts");
    Touch(a + "/local.m3u8");
    EXPECT_EQ(FindLocalFile(a), a + "/local.m3u8"); // the playlist wins

    const QString b = root + "/b";
    QDir().mkpath(b + "/local.d"); // the only match is a folder
    EXPECT_EQ(FindLocalFile(b), "");
    const QString c = root + "/c";
    QDir().mkpath(c);
    Touch(c + "/LOCAL.ts"); // case matters
    Touch(c + "/local");    // no extension, no match
    EXPECT_EQ(FindLocalFile(c), "");
    Touch(c + "/.local.ts");
    EXPECT_EQ(FindLocalFile(c), "");
    Touch(c + "/local.mkv");
    EXPECT_EQ(FindLocalFile(c), c + "/local.mkv");
    EXPECT_EQ(FindLocalFile(root + "/missing"), "");

    EXPECT_EQ(DocumentsDir(), SandboxRoot() + "/home/Documents");
}

TEST_F(Flow, EmptyInputAndMissingFFmpeg) {
    view.input = " \t ";
    flow.ConvertInput();
    EXPECT_EQ(view.statuses, QStringList{"Please enter M3U8 URL"});
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(view.boxes[0].text, "Please enter M3U8 URL (local file or http link)");
    EXPECT_EQ(view.boxes[0].buttons, BoxButtons::Ok);

    view = FakeView();
    ffmpeg.clear();
    view.input = "https://h/a.m3u8";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_EQ(view.statuses, QStringList{"ffmpeg not found"});
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "ffmpeg not found. Please install ffmpeg and add it to PATH");
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(flow.DownloadStream("https://h/a.m3u8", dir + "/o.ts").result,
              ConversionResult::FFmpegMissing);
    EXPECT_EQ(flow.ConvertFile(dir + "/a.ts", dir + "/a.mp4").result,
              ConversionResult::FFmpegMissing);
    EXPECT_EQ(view.status(), "ffmpeg not found");
    EXPECT_TRUE(rec.runs.isEmpty());
}

TEST_F(Flow, EmptyOutputFolderQuestion) {
    const QString docs = DocumentsDir();
    const QString question = "The output folder is empty.\r\n\r\nYes    - use your Documents "
                             "folder:\r\n         " +
                             docs + "\r\nNo     - choose another folder\r\nCancel - stop";
    Touch(dir + "/clip.ts");

    // Yes: the Documents folder, written back to the field.
    view.input = dir + "/clip.ts";
    view.output = "  ";
    view.answers = {BoxAnswer::Yes};
    flow.ConvertInput();
    ASSERT_GE(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Confirmation);
    EXPECT_EQ(view.boxes[0].buttons, BoxButtons::YesNoCancel);
    EXPECT_EQ(view.boxes[0].text, question);
    EXPECT_EQ(view.output, docs);
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.endsWith("\"" + docs + "/clip.mp4\""));

    // No, then a cancelled picker: status only, no box.
    for (BoxAnswer a : {BoxAnswer::No, BoxAnswer::Cancel, BoxAnswer::Closed}) {
        view = FakeView();
        rec.runs.clear();
        view.input = dir + "/clip.ts";
        view.answers = {a};
        flow.ConvertInput();
        EXPECT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.status(), "Please select output directory");
        EXPECT_EQ(view.pickTitles.size(), a == BoxAnswer::No ? 1 : 0);
        EXPECT_TRUE(rec.runs.isEmpty());
        EXPECT_EQ(view.output, "");
    }

    // No, then a folder: used and written back.
    view = FakeView();
    view.input = dir + "/clip.ts";
    view.answers = {BoxAnswer::No};
    view.pickAnswer = dir + "/picked";
    flow.ConvertInput();
    EXPECT_EQ(view.pickTitles, QStringList{"Select output directory (download + MP4)"});
    EXPECT_EQ(view.output, dir + "/picked");
    EXPECT_TRUE(QFileInfo(dir + "/picked").isDir());
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/picked/clip.mp4");
}

TEST_F(Flow, OutputFolderProblems) {
    Touch(dir + "/clip.ts");
    Touch(dir + "/afile");
    view.input = dir + "/clip.ts";
    view.output = dir + "/afile";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Cannot create output directory");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "Cannot create output directory:\r\n" + dir + "/afile");
    EXPECT_TRUE(rec.runs.isEmpty());

    // A folder nobody may create (even root cannot make folders in /proc).
    view = FakeView();
    view.input = dir + "/clip.ts";
    view.output = "/proc/halvora-test/out";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Cannot create output directory");
    EXPECT_TRUE(rec.runs.isEmpty());

    // Missing parents are created; blanks around the field are ignored.
    view = FakeView();
    view.input = "  " + dir + "/clip.ts\t";
    view.output = " " + dir + "/x/y/z ";
    flow.ConvertInput();
    EXPECT_TRUE(QFileInfo(dir + "/x/y/z").isDir());
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_EQ(rec.runs[0].text,
              "\"" + kFF + "\" -y -i \"" + dir +
                  "/clip.ts\" -map 0:V? -map 0:a? -c copy -movflags +faststart \"" + dir +
                  "/x/y/z/clip.mp4\"");
    EXPECT_EQ(rec.runs[0].workDir, dir + "/");
}

TEST_F(Flow, OutputFileThatCannotBeCreated) {
    // A folder in which even root makes no file.
    Touch(dir + "/clip.ts");
    view.input = dir + "/clip.ts";
    view.output = "/proc";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Cannot create output file");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(view.boxes[0].text.startsWith("Cannot create output file:\r\n/proc/clip.mp4: "))
        << view.boxes[0].text.toStdString();
    EXPECT_TRUE(rec.runs.isEmpty());

    view = FakeView();
    view.input = "https://h/a.m3u8";
    view.output = "/proc/";
    flow.ConvertInput();
    EXPECT_EQ(view.status(), "Cannot create output file");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_TRUE(view.boxes[0].text.startsWith("Cannot create output file:\r\n/proc/output.ts: "));
    EXPECT_TRUE(rec.runs.isEmpty());

    // In a batch the item fails and the run goes on.
    QDir().mkpath(dir + "/root/show");
    Touch(dir + "/root/show/local.ts");
    view = FakeView();
    view.root = dir + "/root";
    view.output = "/proc";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "Batch done: 0/1 succeeded, output: /proc");
    EXPECT_TRUE(rec.runs.isEmpty());
}

TEST_F(Flow, LinkDownloadThenConvert) {
    // Blanks trimmed, letter case kept; the TS goes away after a good conversion.
    view.input = "  HTTPS://Example.COM/Live/Index.m3u8 ";
    view.output = dir + "/";
    view.progress = 37;
    QStringList statusAtRun;
    rec.next = [&](const Command& ACmd, const RunOptions&) {
        statusAtRun << view.status();
        WriteAll(ACmd.arguments().last(), "data");
        return 0;
    };
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_EQ(rec.runs[0].text,
              "\"" + kFF +
                  "\" -y -allowed_extensions ALL -i "
                  "\"HTTPS://Example.COM/Live/Index.m3u8\" -c copy -flush_packets 1 -f mpegts \"" +
                  dir + "/output.ts\"");
    EXPECT_EQ(rec.runs[0].workDir, "");
    EXPECT_EQ(rec.runs[1].text,
              "\"" + kFF + "\" -y -i \"" + dir +
                  "/output.ts\" -map 0:V? -map 0:a? -c copy -movflags +faststart \"" + dir +
                  "/output.mp4\"");
    EXPECT_EQ(rec.runs[1].workDir, dir + "/");
    // "Downloading stream..." stays up through the conversion.
    EXPECT_EQ(statusAtRun, (QStringList{"Downloading stream...", "Downloading stream..."}));
    // Asked before the download and again before the conversion.
    EXPECT_EQ(view.closedChecks, 2);
    EXPECT_EQ(view.status(), "Conversion complete: " + dir + "/output.mp4");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(view.boxes[0].text, "Conversion complete!\r\n" + dir + "/output.mp4");
    EXPECT_EQ(view.progress, 100);
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));
    EXPECT_TRUE(QFile::exists(dir + "/output.mp4"));
}

TEST_F(Flow, LinkFailuresKeepTheTs) {
    view.input = "http://h/a.m3u8";
    view.output = dir;
    view.progress = 37;
    rec.next = [](const Command& ACmd, const RunOptions&) {
        WriteAll(ACmd.arguments().last(), "partial");
        return 1;
    };
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1);
    EXPECT_EQ(view.status(), "Download failed (exit=1). Partial TS kept");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "Download failed (exit=1).\r\nPartial TS kept (may be "
                                  "playable): " +
                                      dir +
                                      "/output.ts\r\nFix the network and click Convert "
                                      "again to retry.");
    EXPECT_EQ(view.progress, 37);
    EXPECT_TRUE(QFile::exists(dir + "/output.ts"));

    // No MP4 placeholder stays behind.
    EXPECT_FALSE(QFile::exists(dir + "/output.mp4"));

    // ffmpeg says 0 but skipped segments: a failed download, no conversion. The kept partial
    // TS of the first download is left alone; this one goes to the next free name.
    view = FakeView();
    view.input = "http://h/a.m3u8";
    view.output = dir;
    rec.runs.clear();
    rec.next = [](const Command& ACmd, const RunOptions& AOptions) {
        AOptions.onStderrLine("[hls @ 0x55d] Failed to open segment 3 of playlist 0");
        AOptions.onStderrLine("[hls @ 0x55d] Failed to open segment 5 of playlist 0");
        WriteAll(ACmd.arguments().last(), "second");
        return 0;
    };
    flow.ConvertInput();
    EXPECT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.endsWith("\"" + dir + "/output (2).ts\""));
    EXPECT_EQ(view.status(), "Download incomplete: 2 segment(s) missing. Partial TS kept");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(view.boxes[0].text.startsWith(
        "Download incomplete: 2 segment(s) of the playlist could not be fetched.\r\n"
        "Partial TS kept (may be playable): " +
        dir + "/output (2).ts\r\n"));
    EXPECT_EQ(ReadAll(dir + "/output.ts"), "partial");
    EXPECT_EQ(ReadAll(dir + "/output (2).ts"), "second");
    EXPECT_FALSE(QFile::exists(dir + "/output (2).mp4"));

    // The conversion of the TS fails twice (fast, then re-encoding): TS kept, bar at 100. The
    // re-encoding writes over the failed copy's MP4 of the same run.
    view = FakeView();
    view.input = "http://h/a.m3u8";
    view.output = dir;
    rec.runs.clear();
    rec.next = [&](const Command& ACmd, const RunOptions&) {
        if (rec.runs.size() == 1)
            WriteAll(ACmd.arguments().last(), "third");
        return rec.runs.size() == 1 ? 0 : 69;
    };
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 3);
    const QString ts3 = dir + "/output (3).ts";
    const QString mp43 = dir + "/output (3).mp4";
    EXPECT_TRUE(rec.runs[0].text.endsWith("\"" + ts3 + "\""));
    EXPECT_TRUE(rec.runs[1].text.endsWith("\"" + mp43 + "\""));
    EXPECT_TRUE(rec.runs[2].text.endsWith("\"" + mp43 + "\""));
    EXPECT_EQ(view.status(), "Conversion failed (exit=69)");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Conversion failed (exit=69). TS kept: " + ts3);
    EXPECT_EQ(view.progress, 100);
    EXPECT_EQ(ReadAll(ts3), "third");
    EXPECT_FALSE(QFile::exists(mp43)); // nothing was written into it
    EXPECT_EQ(ReadAll(dir + "/output.ts"), "partial");
}

TEST_F(Flow, FailedDownloadsSayWhetherAnythingWasKept) {
    const QString fix = "\r\nFix the network and click Convert again to retry.";
    auto convert = [&](std::function<int(const Command&, const RunOptions&)> ARun) {
        view = FakeView();
        view.input = "http://h/a.m3u8";
        view.output = dir;
        rec.runs.clear();
        rec.next = std::move(ARun);
        flow.ConvertInput();
        ASSERT_EQ(rec.runs.size(), 1);
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
        // An empty reservation never stays behind, nor a second number taken for it.
        EXPECT_FALSE(QFile::exists(dir + "/output.mp4"));
    };

    // Nothing arrived: the empty TS is removed and no box points at it.
    convert([](const Command&, const RunOptions&) { return 1; });
    EXPECT_EQ(view.status(), "Download failed (exit=1). Nothing was saved");
    EXPECT_EQ(view.boxes[0].text, "Download failed (exit=1).\r\nNothing was saved" + fix);
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));

    convert([](const Command&, const RunOptions&) { return kRunStalled; });
    EXPECT_EQ(view.status(), "Download stalled (no data for 60 s). Nothing was saved");
    EXPECT_EQ(
        view.boxes[0].text,
        "Download stalled: nothing arrived for 60 s, so it was stopped.\r\nNothing was saved" +
            fix);
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));

    convert([](const Command&, const RunOptions& AOptions) {
        AOptions.onStderrLine("[hls @ 0x55d] Failed to open segment 0 of playlist 0");
        return 0;
    });
    EXPECT_EQ(view.status(), "Download incomplete: 1 segment(s) missing. Nothing was saved");
    EXPECT_EQ(view.boxes[0].text,
              "Download incomplete: 1 segment(s) of the playlist could not be fetched.\r\n"
              "Nothing was saved" +
                  fix);
    EXPECT_FALSE(QFile::exists(dir + "/output.ts"));

    // A stalled download that wrote something keeps it and says where.
    convert([](const Command& ACmd, const RunOptions&) {
        WriteAll(ACmd.arguments().last(), "some");
        return kRunStalled;
    });
    EXPECT_EQ(view.status(), "Download stalled (no data for 60 s). Partial TS kept");
    EXPECT_EQ(view.boxes[0].text,
              "Download stalled: nothing arrived for 60 s, so it was stopped.\r\nPartial TS kept "
              "(may be playable): " +
                  dir + "/output.ts" + fix);
    EXPECT_EQ(ReadAll(dir + "/output.ts"), "some");
}

TEST_F(Flow, LocalInputsNamesAndWorkingFolders) {
    QDir().mkpath(dir + "/rec/show1");
    QDir().mkpath(dir + "/out");
    Touch(dir + "/rec/show1/local.m3u8");
    Touch(dir + "/rec/clip.TS");
    Touch(dir + "/rec/list.M3U8");
    Touch(dir + "/rec/.ts");
    view.output = dir + "/out";

    view.input = dir + "/rec/show1/local.m3u8";
    flow.ConvertInput();
    view.input = dir + "/rec/clip.TS";
    flow.ConvertInput();
    view.input = dir + "/rec/list.M3U8";
    flow.ConvertInput();
    view.input = dir + "/rec/.ts";
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 4);
    const QString o = dir + "/out/";
    EXPECT_EQ(rec.runs[0].text,
              "\"" + kFF + "\" -y -allowed_extensions ALL -i \"" + dir +
                  "/rec/show1/local.m3u8\" -map 0:V? -map 0:a? -c copy -movflags +faststart \"" +
                  o + "local.mp4\"");
    EXPECT_EQ(rec.runs[0].workDir, dir + "/rec/show1/");
    EXPECT_EQ(rec.runs[1].text,
              "\"" + kFF + "\" -y -i \"" + dir +
                  "/rec/clip.TS\" -map 0:V? -map 0:a? -c copy -movflags +faststart \"" + o +
                  "clip.mp4\"");
    EXPECT_EQ(rec.runs[1].workDir, dir + "/rec/");
    EXPECT_TRUE(rec.runs[2].text.contains("-allowed_extensions ALL"));
    EXPECT_TRUE(rec.runs[2].text.endsWith("\"" + o + "list.mp4\""));
    EXPECT_TRUE(rec.runs[3].text.endsWith("\"" + o + "output.mp4\""));
    EXPECT_EQ(view.statuses.mid(0, 2),
              (QStringList{"Converting...", "Conversion complete: " + o + "local.mp4"}));
    EXPECT_EQ(view.closedChecks, 4);
}

TEST_F(Flow, FastModeFallbackAndLocalFailure) {
    Touch(dir + "/clip.ts");
    view.input = dir + "/clip.ts";
    view.output = dir + "/out";
    QStringList statusAtRun;
    rec.next = [&](const Command&, const RunOptions&) {
        statusAtRun << view.status();
        return 1;
    };
    flow.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(rec.runs[0].text.contains(" -c copy "));
    EXPECT_TRUE(rec.runs[1].text.contains(" -c:v libx264 -preset medium -c:a aac "));
    EXPECT_EQ(rec.runs[1].workDir, rec.runs[0].workDir);
    EXPECT_EQ(statusAtRun,
              (QStringList{"Converting...", "Fast mode failed, switching to re-encode..."}));
    EXPECT_EQ(view.closedChecks, 2);
    EXPECT_EQ(view.status(), "Conversion failed (exit=1)");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "Conversion failed (exit=1). Please check the URL");
    EXPECT_EQ(view.progress, 100);

    // Fast mode clear: one run only.
    rec.runs.clear();
    view.fast = false;
    EXPECT_EQ(flow.ConvertFile(dir + "/clip.ts", dir + "/o.mp4").code, 1);
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.contains("libx264"));

    // Unticked while the copy runs: the failure is final.
    rec.runs.clear();
    view.fast = true;
    rec.next = [&](const Command&, const RunOptions&) {
        view.fast = false;
        return -1;
    };
    EXPECT_EQ(flow.ConvertFile(dir + "/clip.ts", dir + "/o.mp4").code, -1);
    EXPECT_EQ(rec.runs.size(), 1);
}

TEST_F(Flow, RefusesToConvertAFileIntoItself) {
    Touch(dir + "/movie.mp4");
    view.input = dir + "/movie.mp4";
    view.output = dir + "/sub/..";
    flow.ConvertInput();
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(view.status(), "Input and output are the same file");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "The MP4 would overwrite its own input:\r\n" + dir +
                                      "/sub/../movie.mp4\r\nChoose another output folder.");
    EXPECT_EQ(ReadAll(dir + "/movie.mp4"), "x");

    // Through a link to the folder as well.
    ASSERT_TRUE(QFile::link(dir, dir + "/alias"));
    view = FakeView();
    view.input = dir + "/movie.mp4";
    view.output = dir + "/alias";
    flow.ConvertInput();
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(view.status(), "Input and output are the same file");

    // And when the output name is a hard link to the input.
    QDir().mkpath(dir + "/other");
    ASSERT_EQ(::link(QFile::encodeName(dir + "/movie.mp4").constData(),
                     QFile::encodeName(dir + "/other/movie.mp4").constData()),
              0);
    view = FakeView();
    view.input = dir + "/movie.mp4";
    view.output = dir + "/other";
    flow.ConvertInput();
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(view.status(), "Input and output are the same file");
}

TEST_F(Flow, RelativeInputIsReadOnce) {
    QDir().mkpath(dir + "/sub");
    Touch(dir + "/sub/clip.ts");
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir);
    view.input = "sub/clip.ts";
    view.output = "out";
    flow.ConvertInput();
    QDir::setCurrent(old);
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_EQ(rec.runs[0].workDir, dir + "/sub/");
    EXPECT_EQ(rec.runs[0].text,
              "\"" + kFF + "\" -y -i \"" + dir +
                  "/sub/clip.ts\" -map 0:V? -map 0:a? -c copy -movflags +faststart \"" + dir +
                  "/out/clip.mp4\"");
}

TEST_F(Flow, BatchRefusals) {
    view.root = "  ";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "Please enter root folder path");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(view.boxes[0].text, "Please enter root folder path (batch scan all subfolders)");

    view = FakeView();
    view.root = " " + dir + "/nope ";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "Root folder does not exist: " + dir + "/nope");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text, "Root folder does not exist: " + dir + "/nope");

    view = FakeView();
    view.root = dir;
    ffmpeg.clear();
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "ffmpeg not found");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "ffmpeg not found. Please install ffmpeg and add it to PATH");
    ffmpeg = kFF;

    // Nothing to convert; the output folder is made anyway.
    view = FakeView();
    QDir().mkpath(dir + "/empty");
    Touch(dir + "/local.m3u8"); // in the root itself: not converted
    view.root = dir;
    view.output = dir + "/made/for/batch";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "No subfolder with local.* found");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(view.boxes[0].text, "No subfolder containing local.* files under root");
    EXPECT_TRUE(QFileInfo(dir + "/made/for/batch").isDir());

    // An output folder that cannot exist is reported once.
    view = FakeView();
    Touch(dir + "/plainfile");
    QDir().mkpath(dir + "/s");
    Touch(dir + "/s/local.ts");
    view.root = dir;
    view.output = dir + "/plainfile";
    flow.ConvertBatch();
    EXPECT_EQ(view.status(), "Cannot create output directory");
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].text, "Cannot create output directory:\r\n" + dir + "/plainfile");
    EXPECT_TRUE(rec.runs.isEmpty());
}

TEST_F(Flow, BatchCountsAndSummaries) {
    for (const char* s : {"one", "two", "three"}) {
        QDir().mkpath(dir + "/" + s);
        Touch(dir + "/" + s + "/local.ts");
    }
    QDir().mkpath(dir + "/none");
    view.root = dir + "/"; // a trailing separator changes no path
    view.output = "";
    // Two of three fail (each tried twice: fast, then re-encoding).
    rec.next = [&](const Command& ACmd, const RunOptions&) {
        return ACmd.text().contains("/two/") ? 0 : 1;
    };
    QList<QPair<int, int>> bar;
    view.onClosedCheck = [&] { bar << qMakePair(view.progress, view.max); };
    flow.ConvertBatch();
    EXPECT_EQ(rec.runs.size(), 5);
    for (const RecordedRun& r : rec.runs) {
        EXPECT_FALSE(r.text.contains("//"));
        EXPECT_TRUE(r.text.endsWith(".mp4\""));
    }
    QStringList progressTexts;
    for (const QString& s : view.statuses)
        if (s.startsWith("Converting "))
            progressTexts << s;
    ASSERT_EQ(progressTexts.size(), 3);
    EXPECT_TRUE(progressTexts[0].startsWith("Converting 1/3: "));
    EXPECT_TRUE(progressTexts[2].startsWith("Converting 3/3: "));
    // Before each item the bar reads (index - 1) of total, at 100 steps per folder; the re-encoding
    // steps repeat it.
    QList<QPair<int, int>> steps;
    for (const auto& b : bar)
        if (steps.isEmpty() || steps.last() != b)
            steps << b;
    EXPECT_EQ(steps, (QList<QPair<int, int>>{{0, 300}, {100, 300}, {200, 300}}));
    EXPECT_EQ(view.progress, 300);
    const QString root = dir + "/";
    EXPECT_EQ(view.status(), "Batch done: 1/3 succeeded, output: " + root);
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(view.boxes[0].text,
              "Batch conversion complete! 1/3 succeeded\r\nOutput dir: " + root);
}

TEST_F(Flow, BatchNeverWritesOverAnInput) {
    // root/local/local.mp4 with the output in root/local would become its own output.
    QDir().mkpath(dir + "/local");
    Touch(dir + "/local/local.mp4");
    QDir().mkpath(dir + "/other");
    Touch(dir + "/other/local.ts");
    view.root = dir;
    view.output = dir + "/local";
    flow.ConvertBatch();
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.contains("/other/local.ts"));
    EXPECT_EQ(ReadAll(dir + "/local/local.mp4"), "x");
    EXPECT_EQ(view.status(), "Batch done: 1/2 succeeded, output: " + dir + "/local");
}

TEST_F(Flow, WindowClosedBeforeARunStartsNothingMore) {
    // The user closes the window while a flow is under way: the application is ending, so no
    // further ffmpeg run is started behind a window that is gone.
    view.onClosedCheck = [&] { view.isClosed = true; };
    view.input = "https://h/a.m3u8";
    view.output = dir;
    flow.ConvertInput();
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_TRUE(view.boxes.isEmpty());

    Touch(dir + "/clip.ts");
    view.input = dir + "/clip.ts";
    flow.ConvertInput();
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_TRUE(view.boxes.isEmpty());

    // Closed while the fast copy failed: no re-encoding.
    view.isClosed = false;
    view.onClosedCheck = {};
    rec.next = [&](const Command&, const RunOptions&) {
        view.onClosedCheck = [&] { view.isClosed = true; };
        return 1;
    };
    EXPECT_EQ(flow.ConvertFile(dir + "/clip.ts", dir + "/o.mp4").code, 1);
    EXPECT_EQ(rec.runs.size(), 1);

    // Batch: closed before the second item; the rest is left alone.
    for (const char* s : {"one", "two", "three"}) {
        QDir().mkpath(dir + "/root/" + s);
        Touch(dir + "/root/" + s + "/local.ts");
    }
    view = FakeView();
    rec.runs.clear();
    rec.next = {};
    view.root = dir + "/root";
    view.onClosedCheck = [&] { view.isClosed = view.closedChecks == 2; };
    flow.ConvertBatch();
    EXPECT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(view.boxes.isEmpty());
}

TEST_F(Flow, StreamListingDecidesTheMapsAndTheNote) {
    // What ffmpeg -i lists for the input, handed to the flow line by line.
    QStringList probes;
    QString listing;
    ConversionFlow planned(
        view, rec.runner(), [this] { return ffmpeg; },
        [&](const Command& ACmd, const RunOptions& AOptions) {
            probes << ACmd.text();
            for (const QString& line : listing.split('\n'))
                AOptions.onStderrLine(line);
            return 1;
        });
    listing = "Input #0, mpegts, from 'x':\n"
              "  Stream #0:0[0x101](eng): Audio: aac (LC), 48000 Hz, stereo\n"
              "  Stream #0:1[0x100]: Video: h264 (High), yuv420p, 320x240\n"
              "  Stream #0:2[0x102](deu): Audio: mp2, 48000 Hz, stereo\n"
              "  Stream #0:3[0x103](deu): Subtitle: dvb_teletext\n"
              "  Stream #0:4(eng): Subtitle: webvtt\n";
    Touch(dir + "/rec.ts");
    view.input = dir + "/rec.ts";
    view.output = dir;
    planned.ConvertInput();
    ASSERT_EQ(probes.size(), 1);
    EXPECT_EQ(probes[0], "\"" + kFF + "\" -hide_banner -i \"" + dir + "/rec.ts\"");
    ASSERT_EQ(rec.runs.size(), 1);
    EXPECT_TRUE(rec.runs[0].text.contains(
        " -map 0:1 -map 0:0 -map 0:2 -map 0:4 -c copy -c:s mov_text -movflags +faststart "));
    EXPECT_EQ(view.status(), "Conversion complete: " + dir +
                                 "/rec.mp4. Teletext pages were not kept: MP4 cannot hold them");

    // The download keeps in the TS what a TS holds; the fallback keeps the same streams.
    rec.runs.clear();
    rec.next = [&](const Command&, const RunOptions&) { return rec.runs.size() == 2 ? 1 : 0; };
    view.input = "https://h/live.m3u8";
    planned.ConvertInput();
    ASSERT_EQ(rec.runs.size(), 3);
    EXPECT_TRUE(rec.runs[0].text.contains("\"https://h/live.m3u8\" -map 0:1 -map 0:0 -map 0:2 -map "
                                          "0:3 -c copy -flush_packets 1 -f mpegts "));
    EXPECT_TRUE(rec.runs[2].text.contains(" -map 0:1 -map 0:0 -map 0:2 -map 0:4 -c:v libx264 "
                                          "-preset medium -c:a aac -c:s mov_text "));
    EXPECT_EQ(probes[1], "\"" + kFF +
                             "\" -hide_banner -allowed_extensions ALL -i "
                             "\"https://h/live.m3u8\"");
}
