#include "KeyframePictures.h"

#include "Process.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace halvora {

namespace {

QString PicturePath(const QString& ADir, int ANumber) {
    return ADir + QStringLiteral("key_%1.jpg").arg(ANumber, 6, 10, QLatin1Char('0'));
}

} // namespace

Command KeyframePicturesCommand(const QString& AFFmpeg, const QString& AInput, const QString& ADir,
                                double AStrideSec) {
    QString filters = QStringLiteral("scale=480:-2,showinfo");
    if (AStrideSec > 0)
        filters.prepend(QStringLiteral("select='isnan(prev_selected_t)+gte(t-prev_selected_t,%1)',")
                            .arg(AStrideSec, 0, 'f', 3));
    // The picture writer reads '%' as a number pattern: the folder's own are doubled.
    QString pattern = ADir;
    pattern.replace(QLatin1Char('%'), QStringLiteral("%%"));
    pattern += QStringLiteral("key_%06d.jpg");
    // Only keyframes are decoded, so the run costs a small part of a full decode, on one thread
    // so that playback starting beside it keeps a core. Each picture is written under a
    // temporary name and renamed, so a file that exists is whole.
    return Command(AFFmpeg)
        .args({QStringLiteral("-y"), QStringLiteral("-threads"), QStringLiteral("1"),
               QStringLiteral("-skip_frame"), QStringLiteral("nokey"), QStringLiteral("-i")})
        .path(AInput)
        .args({QStringLiteral("-an"), QStringLiteral("-sn"), QStringLiteral("-dn"),
               QStringLiteral("-vf"), filters, QStringLiteral("-fps_mode"),
               QStringLiteral("passthrough"), QStringLiteral("-q:v"), QStringLiteral("5"),
               QStringLiteral("-f"), QStringLiteral("image2"), QStringLiteral("-atomic_writing"),
               QStringLiteral("1"), QStringLiteral("-start_number"), QStringLiteral("0")})
        .path(pattern);
}

std::optional<KeyframePictureLine> ReadPictureLine(const QString& ALine) {
    // ffmpeg's progress may share the line (it ends its own with CR).
    static const QRegularExpression re(QStringLiteral(
        R"(Parsed_showinfo_\d+ @ [^\]]*\] n:\s*(\d+) pts:\s*-?\d+ pts_time:(-?[0-9.e+-]+))"));
    const QRegularExpressionMatch m = re.match(ALine);
    if (!m.hasMatch())
        return std::nullopt;
    bool okN = false;
    bool okT = false;
    KeyframePictureLine line{m.captured(1).toInt(&okN), m.captured(2).toDouble(&okT)};
    if (!okN || !okT)
        return std::nullopt;
    return line;
}

void KeyframePictures::start(const QString& AFFmpeg, const QString& AVideo,
                             const QVector<double>& AKeyframes, const QString& ADir, int AStallMs) {
    Run run{AFFmpeg, AVideo, ADir, 0, AStallMs};
    if (AKeyframes.size() > kMaxPictures)
        run.strideSec = (AKeyframes.last() - AKeyframes.first()) / kMaxPictures;
    clear();
    if (AFFmpeg.isEmpty() || AVideo.isEmpty())
        return;
    if (FJob.running())
        FPending = run; // begins once the stopped run has ended
    else
        begin(run);
}

void KeyframePictures::clear() {
    FPending.reset();
    ++FGeneration; // whatever the running job still hands over is dropped
    FSecs.clear();
    FDone = false;
    FJob.requestStop();
}

void KeyframePictures::begin(const Run& ARun) {
    FDir = ARun.dir;
    QDir(FDir).removeRecursively();
    if (!QDir().mkpath(FDir))
        return;
    const quint64 generation = ++FGeneration;
    const Command cmd = KeyframePicturesCommand(ARun.ffmpeg, ARun.video, FDir, ARun.strideSec);
    FJob.start<bool>(
        [this, cmd, generation, stall = ARun.stallMs](const WorkerJob::Context& AContext) {
            RunOptions o;
            o.stallMs = stall;
            o.stop = AContext.stop;
            o.stopGraceMs = kDiscardStopGraceMs;
            o.onStderrLine = [&](const QString& ALine) {
                if (const auto line = ReadPictureLine(ALine))
                    AContext.gate->Queue([this, generation, l = *line] { add(generation, l); });
            };
            return RunCommand(cmd, o) == 0;
        },
        [this, generation](const bool& AOk) { ended(generation, AOk); });
}

void KeyframePictures::add(quint64 AGeneration, const KeyframePictureLine& ALine) {
    // Numbers come in order; a gap would misplace every later picture, so it ends the list.
    if (AGeneration == FGeneration && ALine.number == FSecs.size())
        FSecs.append(ALine.sec);
}

void KeyframePictures::ended(quint64 AGeneration, bool AOk) {
    if (AGeneration == FGeneration)
        FDone = AOk;
    if (FPending) {
        const Run next = *FPending;
        FPending.reset();
        begin(next);
    }
}

QString KeyframePictures::pictureFor(double ASec) const {
    // Until the run has gone past ASec, a keyframe nearer to it may still come.
    if (FSecs.isEmpty() || (!FDone && FSecs.last() <= ASec))
        return {};
    // Positions are whole milliseconds; a keyframe within half of one is "at" ASec.
    const auto it = std::upper_bound(FSecs.begin(), FSecs.end(), ASec + 0.0005);
    const int n = it == FSecs.begin() ? 0 : int(it - FSecs.begin()) - 1;
    const QString path = PicturePath(FDir, n);
    return QFile::exists(path) ? path : QString();
}

} // namespace halvora
