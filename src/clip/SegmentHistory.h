#pragma once

#include "DeleteSegment.h"

#include <QString>
#include <QVector>
#include <optional>

namespace halvora {

// Undo and redo of the delete-segment list: the whole list before each change, with what the
// change was ("Delete segment added" ...), so every kind of change is undone the same way.
class SegmentHistory {
public:
    struct Step {
        QVector<DeleteSegment> rows;
        QString what;
    };

    // ABefore is the list as it was before the change AWhat; a new change ends what could be
    // redone.
    void record(const QVector<DeleteSegment>& ABefore, const QString& AWhat);
    // The list to go back to (ACurrent becomes redoable), or none.
    std::optional<Step> undo(const QVector<DeleteSegment>& ACurrent);
    std::optional<Step> redo(const QVector<DeleteSegment>& ACurrent);
    bool canUndo() const { return !FUndo.isEmpty(); }
    bool canRedo() const { return !FRedo.isEmpty(); }

private:
    static std::optional<Step> Move(QVector<Step>& AFrom, QVector<Step>& ATo,
                                    const QVector<DeleteSegment>& ACurrent);
    QVector<Step> FUndo;
    QVector<Step> FRedo;
};

} // namespace halvora
