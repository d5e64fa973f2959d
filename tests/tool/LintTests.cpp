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

// Waiting a fixed time instead of for a condition makes tests slow and flaky.
TEST(TestSuiteLint, NoBlindWaits) {
    const QStringList hits = Offending(QRegularExpression(QStringLiteral("\\bqWait\\s*\\(")));
    EXPECT_TRUE(hits.isEmpty()) << hits.join('\n').toStdString();
}
