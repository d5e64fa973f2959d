#pragma once

#include "Command.h"
#include "HlsSource.h"
#include "HlsSubtitles.h"
#include "StreamList.h"

#include <QString>
#include <QStringList>

namespace halvora {

// The templates of the download and the conversion. A plan from the input's stream listing
// names every stream to keep; without one the conversion keeps every video (no attached
// pictures) and audio stream and the download takes ffmpeg's own choice.
// AStreamTags: output options that put back tags ffmpeg's HLS reader does not pass on.
// ALiveCopy: AUrl is a growing local copy of a live stream (see StreamInputs::liveCopy).
Command DownloadCommand(const QString& AFFmpeg, const QString& AUrl, const QString& ASaveTo,
                        const StreamPlan& APlan = {}, const QStringList& AStreamTags = {},
                        bool ALiveCopy = false);
// ASubs: WebVTT files added as inputs of their own, each kept as a mov_text track with its
// language, name and default flag.
Command ConvertCommand(const QString& AFFmpeg, const QString& AInFile, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan = {},
                       const QList<SubtitleFile>& ASubs = {});
// "ffmpeg -i" with no output: lists the input's streams on stderr and ends with 1.
Command ProbeCommand(const QString& AFFmpeg, const QString& AInput, bool AAllowAll);
// The same for a variant of a master playlist: with separate audio, two inputs whose video
// and audio are both kept; with one input, the plan's streams as above.
Command DownloadCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& ASaveTo,
                        const StreamPlan& APlan = {}, const QStringList& AStreamTags = {});
Command ConvertCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan = {},
                       const QList<SubtitleFile>& ASubs = {});

} // namespace halvora
