#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <cstdint>

namespace halvora {

// A stretch to delete, in whole seconds, start < end when made.
struct DeleteSegment {
    std::int32_t start = 0;
    std::int32_t end = 0;
    bool operator==(const DeleteSegment&) const = default;
};

// A stretch to keep: [from, to), or from `from` to the end of the file when tail is set
// (then `to` is unused and 0).
struct KeptRange {
    std::int32_t from = 0;
    std::int32_t to = 0;
    bool tail = false;
    bool operator==(const KeptRange&) const = default;
};

// The delete segments sorted by start (the exchange sort export has always used; equal starts
// keep no particular order).
QVector<DeleteSegment> SortedSegments(const QVector<DeleteSegment>& ARows);

// Everything outside the delete segments, in time order, the tail (if any) last. A segment that
// lies inside an earlier one never moves the cursor back, so no deleted second is kept.
QVector<KeptRange> KeptRanges(const QVector<DeleteSegment>& ARows, std::int32_t ADuration);

// The delete-segment list shown by the clip window's list view, plus the pending marks.
// Columns: "Delete segment (start-end)" ("01:05 - 02:10") and "Duration" ("01:05").
// Row data: Qt::UserRole gives the start, kEndRole the end (seconds, int).
// The mark operations return the status text to show; an empty text means "leave the status
// line as it is". Checking that a file is loaded is the window's business.
class SegmentModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kStartRole = Qt::UserRole;
    static constexpr int kEndRole = Qt::UserRole + 1;

    explicit SegmentModel(QObject* AParent = nullptr);

    // "Mark start": the pending start mark becomes APos (a second press just moves it).
    QString markStart(std::int32_t APos);
    // "Mark end": completes a segment [markA, APos) or reports an invalid range (the marks then
    // stay as they are, so a later "Mark end" still completes the segment).
    QString markEnd(std::int32_t APos);
    // "Remove marks": deletes row ARow; out of range (no selection) does nothing and gives "".
    QString removeSegment(int ARow);
    // "Clear": all rows and both pending marks.
    QString clearAll();

    std::int32_t markA() const { return FMarkA; } // -1: none
    std::int32_t markB() const { return FMarkB; } // -1: none

    // Rows in list order.
    const QVector<DeleteSegment>& segments() const { return FRows; }
    void append(const DeleteSegment& ASeg);

    int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
    int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
    QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
    QVariant headerData(int ASection, Qt::Orientation AOrientation,
                        int ARole = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

private:
    QVector<DeleteSegment> FRows;
    std::int32_t FMarkA = -1;
    std::int32_t FMarkB = -1;
};

} // namespace halvora
