#pragma once

#include "AppPaths.h"

#include "Command.h"
#include "ConversionResult.h"
#include "ConvertView.h"
#include "FFmpegCommands.h"
#include "HlsSource.h"
#include "HlsSubtitles.h"
#include "OutputNames.h"
#include "Process.h"
#include "SegmentFetcher.h"
#include "StreamList.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace halvora {

class OwnedTempDir;
class StreamFetch;
struct Notice;

// How long a stopped link download's ffmpeg may take on its own before it is stopped again.
constexpr int kLiveStopAgainMs = 1000;
// How long a recording may take to finish on its own once this program has died.
constexpr int kRecordingDeathGraceMs = 700;

// Runs a command; the default is RunCommand.
using ProcessRunner = std::function<int(const Command&, const RunOptions&)>;
// Locates ffmpeg; the default is FindFFmpeg.
using FFmpegFinder = std::function<QString()>;

// Single and batch conversion of the main window, kept apart from the widgets.
// Nothing is kept between runs.
class ConversionFlow {
public:
    // AProbeRunner runs the stream listings (default RunCommand), apart from ARunner so that
    // the runs a test counts are the conversions themselves.
    explicit ConversionFlow(ConvertView& AView, ProcessRunner ARunner = {},
                            FFmpegFinder AFinder = {}, ProcessRunner AProbeRunner = {});

    // Saves the stream of a link as one TS file; of a master playlist, only the variant the
    // view's quality choice names (the status line names it). AMissing (optional) receives the
    // number of segments ffmpeg skipped; any skipped segment gives SegmentsMissing. A download
    // during which ffmpeg reports nothing for the stall limit is stopped: Stalled.
    // ASubtitlesLost (optional) is set when the playlist offers subtitles the TS cannot take:
    // renditions ffmpeg's HLS reader skips ("Can't support the subtitle") or text subtitles.
    // ASubtitles (optional) receives the chosen variant's subtitle renditions, which are read
    // apart (SaveSubtitles) since ffmpeg does not read them.
    ConversionOutcome DownloadStream(const QString& AUrl, const QString& ASaveTo,
                                     int* AMissing = nullptr, bool* ASubtitlesLost = nullptr,
                                     QList<HlsRendition>* ASubtitles = nullptr);
    // After DownloadStream: each rendition read into one WebVTT file in ADir, its cues placed on
    // the saved TS's timeline and, when ALimitMs is positive, none from there on. The names of
    // those that could not be read go to ALost.
    // AFetch reads the playlists and segments; AStartPts (90 kHz, -1 when unknown) is where the
    // saved video begins on the stream's clock.
    QList<SubtitleFile> SaveSubtitles(const QList<HlsRendition>& ARenditions, qint64 ALimitMs,
                                      const QString& ADir, QStringList* ALost,
                                      const PlaylistFetcher& AFetch, qint64 AStartPts);
    // Converts one input into AOutFile, with one re-encoding retry when fast mode fails.
    // ALeftOut (optional) receives the kinds of stream that MP4 cannot hold and were left out.
    // A saved master playlist's chosen variant keeps its WebVTT subtitle renditions as mov_text;
    // ASubtitlesNote (optional) receives the sentence about those that were not kept, empty
    // when none was lost.
    ConversionOutcome ConvertFile(const QString& AInFile, const QString& AOutFile,
                                  int* AMissing = nullptr, QStringList* ALeftOut = nullptr,
                                  QString* ASubtitlesNote = nullptr);

    // Lists the input's streams with ffmpeg and plans what an MP4 keeps; unknown (plan.known
    // false) when ffmpeg lists nothing. A positive AStallMs stops a listing that stays silent;
    // a Stop ends it too.
    StreamPlan PlanStreams(const QString& AInput, bool AAllowAll, const QString& AWorkDir,
                           int AStallMs = 0, QString* AListing = nullptr);

    // Converts what the input field names (a link or a file) into the output folder.
    void ConvertInput();
    // Converts the saved stream of every folder under the root folder.
    void ConvertBatch();

