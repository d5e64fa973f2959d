// Frame-exact marks: time texts, frame steps and keyframe jumps, editing segments in place,
// undo and redo of the list.
#include "ClipTime.h"
#include "FrameClock.h"
#include "SegmentModel.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

using Rows = QVector<DeleteSegment>;

TEST(ClipTime, TextsOfMarksAndPositions) {
    struct Case {
        double seconds;
        const char* arg;
        const char* mark;
        const char* clock;
    };
    const Case cases[] = {
        {0, "0", "00:00", "00:00:00.000"},
        {65, "65", "01:05", "00:01:05.000"},
        {1.24, "1.24", "00:01.240", "00:00:01.240"},
        {3725.005, "3725.005", "62:05.005", "01:02:05.005"},
        {0.0404, "0.04", "00:00.040", "00:00:00.040"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SecondsArg(c.seconds), c.arg) << c.seconds;
        EXPECT_EQ(FormatMarkTime(c.seconds), c.mark) << c.seconds;
        EXPECT_EQ(FormatClock(ToMs(c.seconds)), c.clock) << c.seconds;
    }
}

TEST(ClipTime, ReadsTypedTimes) {
    const std::pair<const char*, std::int64_t> good[] = {
        {"00:01:05.240", 65240}, {"1:05.24", 65240}, {" 65.2 ", 65200}, {"7", 7000},
        {"01:00:00", 3600000},   {"0:00:00.001", 1},
    };
    for (const auto& [text, ms] : good) {
        std::int64_t got = -1;
        EXPECT_TRUE(ParseClock(text, &got)) << text;
        EXPECT_EQ(got, ms) << text;
    }
    for (const char* bad : {"", "abc", "1:60", "1:05.2345", "-3", "1:2:3:4", "00:61:00"}) {
        std::int64_t got = -1;
        EXPECT_FALSE(ParseClock(bad, &got)) << bad;
    }
}

// 3 s at 30000/1001 fps (frames 33.367 ms apart, never on a whole millisecond), with B-frame
// reordering in decode order and a keyframe every 15 frames.
MediaIndex NtscIndex() {
    MediaIndex index;
    index.ok = true;
    index.tbNum = 1;
    index.tbDen = 30000;
    index.rateNum = 30000;
    index.rateDen = 1001;
    index.startUs = 0;
    for (int i = 0; i < 90; ++i) {
        // Decode order I P B B ...: the display order is restored by sorting.
        const int shown = i % 3 == 0 ? i : (i % 3 == 1 ? i + 1 : i - 1);
        index.packets.append(
            {std::int64_t(std::min(shown, 89)) * 1001, std::int64_t(i) * 1001, shown % 15 == 0});
    }
    return index;
}

TEST(FrameClock, StepsLandOnFramesAndKeyframes) {
    const FrameClock clock(NtscIndex(), VideoLengthMs(NtscIndex(), 3));
    EXPECT_EQ(clock.endMs(), 3003);
    struct Case {
        std::int64_t at;
        int steps;
        std::int64_t to;
    };
    // Frame k shows at k * 33.367 ms, rounded to the millisecond.
    const Case steps[] = {
        {0, 1, 33},       {33, 1, 67},     {67, -1, 33},     {0, -1, 0},      {1000, 0, 1001},
        {1001, 10, 1335}, {2969, 1, 3003}, {3003, -1, 2970}, {3003, 5, 3003},
    };
    for (const Case& c : steps)
        EXPECT_EQ(clock.step(c.at, c.steps), c.to) << c.at << " by " << c.steps;
    // Keyframes every 15 frames: 0, 500.5, 1001 ... ms.
    const Case keys[] = {
        {700, 1, 1001}, {700, -1, 501}, {501, -1, 0}, {501, 1, 1001}, {0, -1, 0}, {2900, 1, 2900},
    };
    for (const Case& c : keys)
        EXPECT_EQ(clock.keyframe(c.at, c.steps), c.to) << c.at << " to " << c.steps;
    EXPECT_EQ(clock.frameAt(34), 67);
    EXPECT_EQ(clock.frameAt(4000), 3003);
}

