#include "SegmentHistory.h"

namespace halvora {

void SegmentHistory::record(const QVector<DeleteSegment>& ABefore, const QString& AWhat) {
    FUndo.append({ABefore, AWhat});
    FRedo.clear();
}

std::optional<SegmentHistory::Step> SegmentHistory::undo(const QVector<DeleteSegment>& ACurrent) {
    if (FUndo.isEmpty())
        return std::nullopt;
    Step step = FUndo.takeLast();
    FRedo.append({ACurrent, step.what});
    return step;
}

std::optional<SegmentHistory::Step> SegmentHistory::redo(const QVector<DeleteSegment>& ACurrent) {
    if (FRedo.isEmpty())
        return std::nullopt;
    Step step = FRedo.takeLast();
    FUndo.append({ACurrent, step.what});
    return step;
}

} // namespace halvora
