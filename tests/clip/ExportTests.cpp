#include "Boxes.h"
#include "ClipCoreFixtures.h"
#include "ClipExport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// Records what the window would show; the status at each message-processing step too.
class FakeView : public ExportView, public BoxRecorder {
public:
    QStringList statuses;
    QStringList progress; // the live progress lines, apart from the other statuses

    void setStatus(const QString& AText) override {
        static const QRegularExpression line("^\\w[^:]*: \\d\\d:\\d\\d:\\d\\d / ");
        (line.match(AText).hasMatch() ? progress : statuses) << AText;
    }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        // Only the question whether to replace a file has more than OK.
        EXPECT_EQ(AButtons, AKind == BoxKind::Confirmation ? BoxButtons::YesNo : BoxButtons::Ok);
        return record(AKind, AText, AButtons);
    }
};

ExportRequest Request(const QString& AIn, const QString& AOut, int ADuration,
                      const QVector<DeleteSegment>& ARows = {}, const QString& ACrop = {}) {
    ExportRequest r;
    r.inFile = AIn;
    r.outText = AOut;
    r.cropText = ACrop;
    r.rows = ARows;
    r.duration = ADuration;
    return r;
}

QStringList Matching(const QStringList& ARuns, const QString& AWhat) {
    QStringList out;
    for (const QString& r : ARuns)
        if (r.contains(AWhat))
            out << r;
    return out;
}

// An ffmpeg in ADir that fails the runs whose arguments match the shell pattern ACase; with
// AWriteFirst after running them for real, so they leave their output written.
QString FailingFFmpeg(const QString& ADir, const QByteArray& ACase, bool AWriteFirst = false) {
    const QString path = ADir + "/ffmpeg";
    const QByteArray ff = '"' + FixtureFFmpeg().toUtf8() + '"';
    const QByteArray fail = AWriteFirst ? ff + " \"$@\"; exit 1" : QByteArray("exit 1");
    EXPECT_TRUE(WriteAll(path, "#!/bin/sh\ncase \"$*\" in " + ACase + ") " + fail +
                                   ";; esac\nexec " + ff + " \"$@\"\n"));
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

// The file a command line writes: its last, quoted argument.
QString LastArgument(const QString& ARun) {
    return ARun.mid(ARun.lastIndexOf(" \"") + 2).chopped(1);
}

} // namespace

