// A run is named so that a pid used again, or a restart, does not pass for it.
#include "RunOwner.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace halvora;

TEST(RunOwner, ThisRunIsAliveAndItsNameReadsBack) {
    const RunId me = ThisRun();
    EXPECT_TRUE(RunAlive(me));
    EXPECT_EQ(RunId::Parse(me.text()), me);
    EXPECT_GT(me.startTicks, 0u);
}

TEST(RunOwner, AnotherStartTimeBootOrAnEndedProcessIsNotTheRun) {
    RunId other = ThisRun();
    ++other.startTicks; // the same pid, taken by a later process
    EXPECT_FALSE(RunAlive(other));
    RunId before = ThisRun();
    before.bootId = QStringLiteral("0badb007"); // written before a restart
    EXPECT_FALSE(RunAlive(before));

    QProcess child;
    child.start(QStringLiteral("true"), {});
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_FALSE(RunAlive(RunId{child.processId(), ThisRun().startTicks, ThisRun().bootId}));
}

TEST(RunOwner, NamesThatAreNoRunParseAsNone) {
    for (const char* text : {"", "12", "12-34", "x-34-ab", "12-y-ab", "0-34-ab", "12-34-"})
        EXPECT_EQ(RunId::Parse(QString::fromLatin1(text)).pid, 0) << text;
}