    // Any thread: ends the running job. A link's recording is finished and what was recorded is
    // converted (a second stop ends that conversion too); a conversion is ended without retry
    // and its partial MP4 removed; a batch skips its remaining folders.
    void RequestStop();
    // Before a job: a stop of an earlier job no longer counts.
    void ResetStop();
    bool stopRequested() const;
    // How the last ConvertInput or ConvertBatch ended.
    const JobReport& lastJob() const { return FJob; }

    // How long a download may go without progress from ffmpeg (it reports progress about twice a
    // second while data arrives). Default 60 s, longer than any live playlist's refresh.
    void setStallLimitMs(int AMs) { FStallMs = AMs; }
    int stallLimitMs() const { return FStallMs; }

    // How a link's segments are fetched (parallel transfers, retries and their waits); the
    // request headers always come from the view.
    void setFetchRules(FetchRules ARules) { FFetchRules = std::move(ARules); }

    // How playlists and subtitle segments are read; the default is FetchPlaylist, ended by Stop.
    void setPlaylistFetcher(PlaylistFetcher AFetch) { FFetch = std::move(AFetch); }

private:
    // What stops a run: the flow's stop, unless a token of its own is given (onWait, called
    // while the run waits, may request it).
    struct RunStop {
        std::shared_ptr<StopToken> token;
        std::function<bool()> onWait;
    };
    // AStopGraceMs: how long a stopped ffmpeg may take to finish its output (short when the
    // output is removed after a stop anyway); AStopAgainMs as RunOptions::stopAgainMs.
    ConversionOutcome run(const Command& ACmd, const QString& AWorkDir, int* AMissing,
                          const QString& ALabel, int AStallMs = 0,
                          int AStopGraceMs = kDiscardStopGraceMs, int AStopAgainMs = -1,
                          const RunStop& AStop = {});
    bool ensureFolder(const QString& ADir);
    // Free names for the outputs of one run, reserved on disk; empty (and reported) on failure.
    QStringList reserveOutputs(const QStringList& APaths);
    QStringList segmentTags(const QString& AListing, const StreamPlan& APlan);
    // ffmpeg saves the stream AIn names (links, or the fetched local copy) as one TS.
    ConversionOutcome saveStream(const QString& AFFmpeg, const StreamInputs& AIn,
                                 const QString& ASaveTo, int* AMissing, bool* ASubtitlesLost,
                                 const RunStop& AStop = {});
    // How fetchStream dealt with a link.
    enum class FetchPath {
        None,     // the playlists could not be read so: AIn is as it was, ffmpeg reads the link
        Fetched,  // fetched into the working folder: AIn names the local playlists
        Recorded, // a live stream, fetched and recorded into the TS: the outcome is the download's
    };
    // The link fetch (LinkFetch.cpp): the media playlists of AIn fetched into a working folder
    // beside ASaveTo (FWorkDir). A live stream is recorded by ffmpeg from there as it arrives.
    ConversionOutcome fetchStream(const QString& AFFmpeg, StreamInputs& AIn, const QString& ASaveTo,
                                  int* AMissing, bool* ASubtitlesLost, FetchPath* APath);
    ConversionOutcome afterFetch(const ConversionOutcome& AFetch, const ConversionOutcome& ASaved,
                                 int AFetchMissing, int* AMissing);
    // A live stream's copy, opened and not fetched yet; ffmpeg reads its local playlists.
    struct LiveCopy {
        StreamFetch& fetch;
        QStringList playlists;
        std::atomic<bool>& recorderEnded; // ends the fetch once ffmpeg has ended on its own
    };
    // The live recording (LiveRecording.cpp): the copy fetched on a thread of its own while
    // ffmpeg records it into ASaveTo; Stop ends the copy, and ffmpeg then reads it to its end.
    ConversionOutcome recordLive(LiveCopy& ACopy, const QString& AFFmpeg, StreamInputs& AIn,
                                 const QString& ASaveTo, int* AMissing, bool* ASubtitlesLost);
    // After a conversion that has everything: the fetched copy goes.
    void dropWorkFolder();
    // ConvertFile with the label its progress is shown under.
    ConversionOutcome ConvertFileAs(const QString& AInFile, const QString& AOutFile,
                                    const QString& ALabel, int* AMissing,
                                    QStringList* ALeftOut = nullptr,
                                    const QList<SubtitleFile>& ASubs = {},
                                    QString* ASubtitlesNote = nullptr);
    // A link's TS into its MP4, with the subtitles read apart; when they stand in the way, once
    // more without them (ASubs is then emptied, their names added to ALost).
    ConversionOutcome ConvertLinkTs(const QString& ATs, const QString& AMp4, QStringList* ALeftOut,
                                    QList<SubtitleFile>& ASubs, QStringList* ALost);
    std::shared_ptr<StopToken> stopToken() const;
    // The status line and the box of one outcome.
    void tell(BoxKind AKind, const Notice& ANotice);