TEST(Export, CutsKeptRangesInOrderAndJoinsThem) {
    ASSERT_FALSE(LongVideo().isEmpty());
    RecordingEnv rec;
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/result.mp4";
    const QString dir = rec.env.workDir;
    const QStringList cuts{dir + "seg_0_10_v0.mp4", dir + "seg_20_50_v0.mp4",
                           dir + "seg_60_end_v0.mp4"};
    const QStringList sounds{dir + "seg_0_10_a.mp4", dir + "seg_20_50_a.mp4",
                             dir + "seg_60_end_a.mp4"};
    // The pieces and the list are removed once the export ends: look at them as the join starts.
    QByteArray listAtJoin;
    QStringList piecesAtJoin;
    double middleAtJoin = -1;
    const auto record = rec.env.onRun;
    rec.env.onRun = [&](const Command& ACmd) {
        record(ACmd);
        if (!ACmd.text().contains("video.txt"))
            return;
        listAtJoin = ReadAll(dir + "video.txt");
        piecesAtJoin.clear();
        for (const QString& p : cuts + sounds)
            if (QFile::exists(p))
                piecesAtJoin << p;
        middleAtJoin = ProbeSeconds(cuts[1]);
    };
    // Padded output text is trimmed; the rows are listed out of order.
    ASSERT_TRUE(ExportClip(Request(LongVideo(), "  " + out + "\t", 200, {{50, 60}, {10, 20}}), view,
                           rec.env));

    // Marks on keyframes: each kept stretch is one run copying its video and its audio.
    ASSERT_EQ(rec.runs.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(rec.runs[i].contains('"' + cuts[i] + "\" -ss ")) << rec.runs[i].toStdString();
        EXPECT_TRUE(rec.runs[i].contains(" -map 0:v:0 -c copy ")) << rec.runs[i].toStdString();
        EXPECT_TRUE(rec.runs[i].contains(" -map 1:a -c copy ")) << rec.runs[i].toStdString();
        EXPECT_TRUE(rec.runs[i].endsWith('"' + sounds[i] + '"')) << rec.runs[i].toStdString();
        EXPECT_FALSE(QFile::exists(cuts[i]));
        EXPECT_FALSE(QFile::exists(sounds[i]));
    }
    EXPECT_EQ(piecesAtJoin, cuts + sounds);
    EXPECT_FALSE(QFile::exists(dir + "video.txt"));
    EXPECT_FALSE(QFile::exists(dir + "audio.txt"));
    EXPECT_TRUE(rec.runs[3].contains("-f concat -safe 0 -i \"" + dir + "video.txt\" -f concat"));
    EXPECT_EQ(listAtJoin, "file '" + cuts[0].toUtf8() + "'\r\nduration 10.000000\r\nfile '" +
                              cuts[1].toUtf8() + "'\r\nduration 30.000000\r\nfile '" +
                              cuts[2].toUtf8() + "'\r\nduration 140.000000\r\n");

    EXPECT_NEAR(ProbeSeconds(out), 180.0, 0.1);
    EXPECT_NEAR(StreamSeconds(out, "v"), 180.0, 0.001);
    EXPECT_NEAR(StreamSeconds(out, "a"), 180.0, 0.03);
    EXPECT_NEAR(middleAtJoin, 30.0, 0.1);
    EXPECT_EQ(view.statuses, QStringList({"Exporting...", "Export complete: " + out}));
    // Progress over the whole export: cutting, then joining.
    ASSERT_FALSE(view.progress.isEmpty());
    EXPECT_TRUE(view.progress.first().startsWith("Cutting: "))
        << view.progress.first().toStdString();
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(view.boxes[0].text, "Export complete!\r\n" + out);

    // A second export overwrites the same working files, and the output once the user agrees.
    FakeView again;
    again.answers = {BoxAnswer::Yes};
    ASSERT_TRUE(ExportClip(Request(LongVideo(), out, 200, {{0, 100}}), again, rec.env));
    EXPECT_EQ(again.boxes[0].kind, BoxKind::Confirmation);
    EXPECT_NEAR(ProbeSeconds(out), 100.0, 0.1);
    EXPECT_EQ(listAtJoin,
              "file '" + dir.toUtf8() + "seg_100_end_v0.mp4'\r\nduration 100.000000\r\n");
}

TEST(Export, CropReencodesEveryCutAndNoJoin) {
    ASSERT_FALSE(LargeVideo().isEmpty());
    RecordingEnv rec;
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/crop.mp4";
    ASSERT_TRUE(
        ExportClip(Request(LargeVideo(), out, 10, {{3, 5}}, " 320:240:0:0 "), view, rec.env));
    ASSERT_EQ(rec.runs.size(), 3);
    EXPECT_EQ(Matching(rec.runs, "crop=320:240:0:0").size(), 2);
    ASSERT_EQ(Matching(rec.runs, "concat").size(), 1);
    EXPECT_FALSE(Matching(rec.runs, "concat")[0].contains("crop="));
    // The re-encoding cuts seek before the input and still cover their exact stretch.
    EXPECT_TRUE(rec.runs[0].contains(" -y -ss 0 -i ")) << rec.runs[0].toStdString();
    EXPECT_TRUE(rec.runs[0].contains(" -t 3 -map 0:V? -map 0:a? -vf crop="))
        << rec.runs[0].toStdString();
    EXPECT_NEAR(ProbeSeconds(rec.env.workDir + "seg_0_3.mp4"), 3.0, 0.2);
    EXPECT_NEAR(ProbeSeconds(rec.env.workDir + "seg_5_end.mp4"), 5.0, 0.2);
    EXPECT_EQ(ProbeSize(out), "320x240");
    EXPECT_NEAR(ProbeSeconds(out), 8.0, 0.3);
}

