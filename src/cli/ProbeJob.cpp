#include "CliJobs.h"
#include "ExitCodes.h"
#include "MediaIndex.h"
#include "MediaProbe.h"
#include "StopSignals.h"
#include "StreamList.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>

namespace halvora::cli {

namespace {

// "Duration: 00:01:02.50" of ffmpeg's listing in seconds, fraction kept; -1 when absent.
double ListedSeconds(const QString& AListing) {
    static const QRegularExpression kDuration(
        QStringLiteral(R"(Duration: (\d+):(\d\d):(\d\d(?:\.\d+)?))"));
    const QRegularExpressionMatch m = kDuration.match(AListing);
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toInt() * 3600.0 + m.captured(2).toInt() * 60.0 + m.captured(3).toDouble();
}

QJsonArray StreamsOf(const QString& AListing) {
    QJsonArray streams;
    for (const StreamEntry& s : ParseStreamList(AListing)) {
        QJsonObject o;
        o.insert(QStringLiteral("index"), s.index);
        o.insert(QStringLiteral("type"), s.kind.toLower());
        o.insert(QStringLiteral("codec"), s.codec);
        o.insert(QStringLiteral("language"), s.language);
        if (s.kind == QLatin1String("Video")) {
            o.insert(QStringLiteral("width"), s.width);
            o.insert(QStringLiteral("height"), s.height);
        }
        streams.append(o);
    }
    return streams;
}

QJsonArray KeyframesOf(const MediaIndex& AIndex) {
    QJsonArray keyframes;
    for (const double s : KeyframeSeconds(AIndex))
        keyframes.append(std::round(s * 1000) / 1000);
    return keyframes;
}

} // namespace

int RunProbe(const CliOptions& AOptions, ProgressPrinter& APrinter) {
    auto stop = std::make_shared<StopToken>();
    const StopOnSignal onSignal([stop] { stop->request(); });
    ClipEnv env;
    env.workDir = MakeClipWorkDir();
    env.stop = stop;
    const QString& input = AOptions.input;
    APrinter.status(QStringLiteral("Probing ") + input);
    ProbeDuration(input, env); // leaves ffmpeg's listing in duration.txt
    const QString listing = ReadTextFile(env.dir() + QStringLiteral("duration.txt"));
    const QJsonArray streams = StreamsOf(listing);
    if (streams.isEmpty()) {
        APrinter.message(BoxKind::Error, QStringLiteral("Cannot read the video: ") + input);
        return stop->requested() ? kExitSignalled : kExitFailed;
    }
    QJsonObject o;
    o.insert(QStringLiteral("file"), input);
    o.insert(QStringLiteral("duration"), ListedSeconds(listing));
    o.insert(QStringLiteral("bytes"), QFileInfo(input).size());
    o.insert(QStringLiteral("size"), ShownVideoSize(listing));
    o.insert(QStringLiteral("streams"), streams);
    o.insert(QStringLiteral("keyframes"), KeyframesOf(ReadMediaIndex(input, env)));
    const QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    std::fflush(stdout);
    return stop->requested() ? kExitSignalled : kExitDone;
}

} // namespace halvora::cli
