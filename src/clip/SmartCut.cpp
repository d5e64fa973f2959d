#include "SmartCut.h"

#include "ClipTime.h"

#include "CutCommands.h"
#include "Process.h"
#include "SourceTags.h"
#include "TrackMatrix.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace halvora {

namespace {

constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();

// Reorder delay of the input in frames: how far decoding runs ahead of display. The n-th
// packet is decoded when the n-th picture in display order would be shown, delay frames later.
int ReorderDelay(const MediaIndex& AIndex) {
    const std::int64_t frame = AIndex.frameUs();
    if (frame <= 0)
        return 0;
    const qsizetype n = AIndex.packets.size();
    QVector<std::int64_t> shown;
    shown.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        shown << AIndex.toUs(AIndex.packets[i].pts);
    std::sort(shown.begin(), shown.end());
    std::int64_t most = 0;
    for (qsizetype i = 0; i < n; ++i)
        most = std::max(most, shown[i] - AIndex.toUs(AIndex.packets[i].dts));
    return static_cast<int>((most + frame / 2) / frame);
}

QString H264Profile(const QString& AProfile) {
    if (AProfile == QLatin1String("Constrained Baseline") || AProfile == QLatin1String("Baseline"))
        return QStringLiteral("baseline");
    if (AProfile == QLatin1String("Main"))
        return QStringLiteral("main");
    if (AProfile == QLatin1String("High"))
        return QStringLiteral("high");
    if (AProfile == QLatin1String("High 10"))
        return QStringLiteral("high10");
    if (AProfile == QLatin1String("High 4:2:2"))
        return QStringLiteral("high422");
    if (AProfile == QLatin1String("High 4:4:4 Predictive"))
        return QStringLiteral("high444");
    return {};
}

QString HevcProfile(const QString& AProfile) {
    if (AProfile == QLatin1String("Main"))
        return QStringLiteral("main");
    if (AProfile == QLatin1String("Main 10"))
        return QStringLiteral("main10");
    return {};
}

// Exact duration of AFrames frames, microseconds.
std::int64_t FramesUs(const MediaIndex& AIndex, std::int64_t AFrames) {
    return (AFrames * AIndex.rateDen * 1000000 + AIndex.rateNum / 2) / AIndex.rateNum;
}

std::int64_t AudioFramesUs(const MediaIndex& AIndex, std::int64_t AFrames) {
    const std::int64_t rate = AIndex.audioSampleRate;
    return (AFrames * AIndex.audioFrameSamples() * 1000000 + rate / 2) / rate;
}

// A seek position for ffmpeg's -ss: microseconds after the file's start, never negative.
std::int64_t SeekUs(const MediaIndex& AIndex, std::int64_t AStreamUs) {
    return std::max<std::int64_t>(0, AStreamUs - AIndex.startUs);
}

// Like every export run: no time limit, ended by Stop or the stall watchdog.
int Run(const Command& ACmd, const ClipEnv& AEnv) {
    if (AEnv.onRun)
        AEnv.onRun(ACmd);
    return RunCommand(ACmd, AEnv.exportRunOptions());
}

// The pieces and lists of one exact cut: removed when it ends, whether it completed, failed
// or was stopped, so the working folder holds nothing of it afterwards.
class WorkFiles {
public:
    WorkFiles() = default;
    WorkFiles(const WorkFiles&) = delete;
    WorkFiles& operator=(const WorkFiles&) = delete;
    ~WorkFiles() {
        for (const QString& p : FPaths)
            QFile::remove(p);
    }
    // Called before the run that writes APath, so a stopped run's partial file goes too.
    const QString& add(const QString& APath) {
        FPaths << APath;
        return APath;
    }

private:
    QStringList FPaths;
};

// The source's colour description, so the heads' pictures are read as the copies' are.
QStringList ColourOptions(const MediaIndex& AIndex) {
    QStringList o;
    auto add = [&](const char* AOption, const QString& AValue) {
        if (!AValue.isEmpty())
            o << QLatin1String(AOption) << AValue;
    };
    add("-color_range", AIndex.colorRange);
    add("-colorspace", AIndex.colorSpace);
    add("-color_trc", AIndex.colorTransfer);
    add("-color_primaries", AIndex.colorPrimaries);
    return o;
}

// HDR10 static data repeated in the heads' bitstream, as the source has it at its keyframes.
QString X265HdrParams(const MediaIndex& AIndex) {
    QString p;
    if (!AIndex.masterDisplay.isEmpty())
        p += QStringLiteral(":master-display=") + AIndex.masterDisplay;
    if (!AIndex.contentLight.isEmpty())
        p += QStringLiteral(":max-cll=") + AIndex.contentLight;
    return p;
}

bool WriteFile(const QString& APath, const QByteArray& AData) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(AData) == AData.size() &&
           f.flush();
}

} // namespace