TEST(Export, NothingLeftRunsNoFFmpeg) {
    RecordingEnv rec;
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/none.mp4";
    EXPECT_FALSE(ExportClip(Request(LongVideo(), out, 200, {{50, 200}, {0, 60}}), view, rec.env));
    EXPECT_TRUE(rec.runs.isEmpty());
    EXPECT_EQ(view.statuses, QStringList{"Exporting..."});
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(view.boxes[0].text, "No segments left (all deleted?)");
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFile::exists(rec.env.workDir + "list.txt"));
}

TEST(Export, OutputInAMissingFolderGivesTheConcatError) {
    RecordingEnv rec;
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/no/such/folder/x.mp4";
    EXPECT_FALSE(ExportClip(Request(ShortVideo(), out, 10), view, rec.env));
    // The exact cut's copy (video and audio in one run) and its join; then the keyframe copy
    // of the tail, the copy join and the re-encoding join.
    ASSERT_EQ(rec.runs.size(), 5);
    EXPECT_TRUE(rec.runs[3].contains(" -c copy -movflags +faststart "));
    EXPECT_TRUE(rec.runs[4].contains(" -c:v libx264 -preset veryfast -c:a aac -movflags"));
    EXPECT_EQ(view.statuses,
              QStringList({"Exporting...", "Exact cut failed (join); cutting at keyframes",
                           "Concatenation failed, retrying with re-encode..."}));
    ASSERT_EQ(view.boxes.size(), 1);
    EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(view.boxes[0].text,
              "Concatenation failed (segment codecs differ? Try crop/re-encode mode)");
    EXPECT_TRUE(QFile::exists(rec.env.workDir + "seg_0_end.mp4"));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(out).path()));
}

TEST(Export, WorkingFolderAndNamesWithBlanksQuotesAndNonAscii) {
    RecordingEnv rec(NewTempDir(QStringLiteral("Jane O'Neil \"x\" ü")));
    QByteArray list;
    const auto record = rec.env.onRun;
    rec.env.onRun = [&](const Command& ACmd) {
        record(ACmd);
        if (ACmd.text().contains("video.txt"))
            list = ReadAll(rec.env.workDir + "video.txt");
    };
    FakeView view;
    const QString in = NewTempDir(QStringLiteral("in 'q'")) + "/my clip ü.mp4";
    ASSERT_TRUE(CopyTo(ShortVideo(), in));
    const QString out = NewTempDir(QStringLiteral("out dir")) + "/it's out.mp4";
    ASSERT_TRUE(ExportClip(Request(in, out, 10, {{2, 4}}), view, rec.env)) << view.boxes.size();
    EXPECT_EQ(rec.runs.size(), 3);
    EXPECT_NEAR(ProbeSeconds(out), 8.0, 0.1);
    EXPECT_TRUE(list.startsWith("file '")) << list.toStdString();
    EXPECT_TRUE(list.contains("O'\\''Neil")) << list.toStdString();
}

TEST(Export, NoRowsCopiesTheWholeFileAsOneTail) {
    RecordingEnv rec;
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/whole.mp4";
    ASSERT_TRUE(ExportClip(Request(ShortVideo(), out, 10), view, rec.env));
    ASSERT_EQ(rec.runs.size(), 2);
    EXPECT_TRUE(rec.runs[0].contains("seg_0_end_v0.mp4\" -ss "));
    EXPECT_TRUE(rec.runs[0].endsWith("seg_0_end_a.mp4\""));
    EXPECT_NEAR(ProbeSeconds(out), 10.0, 0.1);
}

TEST(Export, RefusesEarlyWithItsMessages) {
    RecordingEnv rec;
    {
        FakeView view;
        EXPECT_FALSE(ExportClip(Request("", "/x/out.mp4", 10), view, rec.env));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(view.boxes[0].text, "Please open a video first");
    }
    {
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(ShortVideo(), " \t\r\n", 10), view, rec.env));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(view.boxes[0].text, "Please specify output file");
    }
    {
        RecordingEnv none;
        none.env.findFFmpeg = [] { return QString(); };
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(ShortVideo(), "/x/out.mp4", 10), view, none.env));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(view.boxes[0].text, "ffmpeg not found");
        EXPECT_TRUE(none.runs.isEmpty());
    }
    EXPECT_TRUE(rec.runs.isEmpty());
}

