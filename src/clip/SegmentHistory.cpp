#include "SegmentHistory.h"

namespace halvora {

void SegmentHistory::record(const QVector<DeleteSegment>& ABefore, const QString& AWhat) {
    FUndo.append({ABefore, AWhat});
    FRedo.clear();
}

std::optional<SegmentHistory::Step> SegmentHistory::undo(const QVector<DeleteSegment>& ACurrent) {
    return Move(FUndo, FRedo, ACurrent);
}

std::optional<SegmentHistory::Step> SegmentHistory::redo(const QVector<DeleteSegment>& ACurrent) {
    return Move(FRedo, FUndo, ACurrent);
}

// The last step of AFrom, with ACurrent kept in ATo to go back to.
std::optional<SegmentHistory::Step> SegmentHistory::Move(QVector<Step>& AFrom, QVector<Step>& ATo,
                                                         const QVector<DeleteSegment>& ACurrent) {
    if (AFrom.isEmpty())
        return std::nullopt;
    Step step = AFrom.takeLast();
    ATo.append({ACurrent, step.what});
    return step;
}

} // namespace halvora
