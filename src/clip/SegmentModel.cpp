#include "SegmentModel.h"

#include "ClipTime.h"
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

QVector<KeptRange> KeptRanges(const QVector<DeleteSegment>& ARows, double ADuration) {
    QVector<KeptRange> out;
    double cursor = 0;
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

QString SegmentModel::markStart(double APos) {
    FMarkA = RoundToMs(APos);
    return QStringLiteral("Start marked: %1 (drag to end position and mark end)")
        .arg(FormatMarkTime(FMarkA));
}

QString SegmentModel::markEnd(double APos) {
    FMarkB = RoundToMs(APos);
    if (FMarkA < 0 || FMarkA >= FMarkB)
        return QStringLiteral("Invalid range: mark start first and end must be after start");
    const DeleteSegment seg{FMarkA, FMarkB};
    append(seg);
    FMarkA = -1;
    FMarkB = -1;
    return QStringLiteral("Delete segment added [%1 - %2]")
        .arg(FormatMarkTime(seg.start), FormatMarkTime(seg.end));
}

QString SegmentModel::removeSegment(int ARow) {
    if (ARow < 0 || ARow >= FRows.size())
        return {};
    const QString text = QStringLiteral("Delete segment mark removed");
    recordChange(text);
    beginRemoveRows(QModelIndex(), ARow, ARow);
    FRows.removeAt(ARow);
    endRemoveRows();
    emit segmentsChanged();
    return text;
}

QString SegmentModel::clearAll() {
    const QString text = QStringLiteral("Delete segments cleared");
    if (!FRows.isEmpty()) {
        recordChange(text);
        setRows({});
    }
    FMarkA = -1;
    FMarkB = -1;
    return text;
}

void SegmentModel::append(const DeleteSegment& ASeg) {
    recordChange(QStringLiteral("Delete segment added"));
    const int row = static_cast<int>(FRows.size());
    beginInsertRows(QModelIndex(), row, row);
    FRows.append(ASeg);
    endInsertRows();
    emit segmentsChanged();
}

QString SegmentModel::replaceAll(const QVector<DeleteSegment>& ARows, const QString& AWhat) {
    recordChange(AWhat);
    setRows(ARows);
    return AWhat;
}

void SegmentModel::recordChange(const QString& AWhat) {
    FHistory.record(FRows, AWhat);
}

void SegmentModel::setRows(const QVector<DeleteSegment>& ARows) {
    beginResetModel();
    FRows = ARows;
    endResetModel();
    emit segmentsChanged();
}

QString SegmentModel::undo() {
    return takeStep(FHistory.undo(FRows), QStringLiteral("Undone: "));
}

QString SegmentModel::redo() {
    return takeStep(FHistory.redo(FRows), QStringLiteral("Redone: "));
}

QString SegmentModel::takeStep(const std::optional<SegmentHistory::Step>& AStep,
                               const QString& ADone) {
    if (!AStep)
        return {};
    setRows(AStep->rows);
    return ADone + AStep->what;
}

QString SegmentModel::checkedEdit(const QString& AText, DeleteSegment* ASeg) const {
    const QStringList parts = AText.split(QLatin1Char('-'));
    std::int64_t from = 0, to = 0;
    if (parts.size() != 2 || !ParseClock(parts[0], &from) || !ParseClock(parts[1], &to))
        return QStringLiteral("Not changed: \"%1\" is not \"start - end\" (such as 01:05.240 - "
                              "01:10)")
            .arg(AText.trimmed());
    ASeg->start = FromMs(from);
    ASeg->end = FromMs(to);
    if (ASeg->start >= ASeg->end)
        return QStringLiteral("Not changed: the start must be before the end");
    if (FLength > 0 && ASeg->end > FLength)
        return QStringLiteral("Not changed: the segment must end within the video (%1)")
            .arg(FormatMarkTime(FLength));
    return {};
}

bool SegmentModel::setData(const QModelIndex& AIndex, const QVariant& AValue, int ARole) {
    if (ARole != Qt::EditRole || !AIndex.isValid() || AIndex.column() != 0 ||
        AIndex.row() >= FRows.size())
        return false;
    DeleteSegment seg;
    const QString why = checkedEdit(AValue.toString(), &seg);
    if (!why.isEmpty()) {
        emit editRefused(why);
        return false;
    }
    if (seg == FRows[AIndex.row()])
        return true;
    const QString what = QStringLiteral("Delete segment changed");
    recordChange(what);
    FRows[AIndex.row()] = seg;
    emit dataChanged(index(AIndex.row(), 0), index(AIndex.row(), 1));
    emit segmentsChanged();
    emit edited(QStringLiteral("%1 [%2 - %3]")
                    .arg(what, FormatMarkTime(seg.start), FormatMarkTime(seg.end)));
    return true;
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
            return QStringLiteral("%1 - %2").arg(FormatMarkTime(seg.start),
                                                 FormatMarkTime(seg.end));
        return FormatMarkTime(seg.end - seg.start);
    case Qt::EditRole:
        // The editor starts from every digit, so a whole second can be nudged by milliseconds.
        return QStringLiteral("%1 - %2").arg(FormatClock(ToMs(seg.start)),
                                             FormatClock(ToMs(seg.end)));
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
    const Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    return AIndex.column() == 0 ? f | Qt::ItemIsEditable : f;
}

} // namespace halvora