CutPoints::CutPoints(const MediaIndex& AIndex) : FIndex(AIndex) {
    const qsizetype n = AIndex.packets.size();
    FPts.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        FPts << AIndex.toUs(AIndex.packets[i].pts);
        if (AIndex.packets[i].key)
            FKeys << i;
    }
    FSorted = FPts;
    std::sort(FSorted.begin(), FSorted.end());
    FPrefixMax.resize(n);
    FSuffixMin.resize(n);
    for (qsizetype i = 0; i < n; ++i)
        FPrefixMax[i] = i == 0 ? FPts[i] : std::max(FPrefixMax[i - 1], FPts[i]);
    for (qsizetype i = n - 1; i >= 0; --i)
        FSuffixMin[i] = i == n - 1 ? FPts[i] : std::min(FSuffixMin[i + 1], FPts[i]);
    // Frame counts stand for durations only when every frame lasts one frame interval.
    const std::int64_t frame = AIndex.frameUs();
    for (qsizetype i = 1; i < n && FConstant; ++i) {
        const std::int64_t d = FSorted[i] - FSorted[i - 1];
        FConstant = frame > 0 && d > frame * 3 / 4 && d < frame * 5 / 4;
    }
}

// Every packet before APos is shown before every packet from APos on.
bool CutPoints::CleanBefore(qsizetype APos) const {
    if (APos <= 0 || APos >= FPts.size())
        return true;
    return FPrefixMax[APos - 1] < FSuffixMin[APos];
}

// The copy starts on a keyframe that nothing before it in decode order shows after, and that
// nothing after it shows before (no leading pictures of an open GOP). -1: none in [ALo, AHi).
qsizetype CutPoints::CopyStart(std::int64_t ALo, std::int64_t AHi) const {
    for (qsizetype k : FKeys) {
        if (FPts[k] < ALo)
            continue;
        if (FPts[k] >= AHi)
            break;
        if (CleanBefore(k) && FSuffixMin[k] == FPts[k])
            return k;
    }
    return -1;
}

// The copy from AStart ends where everything before is kept and shown before everything after
// (AHi == kNoEnd: at the end of the file).
qsizetype CutPoints::CopyEnd(qsizetype AStart, std::int64_t AHi) const {
    if (AHi == kNoEnd)
        return FPts.size();
    qsizetype q =
        std::lower_bound(FPrefixMax.begin() + AStart, FPrefixMax.end(), AHi) - FPrefixMax.begin();
    while (q > AStart && !CleanBefore(q))
        --q;
    return q;
}

