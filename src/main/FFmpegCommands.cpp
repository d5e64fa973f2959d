#include "FFmpegCommands.h"

#include "Encoding.h"

namespace halvora {

namespace {

void MapStreams(Command& ACmd, const QList<int>& AIndexes) {
    for (int i : AIndexes)
        ACmd.arg("-map").arg(QStringLiteral("0:%1").arg(i));
}

// A growing local copy is recorded from its first segment on.
void AddHlsInput(Command& ACmd, const QString& AInput, bool ALiveCopy) {
    if (ALiveCopy)
        ACmd.arg("-live_start_index").arg("0");
    ACmd.arg("-allowed_extensions").arg("ALL").arg("-i").path(AInput);
}

// Every packet reaches the file as it is muxed, not when ffmpeg's write buffer fills: a
// recording stopped while the reader waits for a live segment is then complete on disk.
void AddTsOutput(Command& ACmd, const QString& ASaveTo) {
    ACmd.arg("-c").arg("copy").arg("-flush_packets").arg("1").arg("-f").arg("mpegts").path(ASaveTo);
}

} // namespace

Command DownloadCommand(const QString& AFFmpeg, const QString& AUrl, const QString& ASaveTo,
                        const StreamPlan& APlan, const QStringList& AStreamTags, bool ALiveCopy) {
    Command c(AFFmpeg);
    c.arg("-y");
    AddHlsInput(c, AUrl, ALiveCopy);
    // A TS holds everything but text subtitles, so the conversion sees what the source had.
    if (APlan.known && !(APlan.video.isEmpty() && APlan.audio.isEmpty())) {
        MapStreams(c, APlan.video);
        MapStreams(c, APlan.audio);
        MapStreams(c, APlan.other);
        c.args(AStreamTags);
    }
    AddTsOutput(c, ASaveTo);
    return c;
}

namespace {

// Each subtitle file as an input of its own.
void AddSubtitleInputs(Command& ACmd, const QList<SubtitleFile>& ASubs) {
    for (const SubtitleFile& s : ASubs)
        ACmd.arg("-i").path(s.path);
}

// Maps the subtitle files, which follow AFirstInput - 1 inputs and AKeptSubs subtitle streams
// kept from them, with their language, name and default flag.
void MapSubtitleInputs(Command& ACmd, const QList<SubtitleFile>& ASubs, int AFirstInput,
                       qsizetype AKeptSubs) {
    for (qsizetype i = 0; i < ASubs.size(); ++i)
        ACmd.arg("-map").arg(QStringLiteral("%1:s").arg(AFirstInput + i));
    for (qsizetype i = 0; i < ASubs.size(); ++i) {
        const QString n = QString::number(AKeptSubs + i);
        if (!ASubs[i].language.isEmpty())
            ACmd.arg("-metadata:s:s:" + n).arg(QStringLiteral("language=") + ASubs[i].language);
        if (!ASubs[i].name.isEmpty())
            ACmd.arg("-metadata:s:s:" + n)
                .arg(QStringLiteral("title=") + ASubs[i].name)
                .arg("-metadata:s:s:" + n)
                .arg(QStringLiteral("handler_name=") + ASubs[i].name);
        ACmd.arg("-disposition:s:" + n).arg(ASubs[i].isDefault ? "default" : "0");
    }
}

// Stream copy or H.264/AAC (text subtitles as mov_text), into an MP4 that can play while it
// loads.
void AddMp4Output(Command& ACmd, const QString& AOutFile, bool AFast, bool ATextSubs = false) {
    if (AFast)
        ACmd.arg("-c").arg("copy");
    else
        ACmd.args(H264AacArgs(EncodePreset::Medium));
    if (ATextSubs)
        ACmd.arg("-c:s").arg("mov_text");
    ACmd.arg("-movflags").arg("+faststart").path(AOutFile);
}

} // namespace

Command ConvertCommand(const QString& AFFmpeg, const QString& AInFile, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan,
                       const QList<SubtitleFile>& ASubs) {
    Command c(AFFmpeg);
    c.arg("-y");
    if (AAllowAll)
        c.arg("-allowed_extensions").arg("ALL");
    c.arg("-i").path(AInFile);
    AddSubtitleInputs(c, ASubs);
    const bool planned = APlan.known && !(APlan.video.isEmpty() && APlan.audio.isEmpty());
    if (planned) {
        MapStreams(c, APlan.video);
        MapStreams(c, APlan.audio);
        MapStreams(c, APlan.textSubs);
    } else {
        // Without ffmpeg's own choice of one audio stream; "V" leaves out attached pictures.
        c.arg("-map").arg("0:V?").arg("-map").arg("0:a?");
    }
    MapSubtitleInputs(c, ASubs, 1, planned ? APlan.textSubs.size() : 0);
    AddMp4Output(c, AOutFile, AFast, (planned && !APlan.textSubs.isEmpty()) || !ASubs.isEmpty());
    return c;
}

namespace {

// Both inputs read with the HLS reader's options; every video and audio stream of the variant
// is kept, and the audio of its rendition. The rendition comes first among the audio tracks, so
// its language (which ffmpeg only learns from the master playlist) can be put back.
void AddVariantInputs(Command& ACmd, const StreamInputs& AIn, bool AAllowAll,
                      const QList<SubtitleFile>& ASubs = {}) {
    for (const QString& in : {AIn.video, AIn.audio}) {
        if (AAllowAll)
            AddHlsInput(ACmd, in, AIn.liveCopy);
        else
            ACmd.arg("-i").path(in);
    }
    AddSubtitleInputs(ACmd, ASubs);
    ACmd.arg("-map").arg("0:v?").arg("-map").arg("1:a").arg("-map").arg("0:a?");
    // MP4 keeps three-letter codes only; HLS mostly names languages with two.
    const QString language = Mp4Language(AIn.audioLanguage);
    if (!language.isEmpty())
        ACmd.arg("-metadata:s:a:0").arg(QStringLiteral("language=") + language);
}

} // namespace

Command DownloadCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& ASaveTo,
                        const StreamPlan& APlan, const QStringList& AStreamTags) {
    if (AIn.audio.isEmpty())
        return DownloadCommand(AFFmpeg, AIn.video, ASaveTo, APlan, AStreamTags, AIn.liveCopy);
    Command c(AFFmpeg);
    c.arg("-y");
    AddVariantInputs(c, AIn, true);
    AddTsOutput(c, ASaveTo);
    return c;
}

Command ConvertCommand(const QString& AFFmpeg, const StreamInputs& AIn, const QString& AOutFile,
                       bool AFast, bool AAllowAll, const StreamPlan& APlan,
                       const QList<SubtitleFile>& ASubs) {
    if (AIn.audio.isEmpty())
        return ConvertCommand(AFFmpeg, AIn.video, AOutFile, AFast, AAllowAll, APlan, ASubs);
    Command c(AFFmpeg);
    c.arg("-y");
    AddVariantInputs(c, AIn, AAllowAll, ASubs);
    MapSubtitleInputs(c, ASubs, 2, 0);
    AddMp4Output(c, AOutFile, AFast, !ASubs.isEmpty());
    return c;
}

Command ProbeCommand(const QString& AFFmpeg, const QString& AInput, bool AAllowAll) {
    Command c(AFFmpeg);
    c.arg("-hide_banner");
    if (AAllowAll)
        c.arg("-allowed_extensions").arg("ALL");
    return c.arg("-i").path(AInput);
}
} // namespace halvora
