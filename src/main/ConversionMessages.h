#pragma once

#include <QString>
#include <QStringList>

#include "ConversionResult.h"

namespace halvora {

// What the single and batch conversions tell the user: the status line and, where there is
// one, the text of the box that follows.
struct Notice {
    QString status;
    QString box;
};

inline const QString kFFmpegNotFound = QStringLiteral("ffmpeg not found");
inline const QString kFFmpegNotFoundBox =
    QStringLiteral("ffmpeg not found. Please install ffmpeg and add it to PATH");
// A saved master playlist's subtitle renditions, which ffmpeg does not read.
inline const QString kPlaylistSubtitlesLost =
    QStringLiteral("The playlist's subtitle tracks could not be saved and were not kept");
inline const QString kLinkSubtitlesLost =
    QStringLiteral("The link's subtitle tracks could not be saved and were not kept");
inline const QString kNoOutputFolder = QStringLiteral("Please select output directory");

// ASentence alone when every rendition was lost (AAllLost, or none kept), else with the names.
QString SubtitlesNote(const QString& ASentence, const QStringList& ALost, qsizetype AKept,
                      bool AAllLost);

Notice NoInputNotice();
Notice OutputFolderQuestion(const QString& ADocuments); // status unused: a question
Notice CannotCreateFolderNotice(const QString& AFolder);
Notice MissingFolderNotice(const QString& AFolder);
Notice CannotCreateOutputNotice(const QString& AError);
Notice SameFileNotice(const QString& AMp4);
// ANotes: sentences about streams that were not kept (empty ones are skipped).
Notice DoneNotice(const QString& AMp4, const QStringList& ANotes);

// A link whose recording was stopped at AAt and then converted.
Notice RecordingDoneNotice(const QString& AAt, const QString& AMp4, const QString& ANote);
QString RecordingConversionStoppedStatus(const QString& AAt, const QString& ATs);
Notice RecordingConversionFailedNotice(const QString& AAt, int ACode, const QString& ATs);
// A download that ended with AOutcome; AKept: a partial TS is left at ATs; AWorkDir: the
// fetched segments kept for the next Convert (empty: none).
Notice DownloadFailedNotice(const ConversionOutcome& AOutcome, int AMissing, int AStallMs,
                            const QString& ATs, bool AKept, const QString& AWorkDir = {});
// Where the fetched segments of an unfinished link wait for the next Convert.
QString FetchedKeptSentence(const QString& AWorkDir);
Notice LinkConversionFailedNotice(int ACode, const QString& ATs);
Notice FileIncompleteNotice(int AMissing, const QString& AMp4);
Notice FileConversionFailedNotice(int ACode);

Notice NoRootNotice();
Notice NoSavedStreamNotice();
Notice BatchStoppedNotice(int ASucceeded, int AFailed, int ASkipped, const QString& AOut);
// AWanted and ARenamed pair the names of outputs saved under a new name; ALeftOut: the kinds of
// stream left out; ASubsLost: the folders whose playlist's subtitles were not kept.
Notice BatchDoneNotice(int ASucceeded, int ATotal, const QString& AOut, const QStringList& AWanted,
                       const QStringList& ARenamed, const QStringList& ALeftOut,
                       const QStringList& ASubsLost);

} // namespace halvora