    // The single conversion (SingleConversion.cpp, LinkConversion.cpp).
    struct LinkRun;
    // The output folder as typed, else as the user chooses it; empty when none was chosen.
    QString outputFolder();
    bool checkOutputFolder(const QString& AOut);
    void convertLocalFile(const QString& AInput, const QString& AMp4);
    void convertLink(const QString& AInput, const QString& AOut, const QString& AMp4);
    QList<SubtitleFile> saveLinkSubtitles(LinkRun& ARun, qint64 ALimitMs);
    // A recording ended by Stop: what was recorded is converted.
    void convertRecording(LinkRun& ARun);
    void reportDownloadFailure(const LinkRun& ARun, const ConversionOutcome& AOutcome);
    void convertDownload(LinkRun& ARun);

    // The file conversion (FileConversion.cpp).
    struct FileRun;
    void prepareFileRun(FileRun& ARun, const QString& AInFile, const QString& AOutFile);
    bool removeIfStopped(const FileRun& ARun, const ConversionOutcome& AOutcome);
    bool saveLocalSubtitles(FileRun& ARun, const OwnedTempDir& ADir);
    ConversionOutcome runAttempts(FileRun& ARun, bool& AWindowGone);

    // The batch (BatchConversion.cpp).
    struct BatchTally;
    // False when the window has gone and the batch ends without a word.
    bool convertBatchItem(BatchTally& ATally, const QString& AInput, const QString& AName,
                          const QString& AOut);
    void reportBatch(const BatchTally& ATally, const QString& AOut);
    // Shows a run's progress: percent on the bar between FBarBase and FBarBase + 100, position,
    // duration and time left (or recorded time and size) in the status line.
    void report(const QString& ALabel, const FFmpegProgress& AProgress, const ProgressText& AText);

    ConvertView& FView;
    ProcessRunner FRunner;
    FFmpegFinder FFinder;
    ProcessRunner FProbeRunner;
    PlaylistFetcher FFetch;
    FetchRules FFetchRules;
    RequestHeaders FHeaders;     // the current link's, read from the view as its download starts
    QString FWorkDir;            // the current link's fetched copy; empty when ffmpeg read the link
    int FWorkSegments = 0;       // the segments of FWorkDir that can be read
    bool FWorkResumable = false; // FWorkDir lacks segments a later Convert can still fetch
    int FStallMs = 60000;
    mutable std::mutex FStopLock;
    std::shared_ptr<StopToken> FStop = std::make_shared<StopToken>();
    int FBarBase = 0;         // where the bar stands when the current run begins
    std::int64_t FLastMs = 0; // the last position ffmpeg reported in the current run
    // Where the first input of the current run begins on its own clock (90 kHz), as ffmpeg
    // reports it ("start: 1.400000"); -1 when it did not.
    qint64 FInputStartPts = -1;
    bool FBarMoved = false; // the current run has moved the bar
    JobReport FJob;
};

} // namespace halvora
