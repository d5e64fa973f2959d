// The clip window's logic without a window: a recording view and a recording player, with the
// real ffmpeg for probes and still frames.
#include "Boxes.h"
#include "ClipEditor.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace halvora;
using namespace halvora::test;

namespace {

class RecordingPlayer : public ClipPlayer {
public:
    explicit RecordingPlayer(QStringList& ALog, bool& ADestroyed)
        : FLog(ALog), FDestroyed(ADestroyed) {}
    ~RecordingPlayer() override { FDestroyed = true; }
    bool Load() override {
        FLog << "Load";
        return loadOk;
    }
    bool Open(quintptr AParent, const QString& AFile) override {
        FLog << QStringLiteral("Open(%1,%2)").arg(AParent).arg(QFileInfo(AFile).fileName());
        open = loadOk && openOk;
        return open;
    }
    void Reset() override {
        FLog << "Reset";
        open = false;
    }
    void Play() override {
        FLog << "Play";
        playing = true;
    }
    void Pause() override {
        FLog << "Pause";
        playing = !playing;
    }
    void Toggle() override {
        FLog << "Toggle";
        playing = !playing;
    }
    void Stop() override {
        FLog << "Stop";
        playing = false;
    }
    void SetTime(std::int64_t AMs) override { FLog << QStringLiteral("SetTime(%1)").arg(AMs); }
    std::int64_t GetTime() override { return time; }
    std::int64_t GetLength() override { return length; }
    bool IsPlaying() override { return playing; }
    bool IsOpen() const override { return open; }

    bool loadOk = true;
    bool openOk = true;
    bool open = false;
    bool playing = false;
    std::int64_t time = 0;
    std::int64_t length = 0;

private:
    QStringList& FLog;
    bool& FDestroyed;
};

class RecordingView : public ClipView, public BoxRecorder {
public:
    ClipEditor* editor = nullptr;
    QStringList statuses;
    QStringList files, folders, titles;
    QString filter, fileText, timeText, videoSize, audioText, out, crop, playText = "Play";
    int pos = 0, max = 0, selected = -1;
    bool editing = true, preview = false;
    QList<bool> previewChanges;

    void setStatus(const QString& AText) override { statuses << AText; }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        return record(AKind, AText, AButtons);
    }
    QString openFile(const QString& ATitle, const QString& AFilter) override {
        titles << ATitle;
        filter = AFilter;
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    QString pickFolder(const QString& ATitle) override {
        titles << ATitle;
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }
    void setFileText(const QString& AText) override { fileText = AText; }
    int trackPosition() override { return pos; }
    void setTrackMaximum(int AMax) override {
        max = AMax;
        setTrackPosition(std::min(pos, max));
    }
    // Like the track bar: a change of position raises PositionChanged.
    void setTrackPosition(int APos) override {
        APos = std::clamp(APos, 0, max);
        if (APos == pos)
            return;
        pos = APos;
        editor->PositionChanged();
    }
    void setTimeText(const QString& AText) override { timeText = AText; }
    void setVideoSizeText(const QString& AText) override { videoSize = AText; }
    void setAudioTracksText(const QString& AText) override { audioText = AText; }
    QString outputText() override { return out; }
    void setOutputText(const QString& AText) override { out = AText; }
    QString cropText() override { return crop; }
    int selectedSegment() override { return selected; }
    void SetEditingEnabled(bool On) override { editing = On; }
    void setPreviewVisible(bool AVisible) override {
        preview = AVisible;
        previewChanges << AVisible;
    }
    quintptr previewWindow() override { return 4242; }
    void setPlayText(const QString& AText) override { playText = AText; }
    QVector<double> ticks;
    void setKeyframeTicks(const QVector<double>& ASeconds) override { ticks = ASeconds; }
};

class ClipEditorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sDir = new QString(NewTempDir(QStringLiteral("editor")));
        ASSERT_TRUE(MakeVideo(*sDir + "/movie.mp4", 3));
        ASSERT_TRUE(WriteAll(*sDir + "/broken.mp4", QByteArray("no video here\n")));
    }
    static void TearDownTestSuite() {
        QDir(*sDir).removeRecursively();
        delete sDir;
    }
    // Export runs on a worker: starts it and waits until it has ended (boxes answered).
    void Export() {
        FEditor->StartExport();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FEditor->Exporting(); }, 60000));
    }
    void SetUp() override {
        // The video is shared by the tests: a cut list one of them left is not offered to the
        // next.
        QFile::remove(*sDir + "/movie.halvora-cuts.json");
        FEditor = std::make_unique<ClipEditor>(FView);
        FView.editor = FEditor.get();
        FEditor->SetPlayerFactory([this] {
            auto p = std::make_unique<RecordingPlayer>(FLog, FDestroyed);
            FPlayer = p.get();
            p->loadOk = FLoadOk;
            p->openOk = FOpenOk;
            return p;
        });
    }
    QString Movie() const { return *sDir + "/movie.mp4"; }
    // Opening runs on a worker: these start it and wait until its results are in.
    void WaitLoaded() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !FEditor->Loading(); }, 60000));
    }
    void Load(const QString& AFile) {
        FEditor->LoadFile(AFile);
        WaitLoaded();
    }
    void Open() {
        FEditor->ChooseAndOpen();
        WaitLoaded();
    }
    // Opens the movie through the dialog; playback starts at once.
    void OpenMovie() {
        FView.files << Movie();
        Open();
        ASSERT_EQ(FEditor->InFile(), Movie());
        FLog.clear();
    }

    static QString* sDir;
    RecordingView FView;
    std::unique_ptr<ClipEditor> FEditor;
    QStringList FLog;
    bool FDestroyed = false;
    bool FLoadOk = true;
    bool FOpenOk = true;
    RecordingPlayer* FPlayer = nullptr;
};
QString* ClipEditorTest::sDir = nullptr;

} // namespace

