#include "SegmentModel.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

using Rows = QVector<DeleteSegment>;
using Kept = QVector<KeptRange>;

KeptRange R(double AFrom, double ATo) {
    return {AFrom, ATo, false};
}
KeptRange Tail(double AFrom) {
    return {AFrom, 0, true};
}

} // namespace

TEST(KeptRanges, EdgeCases) {
    EXPECT_EQ(KeptRanges({}, 200), Kept{Tail(0)});
    EXPECT_EQ(KeptRanges({}, 0), Kept{});
    EXPECT_EQ(KeptRanges(Rows{{0, 200}}, 200), Kept{});
    EXPECT_EQ(KeptRanges(Rows{{0, 10}}, 200), Kept{Tail(10)});
    EXPECT_EQ(KeptRanges(Rows{{190, 200}}, 200), Kept{R(0, 190)});
    EXPECT_EQ(KeptRanges(Rows({{10, 20}, {50, 60}}), 200), Kept({R(0, 10), R(20, 50), Tail(60)}));
    // touching
    EXPECT_EQ(KeptRanges(Rows({{10, 20}, {20, 30}}), 200), Kept({R(0, 10), Tail(30)}));
    // overlapping, in either order
    EXPECT_EQ(KeptRanges(Rows({{10, 30}, {20, 50}}), 200), Kept({R(0, 10), Tail(50)}));
    EXPECT_EQ(KeptRanges(Rows({{20, 50}, {10, 30}}), 200), Kept({R(0, 10), Tail(50)}));
    // out of order
    EXPECT_EQ(KeptRanges(Rows({{40, 50}, {10, 20}}), 200), Kept({R(0, 10), R(20, 40), Tail(50)}));
    // repeated
    EXPECT_EQ(KeptRanges(Rows({{10, 20}, {10, 20}}), 200), Kept({R(0, 10), Tail(20)}));
}

TEST(KeptRanges, NestedSegmentsNeverBringDeletedSecondsBack) {
    // (20, 30) lies inside (10, 100): the cursor stays at 100.
    EXPECT_EQ(KeptRanges(Rows({{10, 100}, {20, 30}}), 200), Kept({R(0, 10), Tail(100)}));
    EXPECT_EQ(KeptRanges(Rows({{20, 30}, {10, 100}}), 200), Kept({R(0, 10), Tail(100)}));
    // Equal starts in either order: the longer one wins.
    EXPECT_EQ(KeptRanges(Rows({{10, 100}, {10, 20}}), 200), Kept({R(0, 10), Tail(100)}));
    EXPECT_EQ(KeptRanges(Rows({{10, 20}, {10, 100}}), 200), Kept({R(0, 10), Tail(100)}));
    EXPECT_EQ(KeptRanges(Rows({{10, 100}, {20, 30}, {150, 160}}), 200),
              Kept({R(0, 10), R(100, 150), Tail(160)}));
    // A nested segment reaching the end leaves no tail.
    EXPECT_EQ(KeptRanges(Rows({{0, 200}, {50, 60}}), 200), Kept{});
}

TEST(KeptRanges, TimesBeyondSixteenBitsStayWhole) {
    // 20 hours: 72000 s; the old packed row kept only 16 bits per time.
    EXPECT_EQ(KeptRanges(Rows{{70000, 70010}}, 72000), Kept({R(0, 70000), Tail(70010)}));
    SegmentModel m;
    m.markStart(70000);
    m.markEnd(71000);
    ASSERT_EQ(m.segments(), Rows({{70000, 71000}}));
    EXPECT_EQ(m.data(m.index(0, 0), SegmentModel::kStartRole).toInt(), 70000);
    EXPECT_EQ(m.data(m.index(0, 0), SegmentModel::kEndRole).toInt(), 71000);
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "1166:40 - 1183:20");
}

TEST(SortedSegments, SortsByStart) {
    EXPECT_EQ(SortedSegments(Rows({{40, 50}, {10, 20}, {30, 35}})),
              Rows({{10, 20}, {30, 35}, {40, 50}}));
}

TEST(SegmentModel, MarkingAddsRowsWithTheirStatusTexts) {
    SegmentModel m;
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    EXPECT_EQ(m.markA(), -1);
    EXPECT_EQ(m.markB(), -1);
    EXPECT_EQ(m.markStart(65), "Start marked: 01:05 (drag to end position and mark end)");
    EXPECT_EQ(m.markStart(60), "Start marked: 01:00 (drag to end position and mark end)");
    EXPECT_EQ(m.markA(), 60);
    EXPECT_EQ(m.markB(), -1);
    EXPECT_EQ(m.markEnd(130), "Delete segment added [01:00 - 02:10]");
    EXPECT_EQ(m.markA(), -1);
    EXPECT_EQ(m.markB(), -1);
    ASSERT_EQ(m.rowCount(), 1);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(m.columnCount(), 2);
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "01:00 - 02:10");
    EXPECT_EQ(m.data(m.index(0, 1)).toString(), "01:10");
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), "Delete segment (start-end)");
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "Duration");
    // The times are edited in place; the duration follows from them.
    EXPECT_TRUE(m.flags(m.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(m.flags(m.index(0, 1)).testFlag(Qt::ItemIsEditable));

    // Overlapping and repeated segments are accepted as they are.
    m.markStart(0);
    m.markEnd(200);
    m.markStart(0);
    m.markEnd(200);
    EXPECT_EQ(m.segments(), Rows({{60, 130}, {0, 200}, {0, 200}}));
}

TEST(SegmentModel, InvalidRangesKeepThePendingMarks) {
    const QString invalid = "Invalid range: mark start first and end must be after start";
    SegmentModel m;
    EXPECT_EQ(m.markEnd(10), invalid); // no start
    EXPECT_EQ(m.markB(), 10);
    EXPECT_EQ(m.rowCount(), 0);
    m.markStart(20);
    EXPECT_EQ(m.markEnd(20), invalid); // same second
    EXPECT_EQ(m.markEnd(15), invalid); // before the start
    EXPECT_EQ(m.markA(), 20);
    EXPECT_EQ(m.markB(), 15);
    EXPECT_EQ(m.markEnd(25), "Delete segment added [00:20 - 00:25]");
    EXPECT_EQ(m.segments(), Rows({{20, 25}}));
}

TEST(SegmentModel, RemoveAndClear) {
    SegmentModel m;
    m.append({1, 2});
    m.append({3, 4});
    m.append({5, 6});
    m.markStart(7);
    EXPECT_EQ(m.removeSegment(-1), ""); // nothing selected: nothing changes
    EXPECT_EQ(m.removeSegment(3), "");
    EXPECT_EQ(m.rowCount(), 3);
    EXPECT_EQ(m.removeSegment(1), "Delete segment mark removed");
    EXPECT_EQ(m.segments(), Rows({{1, 2}, {5, 6}}));
    EXPECT_EQ(m.markA(), 7); // removing a row leaves the pending marks alone
    EXPECT_EQ(m.clearAll(), "Delete segments cleared");
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_EQ(m.markA(), -1);
    EXPECT_EQ(m.markB(), -1);
}