TEST(Export, NeverWritesOverTheOpenedVideo) {
    const QString dir = NewTempDir("same");
    const QString video = dir + "/victim.mp4";
    ASSERT_TRUE(QFile::copy(ShortVideo(), video));
    const QByteArray before = ReadAll(video);
    ASSERT_TRUE(QFile::link(dir, dir + "/alias"));
    for (const QString& out : {video, dir + "/./victim.mp4", dir + "/alias/victim.mp4"}) {
        RecordingEnv rec;
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(video, " " + out + " ", 5, {{1, 2}}), view, rec.env));
        EXPECT_TRUE(rec.runs.isEmpty()) << out.toStdString();
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(view.boxes[0].text, "The export would overwrite the opened video:\r\n" + out +
                                          "\r\nChoose another output file.");
        EXPECT_EQ(view.statuses.last(), "Input and output are the same file");
    }
    EXPECT_EQ(ReadAll(video), before);
}

TEST(Export, AFailingCutStopsTheRun) {
    const QString dir = NewTempDir(QStringLiteral("bad"));
    WriteAll(dir + "/text.mp4", "not a video");
    const QString out = dir + "/out.mp4";
    {
        RecordingEnv rec;
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(dir + "/text.mp4", out, 200, {{10, 20}}), view, rec.env));
        EXPECT_EQ(rec.runs.size(), 1);
        EXPECT_EQ(
            view.statuses,
            QStringList({"Exporting...",
                         "Exact cut not possible (no keyframe index); cutting at keyframes"}));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(view.boxes[0].text, "Segment [00:00-00:10] extraction failed");
    }
    {
        RecordingEnv rec;
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(dir + "/missing.mp4", out, 200, {{0, 70}}), view, rec.env));
        EXPECT_EQ(rec.runs.size(), 1);
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].text, "Tail segment [01:10-END] extraction failed");
    }
    EXPECT_FALSE(QFile::exists(out));
}

TEST(StripUtf8Bom, RemovesOnlyALeadingMark) {
    const QString dir = NewTempDir();
    const QString f = dir + "/l.txt";
    WriteAll(f, "\xEF\xBB\xBF"
                "file 'a'\r\n");
    EXPECT_TRUE(StripUtf8Bom(f));
    EXPECT_EQ(ReadAll(f), "file 'a'\r\n");
    EXPECT_TRUE(StripUtf8Bom(f)); // nothing more to strip
    EXPECT_EQ(ReadAll(f), "file 'a'\r\n");
    WriteAll(f, "\xEF\xBB\xBF");
    StripUtf8Bom(f);
    EXPECT_EQ(ReadAll(f), "");
    EXPECT_TRUE(QFile::exists(f));
    WriteAll(f, "\xEF\xBB");
    StripUtf8Bom(f);
    EXPECT_EQ(ReadAll(f), QByteArray("\xEF\xBB"));
    EXPECT_TRUE(StripUtf8Bom(dir + "/missing.txt"));
    EXPECT_FALSE(QFile::exists(dir + "/missing.txt"));
}

TEST(ConcatList, QuotesEveryPath) {
    EXPECT_EQ(ConcatListText({"/t/a b/seg_0_1.mp4", "/t/it's/seg_1_end.mp4"}),
              "file '/t/a b/seg_0_1.mp4'\r\nfile '/t/it'\\''s/seg_1_end.mp4'\r\n");
    EXPECT_EQ(ConcatListText({}), "");
    EXPECT_EQ(ConcatListText({"/t/ü.mp4"}), "file '/t/\xC3\xBC.mp4'\r\n");
}

