#include "SegmentModel.h"

#include "MediaProbe.h"

#include <algorithm>
#include <utility>

namespace halvora {

QVector<DeleteSegment> SortedSegments(const QVector<DeleteSegment>& ARows) {
    QVector<DeleteSegment> a = ARows;
    for (qsizetype i = 0; i + 1 < a.size(); ++i)
        for (qsizetype j = i + 1; j < a.size(); ++j)
            if (a[j].start < a[i].start)
                std::swap(a[i], a[j]);
    return a;
}

QVector<KeptRange> KeptRanges(const QVector<DeleteSegment>& ARows, std::int32_t ADuration) {
    QVector<KeptRange> out;
    std::int32_t cursor = 0;
    for (const DeleteSegment& seg : SortedSegments(ARows)) {
        if (seg.start > cursor)
            out.append({cursor, seg.start, false});
        cursor = std::max(cursor, seg.end);
    }
    if (cursor < ADuration)
        out.append({cursor, 0, true});
    return out;
}

SegmentModel::SegmentModel(QObject* AParent) : QAbstractTableModel(AParent) {}

QString SegmentModel::markStart(std::int32_t APos) {
    FMarkA = APos;
    return QStringLiteral("Start marked: %1 (drag to end position and mark end)")
        .arg(FormatTime(FMarkA));
}

QString SegmentModel::markEnd(std::int32_t APos) {
    FMarkB = APos;
    if (FMarkA < 0 || FMarkA >= FMarkB)
        return QStringLiteral("Invalid range: mark start first and end must be after start");
    const DeleteSegment seg{FMarkA, FMarkB};
    append(seg);
    FMarkA = -1;
    FMarkB = -1;
    return QStringLiteral("Delete segment added [%1 - %2]")
        .arg(FormatTime(seg.start), FormatTime(seg.end));
}

QString SegmentModel::removeSegment(int ARow) {
    if (ARow < 0 || ARow >= FRows.size())
        return {};
    beginRemoveRows(QModelIndex(), ARow, ARow);
    FRows.removeAt(ARow);
    endRemoveRows();
    return QStringLiteral("Delete segment mark removed");
}

QString SegmentModel::clearAll() {
    beginResetModel();
    FRows.clear();
    endResetModel();
    FMarkA = -1;
    FMarkB = -1;
    return QStringLiteral("Delete segments cleared");
}

void SegmentModel::append(const DeleteSegment& ASeg) {
    const int row = static_cast<int>(FRows.size());
    beginInsertRows(QModelIndex(), row, row);
    FRows.append(ASeg);
    endInsertRows();
}

int SegmentModel::rowCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int SegmentModel::columnCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : 2;
}

QVariant SegmentModel::data(const QModelIndex& AIndex, int ARole) const {
    if (!AIndex.isValid() || AIndex.row() < 0 || AIndex.row() >= FRows.size())
        return {};
    const DeleteSegment& seg = FRows[AIndex.row()];
    switch (ARole) {
    case Qt::DisplayRole:
        if (AIndex.column() == 0)
            return QStringLiteral("%1 - %2").arg(FormatTime(seg.start), FormatTime(seg.end));
        return FormatTime(seg.end - seg.start);
    case kStartRole:
        return seg.start;
    case kEndRole:
        return seg.end;
    default:
        return {};
    }
}

QVariant SegmentModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
    if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole)
        return {};
    if (ASection == 0)
        return QStringLiteral("Delete segment (start-end)");
    if (ASection == 1)
        return QStringLiteral("Duration");
    return {};
}

Qt::ItemFlags SegmentModel::flags(const QModelIndex& AIndex) const {
    if (!AIndex.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace halvora
