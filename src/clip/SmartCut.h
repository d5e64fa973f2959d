#pragma once

#include "ClipEnv.h"
#include "Command.h"
#include "MediaIndex.h"
#include "SegmentModel.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>

namespace halvora {

// The exact cut: each kept stretch's video is re-encoded only from the marked frame to the
// first keyframe the copy can start on (and, with B-frames, over the few pictures after the
// last point the copy can end on), stream-copied in between. The re-encoded parts go through
// MPEG-TS, which repeats the parameter sets at every keyframe (H.264 copies go through MP4,
// which the join gives them at every keyframe too), and all are joined into one MP4.

// One piece of a kept stretch's video, in display order.
struct CutPiece {
    bool copy = false;
    std::int64_t startUs = 0; // display time of its first frame on the stream's clock
    int frames = 0;
    bool operator==(const CutPiece&) const = default;
};

struct StretchPlan {
    QVector<CutPiece> pieces;
    std::int64_t startUs = 0; // the first kept frame on the stream's clock
    int frames = 0;           // kept frames in all
};

// Where a copy may start and end, from the packets of a MediaIndex.
class CutPoints {
public:
    explicit CutPoints(const MediaIndex& AIndex);
    // The plan of [AFrom, ATo) in seconds (whole milliseconds) from the file's start (ATo < 0:
    // to the end); a mark stands for the frame within half a frame of it. False when the packets
    // don't allow an exact plan.
    bool Plan(double AFrom, double ATo, StretchPlan& APlan) const;
    // True when the frames follow each other at the frame rate.
    bool ConstantRate() const { return FConstant; }

private:
    bool CleanBefore(qsizetype APos) const;
    qsizetype CopyStart(std::int64_t ALo, std::int64_t AHi) const;
    qsizetype CopyEnd(qsizetype AStart, std::int64_t AHi) const;

    const MediaIndex& FIndex;
    QVector<std::int64_t> FPts;    // decode order, microseconds
    QVector<std::int64_t> FSorted; // display order
    QVector<std::int64_t> FPrefixMax;
    QVector<std::int64_t> FSuffixMin;
    QVector<qsizetype> FKeys; // positions of key packets, decode order
    bool FConstant = true;
};

// Why the exact cut can't be used on this video; empty when it can.
QString SmartCutUnsupported(const MediaIndex& AIndex);

// The encoder options that make a piece decode like the input: codec, profile, level, pixel
// format and B-frame delay. Empty when they can't be matched.
QStringList MatchingEncoder(const MediaIndex& AIndex);

// The command line of a piece: a copy from its keyframe, or the encoding of its frames.
Command PieceCommand(const QString& AFFmpeg, const QString& AInput, const MediaIndex& AIndex,
                     const CutPiece& APiece, const QString& APath);
// True when the piece is written as MP4 rather than MPEG-TS.
bool PieceInMp4(const MediaIndex& AIndex, const CutPiece& APiece);
// Adds to a piece's command a second input and output: every audio track of a stretch from
// AStartUs, AFrames packets of each, copied.
Command& AddAudioPiece(Command& ACmd, const QString& AInput, const MediaIndex& AIndex,
                       std::int64_t AStartUs, std::int64_t AFrames, const QString& APath);
// The video list, the audio list (empty: no audio) and the input's tags into one MP4.
Command SmartJoinCommand(const QString& AFFmpeg, const QString& AVideoList,
                         const QString& AAudioList, const QString& AInput, const MediaIndex& AIndex,
                         const QString& AOutput);

// One run of the exact cut within the progress of the whole export: its share begins at
// baseMs and spans shareMs of the total shown, while the run itself reports times up to runMs.
struct CutStep {
    QString label;
    std::int64_t baseMs = 0;
    std::int64_t shareMs = 0;
    std::int64_t runMs = 0;
    bool operator==(const CutStep&) const = default;
};

// The steps of an exact cut whose pieces last APieceMs (per stretch, in order), then its join,
// over ATotalMs: each piece weighs its kept duration, the join as much as all the pieces
// together. The shares follow each other and end exactly at ATotalMs.
QVector<CutStep> SmartCutSteps(const QVector<QVector<std::int64_t>>& APieceMs,
                               std::int64_t ATotalMs);

// Runs the whole exact cut of ARanges into AOutput. False at the first step that fails; AError
// then names it. Its pieces and lists are removed however it ends (AOutput is the caller's).
// AOnStep hears of each run's share of ATotalMs before it starts.
bool RunSmartCut(const QString& AFFmpeg, const QString& AInput, const MediaIndex& AIndex,
                 const QVector<KeptRange>& ARanges, const QString& AOutput, const ClipEnv& AEnv,
                 QString& AError, std::int64_t ATotalMs = 0,
                 const std::function<void(const CutStep&)>& AOnStep = {});

} // namespace halvora
