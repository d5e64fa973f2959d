#pragma once

#include "DeleteSegment.h"
#include "SegmentHistory.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <cstdint>

namespace halvora {

// A stretch to keep: [from, to), or from `from` to the end of the file when tail is set
// (then `to` is unused and 0).
struct KeptRange {
    double from = 0;
    double to = 0;
    bool tail = false;
    bool operator==(const KeptRange&) const = default;
};

// The delete segments sorted by start (the exchange sort export has always used; equal starts
// keep no particular order).
QVector<DeleteSegment> SortedSegments(const QVector<DeleteSegment>& ARows);

// Everything outside the delete segments, in time order, the tail (if any) last. A segment that
// lies inside an earlier one never moves the cursor back, so no deleted second is kept.
QVector<KeptRange> KeptRanges(const QVector<DeleteSegment>& ARows, double ADuration);

// The delete-segment list shown by the clip window's list view, plus the pending marks.
// Columns: "Delete segment (start-end)" ("01:05 - 02:10.240", editable in place) and
// "Duration" ("01:05"). Row data: Qt::UserRole gives the start, kEndRole the end (seconds).
// The mark operations return the status text to show; an empty text means "leave the status
// line as it is". Checking that a file is loaded is the window's business. Every change of the
// rows can be undone.
class SegmentModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kStartRole = Qt::UserRole;
    static constexpr int kEndRole = Qt::UserRole + 1;

    explicit SegmentModel(QObject* AParent = nullptr);

    // "Mark start": the pending start mark becomes APos (a second press just moves it).
    QString markStart(double APos);
    // "Mark end": completes a segment [markA, APos) or reports an invalid range (the marks then
    // stay as they are, so a later "Mark end" still completes the segment).
    QString markEnd(double APos);
    // "Remove marks": deletes row ARow; out of range (no selection) does nothing and gives "".
    QString removeSegment(int ARow);
    // "Clear": all rows and both pending marks.
    QString clearAll();

    double markA() const { return FMarkA; } // -1: none
    double markB() const { return FMarkB; } // -1: none

    // Rows in list order.
    const QVector<DeleteSegment>& segments() const { return FRows; }
    void append(const DeleteSegment& ASeg);
    // Replaces every row (a restored cut list), as one change that can be undone.
    QString replaceAll(const QVector<DeleteSegment>& ARows, const QString& AWhat);
    // The video's length in seconds: an edited time must stay within it (0: not checked).
    void setLength(double ASeconds) { FLength = ASeconds; }

    // Undo and redo of the last change of the rows; the status text, "" when there is none.
    QString undo();
    QString redo();
    bool canUndo() const { return FHistory.canUndo(); }
    bool canRedo() const { return FHistory.canRedo(); }

    int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
    int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
    QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
    QVariant headerData(int ASection, Qt::Orientation AOrientation,
                        int ARole = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& AIndex) const override;
    // An edit of the first column, "start - end"; refused (false, editRefused) when a time can't
    // be read, the start is not before the end, or the segment leaves the video.
    bool setData(const QModelIndex& AIndex, const QVariant& AValue,
                 int ARole = Qt::EditRole) override;

signals:
    // The rows changed (also by undo and redo).
    void segmentsChanged();
    void editRefused(const QString& AWhy);
    // What an edit, undo or redo did, for the status line.
    void edited(const QString& AText);

private:
    // Puts AStep's rows back; ADone + what it was, or empty when there was none.
    QString takeStep(const std::optional<SegmentHistory::Step>& AStep, const QString& ADone);
    // Records the rows as they are before the change AWhat.
    void recordChange(const QString& AWhat);
    void setRows(const QVector<DeleteSegment>& ARows);
    QString checkedEdit(const QString& AText, DeleteSegment* ASeg) const;

    QVector<DeleteSegment> FRows;
    double FMarkA = -1;
    double FMarkB = -1;
    double FLength = 0;
    SegmentHistory FHistory;
};

} // namespace halvora
