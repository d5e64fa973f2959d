// Habits of the test suite that a compiler cannot check.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QStringList Offending(const QRegularExpression& APattern) {
    QStringList hits;
    QDirIterator it(QStringLiteral(HALVORA_SOURCE_DIR "/tests"),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.fileName().endsWith(QStringLiteral("/LintTests.cpp")))
            continue; // its own examples of what it looks for
        if (!f.open(QIODevice::ReadOnly))
            continue;
        int line = 0;
        while (!f.atEnd()) {
            ++line;
            const QString text = QString::fromUtf8(f.readLine());
            if (APattern.match(text).hasMatch())
                hits << QStringLiteral("%1:%2").arg(f.fileName()).arg(line);
        }
    }
    return hits;
}

} // namespace

// QtTest's macros only return from the function on failure; under GoogleTest that is a pass.
TEST(TestSuiteLint, NoQtTestAssertionsUnderGoogleTest) {
    const QString macros = QStringLiteral("QTRY_[A-Z_]+|QVERIFY2?|QCOMPARE");
    const QStringList hits =
        Offending(QRegularExpression(QStringLiteral("\\b(%1)\\s*\\(").arg(macros)));
    EXPECT_TRUE(hits.isEmpty()) << hits.join('\n').toStdString();
}

// Waiting a fixed time instead of for a condition makes tests slow and flaky: qWait, and
// waits whose only condition is a clock (a qWaitFor that returns an elapsed time compared, a
// loop that runs until a timer passes a mark).
QRegularExpression BlindWait() {
    return QRegularExpression(QStringLiteral(
        "\\bqWait\\s*\\("
        "|qWaitFor\\s*\\(\\s*\\[[^\\]]*\\]\\s*(\\(\\s*\\))?\\s*\\{\\s*return\\s+!?\\s*[\\w.>-]+\\."
        "(elapsed|hasExpired)\\(\\)[^;&|]*;\\s*\\}"
        "|while\\s*\\(\\s*[\\w.>-]+\\.elapsed\\(\\)\\s*<[^&|()]*\\)"));
}

TEST(TestSuiteLint, NoBlindWaits) {
    const QRegularExpression blind = BlindWait();
    for (const char* wait :
         {"QTest::qWait(100);",
          "ASSERT_TRUE(QTest::qWaitFor([&] { return clock.elapsed() >= next; }, 1000));",
          "QTest::qWaitFor([] { return t.hasExpired(); });", "while (timer.elapsed() < 500)"})
        EXPECT_TRUE(blind.match(QString::fromUtf8(wait)).hasMatch()) << wait;
    for (const char* wait :
         {"ASSERT_TRUE(QTest::qWaitFor([&] { return grabbed.count() > 0; }, 10000));",
          "while (!writing && t.elapsed() < 20000 && p.state() == QProcess::Running) {"})
        EXPECT_FALSE(blind.match(QString::fromUtf8(wait)).hasMatch()) << wait;
    const QStringList hits = Offending(blind);
    EXPECT_TRUE(hits.isEmpty()) << hits.join('\n').toStdString();
}