TEST(ClipOutputNames, BesideTheInputAndInAPickedFolder) {
    EXPECT_EQ(DefaultClipOutput("/v/movie.mp4"), "/v/moviecit.mp4");
    EXPECT_EQ(DefaultClipOutput("/v/movie"), "/v/moviecit.mp4");
    EXPECT_EQ(DefaultClipOutput("/v.d/movie.x.ts"), "/v.d/movie.xcit.mp4");
    EXPECT_EQ(DefaultClipOutput("movie.mkv"), "moviecit.mp4");
    EXPECT_EQ(EditedClipOutput("/out", "/v/movie.mp4"), "/out/movie_edited.mp4");
    EXPECT_EQ(EditedClipOutput("/out/", "/v.d/movie"), "/out/movie_edited.mp4");
}

TEST_F(ClipEditorTest, NothingLoaded) {
    EXPECT_EQ(FEditor->PlayTimer().interval(), 500);
    EXPECT_EQ(FEditor->Preview().timer().interval(), 500);
    EXPECT_FALSE(FEditor->PlayTimer().isActive());
    FEditor->MarkStart();
    FEditor->MarkEnd();
    FEditor->PositionChanged();
    EXPECT_TRUE(FView.statuses.isEmpty());
    EXPECT_TRUE(FView.timeText.isEmpty());
    EXPECT_FALSE(FEditor->Preview().armed());
    FEditor->TogglePlayback();
    ASSERT_EQ(FView.boxes.size(), 1);
    EXPECT_EQ(FView.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(FView.boxes[0].text, "Please open a video first");
    EXPECT_EQ(FEditor->Player(), nullptr);
    // A cancelled dialog changes nothing.
    Open();
    EXPECT_EQ(FView.titles, QStringList{"Select MP4 file"});
    EXPECT_EQ(FView.filter, "Video files (*.mp4 *.ts *.mkv);;All files (*)");
    EXPECT_TRUE(FView.fileText.isEmpty());
    EXPECT_TRUE(FView.statuses.isEmpty());
}

TEST_F(ClipEditorTest, OpenLoadsAndPlaysAtOnce) {
    FView.files << Movie();
    Open();
    EXPECT_EQ(FView.fileText, Movie());
    EXPECT_EQ(FView.statuses.value(0), "Reading movie.mp4...");
    EXPECT_EQ(FView.statuses.value(1), "Loaded movie.mp4 (duration 00:03)");
    EXPECT_EQ(FView.videoSize, "Video: 320x240");
    EXPECT_EQ(FView.audioText, "Audio: 1 track");
    EXPECT_EQ(FEditor->Duration(), 3);
    EXPECT_EQ(FView.max, 3);
    EXPECT_EQ(FView.pos, 0);
    EXPECT_EQ(FView.timeText, "00:00 / 00:03");
    EXPECT_EQ(FView.out, *sDir + "/moviecit.mp4");
    EXPECT_TRUE(FView.editing);
    // The first still follows from the preview's worker.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FEditor->Preview().image().isNull(); }, 20000));
    // In this run's own folder inside $TEMP/Halvora_clip/.
    const QString work = MakeClipWorkDir();
    EXPECT_TRUE(work.startsWith(QDir::fromNativeSeparators(qEnvironmentVariable("TEMP")) +
                                "/Halvora_clip/run-"));
    EXPECT_TRUE(QFile::exists(work + "frame_0.jpg"));
    // Playback: the panel is shown before the player gets its window; the seek follows Play.
    EXPECT_EQ(FLog, QStringList({"Load", "Open(4242,movie.mp4)", "Play", "SetTime(0)"}));
    EXPECT_EQ(FView.previewChanges.last(), true);
    EXPECT_TRUE(FEditor->Playing());
    EXPECT_EQ(FView.playText, "Stop");
    EXPECT_TRUE(FEditor->PlayTimer().isActive());
    EXPECT_TRUE(FView.boxes.isEmpty());
}

TEST_F(ClipEditorTest, PlaybackModeTicksSeeksAndEnds) {
    OpenMovie();
    FPlayer->length = 3000;

    // The play timer moves the thumb without seeking; the label follows.
    FPlayer->time = 1500;
    FEditor->PlayTick();
    EXPECT_EQ(FView.pos, 1);
    EXPECT_EQ(FView.timeText, "00:01 / 00:03");
    EXPECT_TRUE(FLog.isEmpty());
    EXPECT_FALSE(FEditor->Preview().armed());

    // A move by the user seeks and arms no grab.
    FView.setTrackPosition(2);
    EXPECT_EQ(FLog, QStringList{"SetTime(2000)"});
    EXPECT_EQ(FView.timeText, "00:02 / 00:03");
    EXPECT_FALSE(FEditor->Preview().armed());
    FLog.clear();
    FPlayer->time = 2000;

    // Play pauses and resumes inside playback mode.
    FEditor->TogglePlayback();
    EXPECT_EQ(FLog, QStringList{"Toggle"});
    EXPECT_EQ(FView.playText, "Play");
    EXPECT_TRUE(FEditor->Playing());
    // Paused well before the end: still in playback mode.
    FEditor->PlayTick();
    EXPECT_TRUE(FEditor->Playing());
    FEditor->TogglePlayback();
    EXPECT_EQ(FView.playText, "Stop");
    FLog.clear();

    // A length not known yet: nothing happens.
    FPlayer->length = 0;
    FPlayer->time = 2900;
    FEditor->PlayTick();
    EXPECT_EQ(FView.pos, 2);
    FPlayer->length = 3000;

    // Stopped within 800 ms of the length: playback has ended.
    FPlayer->playing = false;
    FPlayer->time = 2850;
    FEditor->PlayTick();
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_FALSE(FEditor->PlayTimer().isActive());
    EXPECT_EQ(FView.playText, "Play");
    // The still frame comes back, grabbed anew where playback stopped.
    EXPECT_TRUE(FView.preview);
    EXPECT_TRUE(FEditor->Preview().armed());
    EXPECT_EQ(FView.pos, 2); // where the last tick put it
    EXPECT_EQ(FLog, QStringList({"Stop", "Reset"}));
    FLog.clear();

    // Out of playback mode a move arms the still-frame debounce.
    FView.setTrackPosition(3);
    EXPECT_TRUE(FEditor->Preview().armed());
    EXPECT_TRUE(FLog.isEmpty());
    FEditor->PlayTick(); // the play timer is off; a late tick changes nothing
    EXPECT_EQ(FView.pos, 3);

    // Play with the thumb at the end starts from 0, opening the player again.
    FEditor->TogglePlayback();
    EXPECT_EQ(FLog, QStringList({"Open(4242,movie.mp4)", "Play", "SetTime(0)"}));
    FLog.clear();

    // Loading again ends playback, stopping the player before its media goes.
    Load(Movie());
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_EQ(FLog.mid(0, 2), QStringList({"Stop", "Reset"}));
    EXPECT_FALSE(FPlayer->playing);

    // From a position inside the clip, Play starts there.
    FLog.clear();
    FView.setTrackPosition(1);
    FEditor->TogglePlayback();
    EXPECT_EQ(FLog, QStringList({"Open(4242,movie.mp4)", "Play", "SetTime(1000)"}));
}

TEST_F(ClipEditorTest, KeyframesShownAndNamedWhenMarking) {
    const QString sparse = *sDir + "/sparse.mp4";
    ASSERT_TRUE(MakeVideo(sparse, 6, 160, 120, true, 50)); // a keyframe every 2 s
    Load(sparse);
    ASSERT_EQ(FEditor->InFile(), sparse);
    EXPECT_TRUE(FEditor->Index().ok);
    EXPECT_EQ(FView.ticks, QVector<double>({0, 2, 4}));
    FView.setTrackPosition(1);
    FEditor->MarkStart();
    EXPECT_EQ(FView.statuses.last(),
              "Start marked: 00:01 (drag to end position and mark end) - between keyframes");
    FView.setTrackPosition(4);
    FEditor->MarkEnd();
    EXPECT_EQ(FView.statuses.last(),
              "Delete segment added [00:01 - 00:04] - start between keyframes, end on a keyframe");
    FEditor->MarkEnd(); // no start mark: the refusal stays as it was
    EXPECT_EQ(FView.statuses.last(), "Invalid range: mark start first and end must be after start");
    FView.setTrackPosition(2);
    FEditor->MarkStart();
    EXPECT_EQ(FView.statuses.last(),
              "Start marked: 00:02 (drag to end position and mark end) - on a keyframe");

    // A file that can't be read clears them.
    Load(*sDir + "/missing.mp4");
    EXPECT_TRUE(FView.ticks.isEmpty());
    EXPECT_FALSE(FEditor->Index().ok);
}

TEST_F(ClipEditorTest, OpenDialogPausesOnlyAPlayingPlayer) {
    OpenMovie();
    Open(); // cancelled
    EXPECT_EQ(FLog, QStringList({"Pause", "Play"}));
    EXPECT_TRUE(FEditor->Playing());
    FLog.clear();
    FEditor->TogglePlayback(); // paused by the user
    FLog.clear();
    Open(); // cancelled: stays paused
    EXPECT_TRUE(FLog.isEmpty());
    EXPECT_FALSE(FPlayer->playing);
}

TEST_F(ClipEditorTest, UnreadableFileOrNoFFmpeg) {
    OpenMovie();
    FEditor->Segments().append({0, 1});
    FView.files << *sDir + "/broken.mp4";
    Open();
    EXPECT_EQ(FView.statuses.last(), "Cannot read this file: broken.mp4");
    ASSERT_EQ(FView.boxes.size(), 1);
    EXPECT_EQ(FView.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(FView.boxes[0].text,
              "Cannot read this video file (no playable stream?):\r\n" + *sDir + "/broken.mp4");
    EXPECT_TRUE(FEditor->InFile().isEmpty());
    EXPECT_FALSE(FView.editing);
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_EQ(FEditor->Segments().rowCount(), 1);
    EXPECT_EQ(FLog, QStringList({"Pause", "Stop", "Reset", "Reset"}));

    // Without ffmpeg a good file can't be read either; nothing is run.
    ClipEnv env;
    int runs = 0;
    env.findFFmpeg = [] { return QString(); };
    env.onRun = [&runs](const Command&) { ++runs; };
    FEditor->SetClipEnv(env);
    Load(Movie());
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(FView.statuses.last(), "Cannot read this file: movie.mp4");
    EXPECT_EQ(FView.videoSize, "Video: ");
    EXPECT_EQ(FView.audioText, "Audio: -");
    EXPECT_EQ(FView.boxes.size(), 2);
}

TEST_F(ClipEditorTest, NoPlayerAvailable) {
    FLoadOk = false;
    FView.files << Movie();
    Open();
    ASSERT_EQ(FView.boxes.size(), 1);
    EXPECT_EQ(FView.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(FView.boxes[0].text, "VLC runtime (libvlc.so.5) not found. Please install VLC.");
    EXPECT_NE(FEditor->Player(), nullptr); // kept
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_TRUE(FView.preview); // the still frame stands in for playback
    // The next Play goes on to open, which loads again and fails.
    FEditor->TogglePlayback();
    ASSERT_EQ(FView.boxes.size(), 2);
    EXPECT_EQ(FView.boxes[1].text, "Failed to open video in VLC player");
    EXPECT_TRUE(FView.preview);
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_EQ(FView.playText, "Play");

    // Marking and the output folder still work.
    FView.setTrackPosition(1);
    FEditor->MarkStart();
    FView.setTrackPosition(2);
    FEditor->MarkEnd();
    EXPECT_EQ(FView.statuses.last(),
              "Delete segment added [00:01 - 00:02] - start on a keyframe, end on a keyframe");
    FEditor->RemoveMarks(); // no row selected
    EXPECT_EQ(FEditor->Segments().rowCount(), 1);
    FView.selected = 0;
    FEditor->RemoveMarks();
    EXPECT_EQ(FView.statuses.last(), "Delete segment mark removed");
    EXPECT_EQ(FEditor->Segments().rowCount(), 0);
    FView.folders << "/out";
    FEditor->ChooseOutputFolder();
    EXPECT_EQ(FView.titles.last(), "Select output directory");
    EXPECT_EQ(FView.out, "/out/movie_edited.mp4");
    FEditor->ChooseOutputFolder(); // cancelled
    EXPECT_EQ(FView.out, "/out/movie_edited.mp4");
}

TEST_F(ClipEditorTest, PlayerOpenFailsOnce) {
    FOpenOk = false;
    FView.files << Movie();
    Open();
    ASSERT_EQ(FView.boxes.size(), 1);
    EXPECT_EQ(FView.boxes[0].text, "Failed to open video in VLC player");
    EXPECT_TRUE(FView.preview); // the still frame stays
    EXPECT_FALSE(FEditor->Playing());
}

TEST_F(ClipEditorTest, CloseDestroysThePlayer) {
    OpenMovie();
    FEditor->WindowClosing();
    EXPECT_TRUE(FDestroyed);
    EXPECT_EQ(FEditor->Player(), nullptr);
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_FALSE(FEditor->PlayTimer().isActive());
    EXPECT_FALSE(FView.preview);
    EXPECT_EQ(FLog, QStringList({"Stop", "Reset"}));
}

TEST_F(ClipEditorTest, ClosedWhileLoadingStartsNoPlayback) {
    OpenMovie();
    FView.files << Movie();
    FEditor->ChooseAndOpen();
    ASSERT_TRUE(FEditor->Loading());
    // The window is closed while the worker still reads the video.
    FEditor->WindowClosing();
    WaitLoaded();
    EXPECT_TRUE(FDestroyed);
    EXPECT_EQ(FEditor->Player(), nullptr);
    EXPECT_FALSE(FEditor->Playing());
    EXPECT_FALSE(FEditor->PlayTimer().isActive());
    EXPECT_FALSE(FEditor->Preview().armed());
    EXPECT_FALSE(FView.preview);
    EXPECT_FALSE(FLog.contains("Play"));
    EXPECT_TRUE(FEditor->InFile().isEmpty());
}

TEST_F(ClipEditorTest, FilledInOutputsGetFreeNamesTypedOnesAsk) {
    const QString dir = NewTempDir(QStringLiteral("names"));
    const QString movie = dir + "/movie.mp4";
    ASSERT_TRUE(QFile::copy(Movie(), movie));
    Load(movie);
    ASSERT_EQ(FView.out, dir + "/moviecit.mp4");
    auto questions = [&] {
        int n = 0;
        for (const Box& b : FView.boxes)
            n += b.kind == BoxKind::Confirmation;
        return n;
    };

    // The name the editor filled in, exported twice; blanks around it still make it that name.
    Export();
    const QString first = FileDigest(dir + "/moviecit.mp4");
    FView.out = " " + FView.out + " ";
    Export();
    EXPECT_EQ(FView.statuses.last(), "Export complete: " + dir + "/moviecit (2).mp4");
    EXPECT_EQ(questions(), 0);
    EXPECT_EQ(FileDigest(dir + "/moviecit.mp4"), first);

    // A name typed over it is the user's choice: asked, and No writes nothing.
    FView.out = dir + "/moviecit (2).mp4";
    const QString second = FileDigest(dir + "/moviecit (2).mp4");
    FView.answers = {BoxAnswer::No};
    Export();
    ASSERT_EQ(questions(), 1);
    EXPECT_EQ(FView.boxes.back().text, dir + "/moviecit (2).mp4 already exists. Replace it?");
    EXPECT_EQ(FileDigest(dir + "/moviecit (2).mp4"), second);
    EXPECT_FALSE(QFile::exists(dir + "/moviecit (3).mp4"));

    // The folder button fills in a name of its own, which follows the free-name rule too.
    ASSERT_TRUE(QDir().mkpath(dir + "/picked"));
    FView.folders << dir + "/picked";
    FEditor->ChooseOutputFolder();
    ASSERT_EQ(FView.out, dir + "/picked/movie_edited.mp4");
    Export();
    Export();
    EXPECT_EQ(FView.statuses.last(), "Export complete: " + dir + "/picked/movie_edited (2).mp4");
    EXPECT_EQ(questions(), 1);
    EXPECT_EQ(QDir(dir + "/picked").entryList(QDir::Files, QDir::Name),
              (QStringList{"movie_edited (2).mp4", "movie_edited.mp4"}));
}

TEST_F(ClipEditorTest, NewerOpenReplacesAnOlderOneAndStopEndsIt) {
    const QString other = *sDir + "/other.mp4";
    ASSERT_TRUE(MakeVideo(other, 5, 160, 120));
    int finished = 0;
    QObject::connect(FEditor.get(), &ClipEditor::loadFinished, [&finished] { ++finished; });

    // Two opens in a row: the first one's results are never shown.
    FEditor->LoadFile(Movie());
    FEditor->LoadFile(other);
    EXPECT_EQ(FView.statuses.last(), "Reading other.mp4...");
    WaitLoaded();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(FEditor->InFile(), other);
    EXPECT_EQ(FEditor->Duration(), 5);
    EXPECT_EQ(FView.videoSize, "Video: 160x120");
    EXPECT_EQ(FView.max, 5);
    for (const QString& s : FView.statuses)
        EXPECT_FALSE(s.startsWith("Loaded movie.mp4")) << s.toStdString();

    // Stopped (Stop or Esc) while the probes run: nothing is loaded, editing stays off.
    FEditor->LoadFile(Movie());
    EXPECT_FALSE(FView.editing);
    FEditor->StopWork();
    WaitLoaded();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(FView.statuses.last(), "Reading movie.mp4 stopped");
    EXPECT_TRUE(FEditor->InFile().isEmpty());
    EXPECT_FALSE(FView.editing);
    EXPECT_TRUE(FView.boxes.empty());
    EXPECT_FALSE(FEditor->Preview().armed());

    // Export waits for a loaded video.
    FEditor->LoadFile(other);
    FEditor->StartExport();
    EXPECT_FALSE(FEditor->Exporting());
    WaitLoaded();
    EXPECT_EQ(FEditor->InFile(), other);
}
