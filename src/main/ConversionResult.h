#pragma once

#include <QString>
#include <QStringList>

namespace halvora {

// How a download or a file conversion ended. Its own type, so that it cannot be mistaken for
// the process runner's int codes (kRunStopped, kRunTimedOut, ...).
enum class ConversionResult {
    Done,              // ffmpeg ended with 0 and nothing was missing
    FFmpegMissing,     // ffmpeg was not found: nothing was run
    SegmentsMissing,   // ffmpeg ended with 0 but skipped segments it could not fetch or read
    Stalled,           // a download that made no progress for the stall limit was stopped
    OutputWriteFailed, // ffmpeg ended with 0 although writing its output failed (a full disk,
                       // a file-size limit): the file it leaves is a fragment
    Stopped,           // ended by Stop
    WindowClosed,      // the window went before ffmpeg was started
    Failed,            // ffmpeg failed, or the runner could not run it: see code
};

struct ConversionOutcome {
    ConversionResult result = ConversionResult::Done;
    // The number the messages show as "exit=N": ffmpeg's exit status, the runner's code, or
    // for this flow's own results the number they have always shown.
    int code = 0;

    bool done() const { return result == ConversionResult::Done; }
    bool is(ConversionResult AResult) const { return result == AResult; }
};

// How a whole job (a single conversion or a batch) ended, for callers that act on it rather
// than show it: the command line's exit code and the paths it prints.
enum class JobEnd {
    Done,               // every output was written
    Failed,             // nothing (or, in a batch, not everything) was written
    DownloadIncomplete, // a download failed; what it got is kept (kept)
    RecordingStopped,   // Stop ended a live recording, and what was recorded was converted
    Stopped,            // Stop ended the job; finished outputs stay (written)
};

struct JobReport {
    JobEnd end = JobEnd::Failed;
    QStringList written; // the MP4s the job wrote
    QString kept;        // a partial download (or a recording's TS) left for the user
};

// The end of a job whose last step ended with AOutcome; ADone is what its success means.
JobEnd JobEndOf(const ConversionOutcome& AOutcome, JobEnd ADone);

// The outcome of a run that ended with ARunCode (ffmpeg's exit status or the runner's code).
ConversionOutcome OutcomeOfRun(int ARunCode);
// The outcome of one of the flow's own results besides a run's.
ConversionOutcome OutcomeOf(ConversionResult AResult);

} // namespace halvora