TEST(FrameClock, WithoutAnIndexFramesAreAssumedAt25PerSecond) {
    const FrameClock clock(MediaIndex(), 2000);
    EXPECT_EQ(clock.step(1000, 1), 1040);
    EXPECT_EQ(clock.step(0, -1), 0);
    EXPECT_EQ(clock.keyframe(1000, -1), 0);
}

TEST(SegmentModel, EditsInPlaceAreCheckedAgainstTheVideo) {
    SegmentModel m;
    m.setLength(30.04);
    m.append({2, 5});
    QSignalSpy refused(&m, &SegmentModel::editRefused);
    EXPECT_EQ(m.data(m.index(0, 0), Qt::EditRole).toString(), "00:00:02.000 - 00:00:05.000");
    struct Case {
        const char* text;
        bool ok;
        const char* why; // part of the refusal
        Rows rows;
    };
    const Case cases[] = {
        {"00:00:01.240 - 00:00:03", true, "", {{1.24, 3}}},
        {"1.5 - 30.040", true, "", {{1.5, 30.04}}},
        {"5 - 5", false, "the start must be before the end", {{1.5, 30.04}}},
        {"6 - 5.5", false, "the start must be before the end", {{1.5, 30.04}}},
        {"1 - 30.041", false, "within the video (00:30.040)", {{1.5, 30.04}}},
        {"later - 4", false, "is not \"start - end\"", {{1.5, 30.04}}},
    };
    for (const Case& c : cases) {
        refused.clear();
        EXPECT_EQ(m.setData(m.index(0, 0), QString(c.text)), c.ok) << c.text;
        EXPECT_EQ(m.segments(), c.rows) << c.text;
        if (!c.ok) {
            ASSERT_EQ(refused.count(), 1) << c.text;
            EXPECT_TRUE(refused[0][0].toString().contains(c.why))
                << refused[0][0].toString().toStdString();
        }
    }
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "00:01.500 - 00:30.040");
    EXPECT_EQ(m.data(m.index(0, 1)).toString(), "00:28.540");
    EXPECT_FALSE(m.setData(m.index(0, 1), QString("1 - 2"))); // the duration is not edited
}

TEST(SegmentModel, EveryChangeIsUndoneAndRedone) {
    SegmentModel m;
    m.setLength(60);
    EXPECT_EQ(m.undo(), "");
    m.markStart(1);
    m.markEnd(2.5);                                      // add
    m.append({10, 20});                                  // add
    m.setData(m.index(0, 0), QString("1.1 - 2.5"));      // edit
    m.removeSegment(1);                                  // remove
    m.clearAll();                                        // clear
    m.replaceAll({{3, 4}, {5, 6}}, "Cut list restored"); // restore
    const QVector<Rows> states{
        {},           {{1, 2.5}}, {{1, 2.5}, {10, 20}}, {{1.1, 2.5}, {10, 20}},
        {{1.1, 2.5}}, {},         {{3, 4}, {5, 6}}};
    for (qsizetype i = states.size() - 1; i > 0; --i) {
        EXPECT_EQ(m.segments(), states[i]) << i;
        EXPECT_FALSE(m.undo().isEmpty());
    }
    EXPECT_EQ(m.segments(), states[0]);
    EXPECT_FALSE(m.canUndo());
    for (qsizetype i = 1; i < states.size(); ++i) {
        EXPECT_TRUE(m.redo().startsWith("Redone: "));
        EXPECT_EQ(m.segments(), states[i]) << i;
    }
    EXPECT_EQ(m.redo(), "");
    // A new change after an undo ends what could be redone.
    m.undo();
    m.append({7, 8});
    EXPECT_FALSE(m.canRedo());
    EXPECT_EQ(m.undo(), "Undone: Delete segment added");
}

TEST(KeptRanges, MillisecondMarks) {
    EXPECT_EQ(KeptRanges(Rows({{1.24, 3}, {2.5, 4.04}}), 10),
              QVector<KeptRange>({{0, 1.24, false}, {4.04, 0, true}}));
}

} // namespace