TEST(ExportCommands, CopyCutsKeepTheirSeekCropCutsSeekFirst) {
    EXPECT_EQ(
        CutCommand("/f", "/in.mp4", 10, 20, "", "/w/seg_10_20.mp4").text(),
        R"("/f" -y -i "/in.mp4" -ss 10 -to 20 -map 0:V? -map 0:a? -c copy "/w/seg_10_20.mp4")");
    EXPECT_EQ(
        CutCommand("/f", "/in.mp4", 10, 20, "1:2:3:4", "/w/c.mp4").text(),
        R"("/f" -y -ss 10 -i "/in.mp4" -t 10 -map 0:V? -map 0:a? -vf crop=1:2:3:4 -c:v libx264 -preset veryfast -c:a aac "/w/c.mp4")");
    EXPECT_EQ(TailCommand("/f", "/in.mp4", 60, "", "/w/t.mp4").text(),
              R"("/f" -y -i "/in.mp4" -ss 60 -map 0:V? -map 0:a? -c copy "/w/t.mp4")");
    EXPECT_EQ(
        TailCommand("/f", "/in.mp4", 60, "1:2:3:4", "/w/t.mp4").text(),
        R"("/f" -y -ss 60 -i "/in.mp4" -map 0:V? -map 0:a? -vf crop=1:2:3:4 -c:v libx264 -preset veryfast -c:a aac "/w/t.mp4")");
    EXPECT_EQ(CutFileName(0, 65), "seg_0_65.mp4");
    EXPECT_EQ(TailFileName(70000), "seg_70000_end.mp4");
}

TEST(Export, DefaultNameNeverReplacesAFile) {
    const QString dir = NewTempDir("default");
    const QString out = dir + "/moviecit.mp4";
    ExportRequest req = Request(ShortVideo(), out, 10);
    req.freeName = true;
    RecordingEnv rec;
    FakeView view;
    ASSERT_TRUE(ExportClip(req, view, rec.env));
    EXPECT_EQ(view.statuses.last(), "Export complete: " + out);
    const QString first = FileDigest(out);
    EXPECT_NEAR(CountVideoFrames(out), 250, 3);

    // The same default name again, with the first half deleted: a new file, no question.
    req.rows = {{0, 5}};
    FakeView again;
    ASSERT_TRUE(ExportClip(req, again, rec.env));
    const QString second = dir + "/moviecit (2).mp4";
    EXPECT_EQ(again.statuses.last(), "Export complete: " + second);
    ASSERT_EQ(again.boxes.size(), 1);
    EXPECT_EQ(again.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(again.boxes[0].text, "Export complete!\r\n" + second);
    EXPECT_TRUE(rec.runs.last().endsWith("\"" + second + "\""));
    EXPECT_EQ(FileDigest(out), first);
    EXPECT_NEAR(CountVideoFrames(second), 125, 3);

    // Both joins fail: the reserved name is not left behind empty.
    const QString failing = FailingFFmpeg(dir, "*concat*");
    RecordingEnv broken;
    broken.env.findFFmpeg = [&] { return failing; };
    FakeView view3;
    EXPECT_FALSE(ExportClip(req, view3, broken.env));
    EXPECT_EQ(Matching(broken.runs, "concat").size(), 2);
    EXPECT_TRUE(Matching(broken.runs, "concat")[0].endsWith("\"" + dir + "/moviecit (3).mp4\""));
    EXPECT_FALSE(QFile::exists(dir + "/moviecit (3).mp4"));
    EXPECT_EQ(view3.boxes.last().text,
              "Concatenation failed (segment codecs differ? Try crop/re-encode mode)");

    // A folder that doesn't exist: no name can be made there.
    req.outText = dir + "/missing/moviecit.mp4";
    FakeView view4;
    EXPECT_FALSE(ExportClip(req, view4, rec.env));
    ASSERT_EQ(view4.boxes.size(), 1);
    EXPECT_EQ(view4.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(view4.boxes[0].text.startsWith("Cannot create output file:\r\n" + dir +
                                               "/missing/moviecit.mp4: "));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name),
              (QStringList{"ffmpeg", "moviecit (2).mp4", "moviecit.mp4"}));
}