bool CutPoints::Plan(double AFrom, double ATo, StretchPlan& APlan) const {
    APlan = StretchPlan();
    const qsizetype n = FPts.size();
    if (n == 0)
        return false;
    // A mark stands for the frame shown at that second: within half a frame of it.
    const std::int64_t half = FIndex.frameUs() / 2;
    const std::int64_t lo = FIndex.startUs + ToMs(AFrom) * 1000 - half;
    const std::int64_t hi = ATo < 0 ? kNoEnd : FIndex.startUs + ToMs(ATo) * 1000 - half;
    const qsizetype keptBegin =
        std::lower_bound(FSorted.begin(), FSorted.end(), lo) - FSorted.begin();
    const qsizetype keptEnd =
        ATo < 0 ? n : std::lower_bound(FSorted.begin(), FSorted.end(), hi) - FSorted.begin();
    if (keptEnd <= keptBegin)
        return true; // nothing of the video lies in the stretch
    APlan.frames = static_cast<int>(keptEnd - keptBegin);
    APlan.startUs = FSorted[keptBegin];

    const qsizetype p = CopyStart(lo, hi);
    const qsizetype q = p < 0 ? -1 : CopyEnd(p, hi);
    if (p < 0 || q <= p) {
        APlan.pieces << CutPiece{false, APlan.startUs, APlan.frames};
        return true;
    }
    const qsizetype copyBegin =
        std::lower_bound(FSorted.begin(), FSorted.end(), FPts[p]) - FSorted.begin();
    const qsizetype copyEnd =
        std::upper_bound(FSorted.begin(), FSorted.end(), FPrefixMax[q - 1]) - FSorted.begin();
    if (copyEnd - copyBegin != q - p || copyBegin < keptBegin || copyEnd > keptEnd)
        return false;
    if (copyBegin > keptBegin)
        APlan.pieces << CutPiece{false, APlan.startUs, static_cast<int>(copyBegin - keptBegin)};
    APlan.pieces << CutPiece{true, FPts[p], static_cast<int>(q - p)};
    if (keptEnd > copyEnd)
        APlan.pieces << CutPiece{false, FSorted[copyEnd], static_cast<int>(keptEnd - copyEnd)};
    return true;
}

QString SmartCutUnsupported(const MediaIndex& AIndex) {
    if (!AIndex.ok)
        return QStringLiteral("no keyframe index");
    if (AIndex.codec != QLatin1String("h264") && AIndex.codec != QLatin1String("hevc"))
        return QStringLiteral("codec ") + AIndex.codec;
    if (AIndex.frameUs() <= 0)
        return QStringLiteral("unknown frame rate");
    if (!CutPoints(AIndex).ConstantRate())
        return QStringLiteral("variable frame rate");
    if (MatchingEncoder(AIndex).isEmpty())
        return QStringLiteral("%1 %2, %3 B-frame delay %4")
            .arg(AIndex.codec, AIndex.profile, AIndex.pixFmt)
            .arg(ReorderDelay(AIndex));
    if (AIndex.audioTracks > 0 && (AIndex.audioFrameSamples() <= 0 || AIndex.audioSampleRate <= 0))
        return QStringLiteral("audio codec ") + AIndex.audioCodec;
    return {};
}

QStringList MatchingEncoder(const MediaIndex& AIndex) {
    const int delay = ReorderDelay(AIndex);
    if (delay > 2 || AIndex.pixFmt.isEmpty())
        return {};
    // Heads last at most one keyframe interval and are encoded at a high quality setting, so
    // the fastest preset costs little size, keeps them far above visible loss, and keeps the
    // export near copy speed.
    // The pieces must run as far ahead in decoding as the copied stream does, or the joined
    // timestamps would step back at a seam.
    const QString bframes = delay == 0 ? QStringLiteral("0") : QStringLiteral("3");
    if (AIndex.codec == QLatin1String("h264")) {
        const QString profile = H264Profile(AIndex.profile);
        if (profile.isEmpty() || (profile == QLatin1String("baseline") && delay > 0))
            return {};
        QStringList o{QStringLiteral("-c:v"),       QStringLiteral("libx264"),
                      QStringLiteral("-preset"),    QStringLiteral("ultrafast"),
                      QStringLiteral("-crf"),       QStringLiteral("16"),
                      QStringLiteral("-profile:v"), profile};
        if (AIndex.level > 0)
            o << QStringLiteral("-level:v") << QString::number(AIndex.level / 10.0, 'f', 1);
        o << QStringLiteral("-pix_fmt") << AIndex.pixFmt << QStringLiteral("-x264-params")
          << QStringLiteral("keyint=infinite:bframes=%1:b-pyramid=%2")
                 .arg(bframes, delay == 2 ? QStringLiteral("normal") : QStringLiteral("none"));
        return o + ColourOptions(AIndex);
    }
    if (AIndex.codec == QLatin1String("hevc")) {
        const QString profile = HevcProfile(AIndex.profile);
        if (profile.isEmpty())
            return {};
        QString params = QStringLiteral("keyint=-1:bframes=%1:b-pyramid=%2:log-level=error")
                             .arg(bframes)
                             .arg(delay == 2 ? 1 : 0);
        if (AIndex.level > 0)
            params += QStringLiteral(":level-idc=") + QString::number(AIndex.level / 30.0, 'f', 1);
        params += X265HdrParams(AIndex);
        return QStringList{QStringLiteral("-c:v"),         QStringLiteral("libx265"),
                           QStringLiteral("-preset"),      QStringLiteral("ultrafast"),
                           QStringLiteral("-crf"),         QStringLiteral("16"),
                           QStringLiteral("-profile:v"),   profile,
                           QStringLiteral("-pix_fmt"),     AIndex.pixFmt,
                           QStringLiteral("-x265-params"), params} +
               ColourOptions(AIndex);
    }
    return {};
}

