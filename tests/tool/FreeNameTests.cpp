#include "FreeName.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace halvora;
using halvora::test::NewTempDir;
using halvora::test::ReadAll;
using halvora::test::WriteAll;

TEST(FreeName, NumberedNames) {
    EXPECT_EQ(NumberedName("/o/output.mp4", 1), "/o/output.mp4");
    EXPECT_EQ(NumberedName("/o/output.mp4", 2), "/o/output (2).mp4");
    EXPECT_EQ(NumberedName("/o/output.mp4", 13), "/o/output (13).mp4");
    EXPECT_EQ(NumberedName("/o/a.b.ts", 2), "/o/a.b (2).ts");
    EXPECT_EQ(NumberedName("/o.d/noext", 3), "/o.d/noext (3)");
    EXPECT_EQ(NumberedName("/o/.hidden", 2), "/o/.hidden (2)");
    EXPECT_EQ(NumberedName("rel.mp4", 2), "rel (2).mp4");
}

TEST(FreeName, ReservesTheFirstNumberFreeForAllNames) {
    const QString dir = NewTempDir("free");
    const QString ts = dir + "/output.ts";
    const QString mp4 = dir + "/output.mp4";

    // A free number: the names themselves, created empty.
    EXPECT_EQ(ReserveFreeNames({ts, mp4}), (QStringList{ts, mp4}));
    EXPECT_EQ(QFileInfo(ts).size(), 0);
    EXPECT_EQ(QFileInfo(mp4).size(), 0);

    // Only the MP4 of the first number is taken: both move on, and the TS of number 1 that was
    // created on the way is gone again.
    ASSERT_TRUE(QFile::remove(ts));
    ASSERT_TRUE(WriteAll(dir + "/output (2).mp4", "kept"));
    QDir().mkpath(dir + "/output (3).ts"); // a folder of the name counts as taken
    ASSERT_TRUE(QFile::link(dir + "/nowhere", dir + "/output (4).ts")); // so does a dead link
    EXPECT_EQ(ReserveFreeNames({ts, mp4}),
              (QStringList{dir + "/output (5).ts", dir + "/output (5).mp4"}));
    EXPECT_FALSE(QFile::exists(ts));
    EXPECT_FALSE(QFileInfo(dir + "/output (4).ts").isFile());
    EXPECT_FALSE(QFile::exists(dir + "/nowhere"));
    EXPECT_EQ(ReadAll(dir + "/output (2).mp4"), "kept");
    EXPECT_EQ(ReserveFreeName(mp4), dir + "/output (3).mp4");

    // A folder nobody may write into: no name, a reason, nothing made.
    const QString locked = NewTempDir("locked");
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (::access(QFile::encodeName(locked).constData(), W_OK) != 0) { // root writes anyway
        QString err;
        EXPECT_TRUE(ReserveFreeNames({locked + "/a.ts", locked + "/a.mp4"}, &err).isEmpty());
        EXPECT_TRUE(err.startsWith(locked + "/a.ts: ")) << err.toStdString();
        EXPECT_TRUE(QDir(locked).isEmpty());
    }
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QString err;
    EXPECT_TRUE(ReserveFreeNames({dir + "/missing/a.mp4"}, &err).isEmpty());
    EXPECT_FALSE(err.isEmpty());
    // Nor root makes files here; the pair's first name is not left behind either.
    EXPECT_TRUE(ReserveFreeNames({dir + "/b.ts", "/proc/b.mp4"}, &err).isEmpty());
    EXPECT_TRUE(err.startsWith("/proc/b.mp4: ")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/b.ts"));
}

TEST(FreeName, DropsOnlyWhatWasNeverWritten) {
    const QString dir = NewTempDir("drop");
    const QString empty = ReserveFreeName(dir + "/a.mp4");
    const QString written = ReserveFreeName(dir + "/a.mp4");
    ASSERT_TRUE(WriteAll(written, "data"));
    DropUnwritten(empty);
    DropUnwritten(written);
    DropUnwritten(dir + "/none.mp4");
    EXPECT_FALSE(QFile::exists(empty));
    EXPECT_EQ(ReadAll(written), "data");
    // An empty file behind a link is not ours to remove through it.
    ASSERT_TRUE(WriteAll(dir + "/target.mp4", ""));
    ASSERT_TRUE(QFile::link(dir + "/target.mp4", dir + "/link.mp4"));
    DropUnwritten(dir + "/link.mp4");
    EXPECT_TRUE(QFile::exists(dir + "/target.mp4"));
}

TEST(FreeName, TemporaryFilesBesideAndAtomicReplace) {
    const QString dir = NewTempDir("temp");
    const QString a = ReserveTempBeside(dir + "/clip.v1.mp4");
    const QString b = ReserveTempBeside(dir + "/clip.v1.mp4");
    EXPECT_NE(a, b);
    for (const QString& t : {a, b}) {
        // Hidden, beside the file, the extension last so ffmpeg still picks the format.
        EXPECT_EQ(QFileInfo(t).path(), dir);
        EXPECT_TRUE(QFileInfo(t).fileName().startsWith(".clip.v1.tmp-")) << t.toStdString();
        EXPECT_TRUE(t.endsWith(".mp4"));
        EXPECT_EQ(QFileInfo(t).size(), 0);
    }
    const QString bare = ReserveTempBeside(dir + "/noext");
    EXPECT_TRUE(QFileInfo(bare).fileName().startsWith(".noext.tmp-")) << bare.toStdString();
    QString err;
    EXPECT_TRUE(ReserveTempBeside(dir + "/missing/a.mp4", &err).isEmpty());
    EXPECT_TRUE(err.startsWith(dir + "/missing/.a.tmp-")) << err.toStdString();

    // The new content takes the name and the old file's permissions; the temporary is gone.
    const QString target = dir + "/clip.v1.mp4";
    ASSERT_TRUE(WriteAll(target, "old"));
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(target, mode));
    ASSERT_TRUE(WriteAll(a, "new"));
    EXPECT_TRUE(ReplaceWithTemp(a, target, &err)) << err.toStdString();
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(QFile::permissions(target) &
                  ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
              mode);

    // A rename that cannot happen leaves both files as they were.
    EXPECT_FALSE(ReplaceWithTemp(b, dir + "/missing/clip.mp4", &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_TRUE(QFile::exists(b));
    EXPECT_EQ(ReadAll(target), "new");
}