TEST(Export, ATypedNameThatExistsIsReplacedOnlyOnYes) {
    const QString dir = NewTempDir("typed");
    const QString out = dir + "/mine.mp4";
    ASSERT_TRUE(WriteAll(out, "the user's own file"));
    const QString question = out + " already exists. Replace it?";
    {
        // No: nothing is run and nothing written, not even a cut.
        RecordingEnv rec;
        FakeView view;
        view.answers = {BoxAnswer::No};
        EXPECT_FALSE(
            ExportClip(Request(ShortVideo(), " " + out + " ", 10, {{2, 4}}), view, rec.env));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Confirmation);
        EXPECT_EQ(view.boxes[0].text, question);
        EXPECT_TRUE(rec.runs.isEmpty());
        EXPECT_TRUE(view.statuses.isEmpty());
        EXPECT_TRUE(QDir(rec.env.workDir).isEmpty());
        EXPECT_EQ(ReadAll(out), "the user's own file");
    }
    {
        // The box closed without an answer counts as No.
        RecordingEnv rec;
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(ShortVideo(), out, 10), view, rec.env));
        EXPECT_TRUE(rec.runs.isEmpty());
        EXPECT_EQ(ReadAll(out), "the user's own file");
    }
    {
        RecordingEnv rec;
        FakeView view;
        view.answers = {BoxAnswer::Yes};
        ASSERT_TRUE(ExportClip(Request(ShortVideo(), out, 10, {{2, 4}}), view, rec.env));
        EXPECT_EQ(view.boxes[0].text, question);
        EXPECT_EQ(view.statuses.last(), "Export complete: " + out);
        EXPECT_NEAR(CountVideoFrames(out), 200, 3);
        EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"mine.mp4"});
    }
    {
        // A typed name that is free is written without a question.
        RecordingEnv rec;
        FakeView view;
        ASSERT_TRUE(ExportClip(Request(ShortVideo(), dir + "/new.mp4", 10), view, rec.env));
        ASSERT_EQ(view.boxes.size(), 1);
        EXPECT_EQ(view.boxes[0].kind, BoxKind::Information);
    }
}

TEST(Export, AReplacedFileStaysUntilTheNewOneIsComplete) {
    const QString dir = NewTempDir("replace");
    const QString out = dir + "/mine.mp4";
    ASSERT_TRUE(WriteAll(out, "the user's own file"));
    const QFileDevice::Permissions mode =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(out, mode));
    const QString before = FileDigest(out);
    const QStringList onlyMine{"mine.mp4"};
    auto everything = [&] { return QDir(dir).entryList(QDir::Files | QDir::Hidden); };

    // Both joins fail after writing part of their output: the user's file is as it was and
    // the half-written one is gone.
    const QString failing = FailingFFmpeg(NewTempDir("bin"), "*concat*", true);
    RecordingEnv broken;
    broken.env.findFFmpeg = [&] { return failing; };
    FakeView view;
    view.answers = {BoxAnswer::Yes};
    EXPECT_FALSE(ExportClip(Request(ShortVideo(), out, 10, {{2, 4}}), view, broken.env));
    const QStringList joins = Matching(broken.runs, "concat");
    ASSERT_EQ(joins.size(), 2);
    const QString temp = LastArgument(joins[0]);
    EXPECT_EQ(LastArgument(joins[1]), temp);
    EXPECT_EQ(QFileInfo(temp).path(), dir);
    EXPECT_TRUE(QFileInfo(temp).fileName().startsWith(".mine.tmp-")) << temp.toStdString();
    EXPECT_TRUE(temp.endsWith(".mp4"));
    EXPECT_EQ(view.boxes.last().text,
              "Concatenation failed (segment codecs differ? Try crop/re-encode mode)");
    EXPECT_EQ(FileDigest(out), before);
    EXPECT_EQ(everything(), onlyMine);

    // The retry by re-encoding succeeds: the new video takes the name, with the file's
    // permissions, and nothing else is left in the folder.
    const QString copyFails = FailingFFmpeg(NewTempDir("bin2"), "*concat*\"-c copy\"*");
    RecordingEnv retried;
    retried.env.findFFmpeg = [&] { return copyFails; };
    FakeView view2;
    view2.answers = {BoxAnswer::Yes};
    ASSERT_TRUE(ExportClip(Request(ShortVideo(), out, 10, {{2, 4}}), view2, retried.env));
    ASSERT_EQ(Matching(retried.runs, "concat").size(), 2);
    EXPECT_EQ(view2.statuses.last(), "Export complete: " + out);
    EXPECT_EQ(view2.boxes.last().text, "Export complete!\r\n" + out);
    EXPECT_NE(FileDigest(out), before);
    EXPECT_NEAR(CountVideoFrames(out), 200, 3);
    EXPECT_EQ(QFile::permissions(out) &
                  ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
              mode);
    EXPECT_EQ(everything(), onlyMine);
}