Command PieceCommand(const QString& AFFmpeg, const QString& AInput, const MediaIndex& AIndex,
                     const CutPiece& APiece, const QString& APath) {
    Command c(AFFmpeg);
    c.arg(QStringLiteral("-y")).arg(QStringLiteral("-ss"));
    if (APiece.copy) {
        // Exactly on the keyframe; nothing before it is copied.
        c.arg(UsText(SeekUs(AIndex, APiece.startUs))).arg(QStringLiteral("-i")).path(AInput);
        c.args({QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-c"),
                QStringLiteral("copy"), QStringLiteral("-copypriorss"), QStringLiteral("0")});
    } else {
        // Half a frame early: decoding drops everything before the seek point. The picture is
        // encoded as stored, like the copies; the join puts the display matrix back.
        c.arg(UsText(SeekUs(AIndex, APiece.startUs - AIndex.frameUs() / 2)));
        c.arg(QStringLiteral("-noautorotate")).arg(QStringLiteral("-i")).path(AInput);
        c.args({QStringLiteral("-map"), QStringLiteral("0:v:0")}).args(MatchingEncoder(AIndex));
    }
    c.args({QStringLiteral("-frames:v"), QString::number(APiece.frames)});
    // The concat demuxer takes every file's timestamps in the first one's time base: the MP4
    // pieces count in MPEG-TS's 90 kHz.
    if (PieceInMp4(AIndex, APiece))
        c.args({QStringLiteral("-video_track_timescale"), QStringLiteral("90000"),
                QStringLiteral("-f"), QStringLiteral("mp4")});
    else
        c.args({QStringLiteral("-f"), QStringLiteral("mpegts")});
    return c.path(APath);
}

bool PieceInMp4(const MediaIndex& AIndex, const CutPiece& APiece) {
    // Reading MPEG-TS back costs the join far more than MP4, and the copies are nearly all of
    // the export. The concat demuxer gives H.264 from MP4 its parameter sets at every keyframe
    // itself; HEVC it doesn't, so HEVC copies stay in MPEG-TS.
    return APiece.copy && AIndex.codec == QLatin1String("h264");
}

Command& AddAudioPiece(Command& ACmd, const QString& AInput, const MediaIndex& AIndex,
                       std::int64_t AStartUs, std::int64_t AFrames, const QString& APath) {
    // Half an audio frame early, so the packet nearest the first picture comes first.
    const std::int64_t early = AudioFramesUs(AIndex, 1) / 2;
    ACmd.args(
        {QStringLiteral("-ss"), UsText(SeekUs(AIndex, AStartUs - early)), QStringLiteral("-i")});
    ACmd.path(AInput);
    ACmd.args({QStringLiteral("-map"), QStringLiteral("1:a"), QStringLiteral("-c"),
               QStringLiteral("copy"), QStringLiteral("-copypriorss"), QStringLiteral("0"),
               QStringLiteral("-frames:a"), QString::number(AFrames), QStringLiteral("-f"),
               QStringLiteral("mp4")});
    return ACmd.path(APath);
}