// Outputs that refuse writes end in an error box, never "complete", and leave nothing there.
TEST(Export, OutputsThatRefuseWrites) {
    const QString dir = NewTempDir(QStringLiteral("refused"));
    ASSERT_TRUE(WriteAll(dir + "/a-file", "not a folder"));
    // A folder that is a file, a file system that takes no new files.
    for (const QString& out : {dir + "/a-file/x.mp4", QStringLiteral("/proc/self/x.mp4")}) {
        RecordingEnv rec;
        FakeView view;
        EXPECT_FALSE(ExportClip(Request(ShortVideo(), out, 10), view, rec.env))
            << out.toStdString();
        EXPECT_FALSE(SaidComplete(view)) << out.toStdString();
        ASSERT_FALSE(view.boxes.isEmpty()) << out.toStdString();
        EXPECT_EQ(view.boxes.last().kind, BoxKind::Error) << out.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
    EXPECT_EQ(ReadAll(dir + "/a-file"), "not a folder");
}

// A disk that fills up part-way (ffmpeg itself may still end with 0 then).
TEST(Export, WritingFailsPartWay) {
    RecordingEnv rec;
    const QString limited = SizeLimitedFFmpeg(NewTempDir(QStringLiteral("bin")), 16);
    rec.env.findFFmpeg = [limited] { return limited; };
    FakeView view;
    const QString out = NewTempDir(QStringLiteral("out")) + "/x.mp4";
    EXPECT_FALSE(ExportClip(Request(LongVideo(), out, 200, {{50, 60}}), view, rec.env));
    EXPECT_FALSE(SaidComplete(view));
    ASSERT_FALSE(view.boxes.isEmpty());
    EXPECT_EQ(view.boxes.last().kind, BoxKind::Error);
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST(Export, EveryAudioTrackThroughCutsJoinAndCrop) {
    // Two languages; the stretches 2-4 and 6-7 are deleted, leaving 0-2, 4-6 and 7-10.
    const QString in = NewTempDir(QStringLiteral("two")) + "/two.mp4";
    const QList<ToneTrack> tones{{300, "eng", "", false}, {700, "deu", "", false}};
    ASSERT_TRUE(MakeToneVideo(in, 10, tones));
    for (const QString& crop : {QString(), QStringLiteral("160:120:0:0")}) {
        SCOPED_TRACE(crop.toStdString());
        RecordingEnv rec;
        FakeView view;
        const QString out = NewTempDir(QStringLiteral("out")) + "/clip.mp4";
        ExportRequest r = Request(in, out, 10, {{2, 4}, {6, 7}});
        r.cropText = crop;
        ASSERT_TRUE(ExportClip(r, view, rec.env));

        const QList<TrackInfo> tracks = ProbeTracks(out);
        ASSERT_EQ(tracks.size(), 3);
        EXPECT_EQ(tracks[0].type, "video");
        const int frames = CountVideoFrames(out);
        EXPECT_NEAR(frames, 7 * 25, 3);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(tracks[i + 1].type, "audio");
            EXPECT_EQ(tracks[i + 1].language, tones[i].language);
            double seconds = 0;
            // The joins break the wave's phase and add the coder's padding: a few percent off.
            EXPECT_NEAR(ToneFrequency(out, i, &seconds), tones[i].frequency,
                        tones[i].frequency * 0.03)
                << i;
            // Each track as long as the picture.
            EXPECT_NEAR(seconds, frames / 25.0, 0.15) << i;
        }
        EXPECT_EQ(ProbeSize(out), crop.isEmpty() ? "320x240" : "160x120");
    }
}