Command SmartJoinCommand(const QString& AFFmpeg, const QString& AVideoList,
                         const QString& AAudioList, const QString& AInput, const MediaIndex& AIndex,
                         const QString& AOutput) {
    Command c(AFFmpeg);
    c.args({QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"),
            QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i")});
    c.path(AVideoList);
    const bool audio = !AAudioList.isEmpty();
    if (audio) {
        c.args({QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
                QStringLiteral("0"), QStringLiteral("-i")});
        c.path(AAudioList);
    }
    // The input itself only lends its tags.
    c.arg(QStringLiteral("-i")).path(AInput);
    c.args({QStringLiteral("-map"), QStringLiteral("0:v")});
    if (audio)
        c.args({QStringLiteral("-map"), QStringLiteral("1:a")});
    KeepSourceTags(c, audio ? 2 : 1, AIndex, audio);
    c.args({QStringLiteral("-c"), QStringLiteral("copy")});
    if (AIndex.tbNum == 1)
        c.args({QStringLiteral("-video_track_timescale"), QString::number(AIndex.tbDen)});
    c.args({QStringLiteral("-movflags"), QStringLiteral("+faststart")});
    return c.path(AOutput);
}

QVector<CutStep> SmartCutSteps(const QVector<QVector<std::int64_t>>& APieceMs,
                               std::int64_t ATotalMs) {
    std::int64_t kept = 0;
    for (const QVector<std::int64_t>& stretch : APieceMs)
        for (std::int64_t ms : stretch)
            kept += std::max<std::int64_t>(ms, 0);
    QVector<CutStep> steps;
    if (kept <= 0 || ATotalMs <= 0)
        return steps;
    // The join passes over everything kept once more: as much weight as all the pieces.
    const std::int64_t whole = 2 * kept;
    std::int64_t done = 0;
    auto scaled = [&](std::int64_t AUnits) { return AUnits * ATotalMs / whole; };
    for (const QVector<std::int64_t>& stretch : APieceMs)
        for (std::int64_t ms : stretch) {
            const std::int64_t units = std::max<std::int64_t>(ms, 0);
            steps << CutStep{QStringLiteral("Cutting"), scaled(done),
                             scaled(done + units) - scaled(done), units};
            done += units;
        }
    steps << CutStep{QStringLiteral("Joining"), scaled(done), ATotalMs - scaled(done), kept};
    return steps;
}

namespace {

// A kept stretch as it will be cut, named after its marks.
struct Stretch {
    QString stem;
    StretchPlan plan;
    std::int64_t audioFrames = 0; // audio packets taken with its last piece
};

// Every stretch is planned before anything runs, so the progress knows the whole. False with
// AError when a stretch has no exact plan.
bool PlanStretches(const MediaIndex& AIndex, const QVector<KeptRange>& ARanges,
                   QVector<Stretch>& AStretches, QString& AError) {
    const CutPoints points(AIndex);
    std::int64_t videoFrames = 0;
    std::int64_t audioFrames = 0;
    for (const KeptRange& r : ARanges) {
        Stretch st;
        st.stem = r.tail ? QStringLiteral("seg_%1_end").arg(SecondsArg(r.from))
                         : QStringLiteral("seg_%1_%2").arg(SecondsArg(r.from), SecondsArg(r.to));
        if (!points.Plan(r.from, r.tail ? -1 : r.to, st.plan)) {
            AError = st.stem + QStringLiteral(": no exact plan");
            return false;
        }
        if (st.plan.frames == 0)
            continue;
        videoFrames += st.plan.frames;
        // As many audio packets as keep the audio's end nearest the video's end, so the
        // seams never let the two drift apart.
        if (AIndex.audioTracks > 0) {
            const std::int64_t samples = AIndex.audioFrameSamples();
            const std::int64_t wanted =
                (FramesUs(AIndex, videoFrames) * AIndex.audioSampleRate + samples * 500000) /
                (samples * 1000000);
            st.audioFrames = std::max<std::int64_t>(0, wanted - audioFrames);
            audioFrames = std::max(audioFrames, wanted);
        }
        AStretches << st;
    }
    return true;
}

// The runs of one exact cut: the pieces of each stretch, then the join of their lists.
class CutRun {
public:
    CutRun(const QString& AFFmpeg, const QString& AInput, const MediaIndex& AIndex,
           const ClipEnv& AEnv, std::function<void()> ANext)
        : FFFmpeg(AFFmpeg), FInput(AInput), FIndex(AIndex), FEnv(AEnv), FDir(AEnv.dir()),
          FNext(std::move(ANext)) {}

    bool pieces(const Stretch& AStretch, QString& AError) {
        const QString audioPath =
            QFileInfo(FDir + AStretch.stem + QStringLiteral("_a.mp4")).absoluteFilePath();
        const QVector<CutPiece>& all = AStretch.plan.pieces;
        for (qsizetype i = 0; i < all.size(); ++i) {
            const QString name =
                PieceInMp4(FIndex, all[i]) ? QStringLiteral("_v%1.mp4") : QStringLiteral("_v%1.ts");
            const QString path = QFileInfo(FDir + AStretch.stem + name.arg(i)).absoluteFilePath();
            Command cmd = PieceCommand(FFFmpeg, FInput, FIndex, all[i], path);
            // The stretch's audio comes out of its last piece's run: one run fewer per stretch.
            FWork.add(path);
            if (AStretch.audioFrames > 0 && i == all.size() - 1)
                AddAudioPiece(cmd, FInput, FIndex, AStretch.plan.startUs, AStretch.audioFrames,
                              FWork.add(audioPath));
            FNext();
            if (Run(cmd, FEnv) != 0) {
                AError = AStretch.stem +
                         (all[i].copy ? QStringLiteral(": copy") : QStringLiteral(": encode"));
                return false;
            }
            FVideoList += ConcatListText({path});
            FVideoList += "duration " + UsText(FramesUs(FIndex, all[i].frames)).toUtf8() + "\r\n";
        }
        if (AStretch.audioFrames > 0) {
            FAudioList += ConcatListText({audioPath});
            FAudioList +=
                "duration " + UsText(AudioFramesUs(FIndex, AStretch.audioFrames)).toUtf8() + "\r\n";
        }
        return true;
    }

    bool join(const QString& AOutput, QString& AError) {
        const QString videoListPath = FWork.add(FDir + QStringLiteral("video.txt"));
        const QString audioListPath =
            FAudioList.isEmpty() ? QString() : FWork.add(FDir + QStringLiteral("audio.txt"));
        if (!WriteFile(videoListPath, FVideoList) ||
            (!audioListPath.isEmpty() && !WriteFile(audioListPath, FAudioList))) {
            AError = QStringLiteral("lists");
            return false;
        }
        FNext();
        if (Run(SmartJoinCommand(FFFmpeg, videoListPath, audioListPath, FInput, FIndex, AOutput),
                FEnv) != 0) {
            AError = QStringLiteral("join");
            return false;
        }
        // MPEG-TS pieces carry no display matrix: the picture would lie on its side.
        const QByteArray matrix = ReadVideoMatrix(FInput);
        if (!matrix.isEmpty() && !IsIdentityMatrix(matrix) && !WriteVideoMatrix(AOutput, matrix)) {
            AError = QStringLiteral("rotation");
            return false;
        }
        return true;
    }

private:
    const QString& FFFmpeg;
    const QString& FInput;
    const MediaIndex& FIndex;
    const ClipEnv& FEnv;
    const QString FDir;
    std::function<void()> FNext;
    WorkFiles FWork;
    QByteArray FVideoList;
    QByteArray FAudioList;
};

} // namespace

bool RunSmartCut(const QString& AFFmpeg, const QString& AInput, const MediaIndex& AIndex,
                 const QVector<KeptRange>& ARanges, const QString& AOutput, const ClipEnv& AEnv,
                 QString& AError, std::int64_t ATotalMs,
                 const std::function<void(const CutStep&)>& AOnStep) {
    AError.clear();
    QVector<Stretch> stretches;
    if (!PlanStretches(AIndex, ARanges, stretches, AError))
        return false;
    if (stretches.isEmpty()) {
        AError = QStringLiteral("no video in the kept stretches");
        return false;
    }
    QVector<QVector<std::int64_t>> pieceMs;
    for (const Stretch& st : stretches) {
        QVector<std::int64_t> ms;
        for (const CutPiece& piece : st.plan.pieces)
            ms << FramesUs(AIndex, piece.frames) / 1000;
        pieceMs << ms;
    }
    const QVector<CutStep> steps = SmartCutSteps(pieceMs, ATotalMs);
    qsizetype step = 0;
    CutRun run(AFFmpeg, AInput, AIndex, AEnv, [&] {
        if (AOnStep && step < steps.size())
            AOnStep(steps[step]);
        ++step;
    });
    for (const Stretch& st : stretches)
        if (!run.pieces(st, AError))
            return false;
    return run.join(AOutput, AError);
}

} // namespace halvora
