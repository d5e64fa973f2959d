// The `updater` helper program, run for real on archives the tests craft with libarchive.
#include "HelperArgs.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

using namespace halvora::test;

void PrintTo(const QString& AText, std::ostream* AOut) {
    *AOut << '"' << AText.toStdString() << '"';
}

namespace {

QString HelperPath() {
    return qEnvironmentVariable("HALVORA_TEST_APP_DIR") + "updater";
}

struct Entry {
    Entry(QByteArray AName, char AType = 'f', QByteArray AData = {}, QByteArray ALink = {},
          int AMode = 0644)
        : name(std::move(AName)), type(AType), data(std::move(AData)), link(std::move(ALink)),
          mode(AMode) {}
    QByteArray name;
    char type; // f file, d folder, l symbolic link, h hard link, c character device, p FIFO
    QByteArray data;
    QByteArray link; // target of l and h
    int mode;
};

enum class Kind { Zip, ZipStored, TarGz };

bool MakeArchive(const QString& APath, Kind AKind, const std::vector<Entry>& AEntries) {
    archive* a = archive_write_new();
    if (AKind == Kind::TarGz) {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    } else {
        archive_write_set_format_zip(a);
        if (AKind == Kind::ZipStored)
            archive_write_set_option(a, "zip", "compression", "store");
    }
    bool ok = archive_write_open_filename(a, QFile::encodeName(APath).constData()) == ARCHIVE_OK;
    for (const Entry& e : AEntries) {
        if (!ok)
            break;
        archive_entry* en = archive_entry_new();
        archive_entry_set_pathname(en, e.name.constData());
        archive_entry_set_perm(en, mode_t(e.mode));
        archive_entry_set_mtime(en, 1700000000, 0);
        switch (e.type) {
        case 'd':
            archive_entry_set_filetype(en, AE_IFDIR);
            break;
        case 'l':
            archive_entry_set_filetype(en, AE_IFLNK);
            archive_entry_set_symlink(en, e.link.constData());
            break;
        case 'h':
            archive_entry_set_filetype(en, AE_IFREG);
            archive_entry_set_hardlink(en, e.link.constData());
            break;
        case 'c':
            archive_entry_set_filetype(en, AE_IFCHR);
            archive_entry_set_rdev(en, makedev(1, 3));
            break;
        case 'p':
            archive_entry_set_filetype(en, AE_IFIFO);
            break;
        default:
            archive_entry_set_filetype(en, AE_IFREG);
            archive_entry_set_size(en, e.data.size());
        }
        ok = archive_write_header(a, en) >= ARCHIVE_WARN;
        if (ok && e.type == 'f' && !e.data.isEmpty())
            ok = archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size();
        archive_entry_free(en);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

QByteArray RandomBytes(int ASize) {
    QByteArray b(ASize, Qt::Uninitialized);
    QRandomGenerator gen(42);
    gen.fillRange(reinterpret_cast<quint32*>(b.data()), ASize / 4);
    return b;
}

// Every path below ARoot (links not followed), relative.
QStringList Tree(const QString& ARoot) {
    QStringList out;
    QDirIterator it(ARoot, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(ARoot).relativeFilePath(it.next());
    out.sort();
    return out;
}

// The names in a folder, hidden ones included, sorted byte-wise.
QStringList Names(const QString& ADir) {
    QStringList n = QDir(ADir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    n.sort();
    return n;
}

int RunHelper(const QStringList& AArgs, QString* AStderr = nullptr) {
    QProcess p;
    p.start(HelperPath(), AArgs);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (AStderr)
        *AStderr = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

class Unpack : public ::testing::Test {
protected:
    void SetUp() override {
        outer = NewTempDir("unpack");
        dest = outer + "/app";
        QDir().mkpath(dest);
        ASSERT_TRUE(WriteAll(outer + "/secret", "outside"));
        ASSERT_TRUE(WriteAll(dest + "/halvora", "program"));
        before = Tree(outer);
    }

    // The archive is refused with ACode and nothing changed anywhere.
    void ExpectRefused(Kind AKind, const std::vector<Entry>& AEntries, int ACode,
                       const QStringList& AExtra = {}) {
        const QString archive = outer + "/bad.arc";
        ASSERT_TRUE(MakeArchive(archive, AKind, AEntries));
        QString err;
        EXPECT_EQ(RunHelper(AExtra + QStringList{"--unpack", archive, dest + "/"}, &err), ACode)
            << AEntries.back().name.constData() << " " << err.toStdString();
        QFile::remove(archive);
        EXPECT_EQ(Tree(outer), before) << AEntries.back().name.constData();
        EXPECT_EQ(ReadAll(outer + "/secret"), "outside");
    }

    QString outer, dest;
    QStringList before;
};

} // namespace

TEST(HelperArgs, FormsOfTheCommandLine) {
    using helper::HelperArgs;
    HelperArgs a = helper::ParseHelperArgs({"--unpack", "/tmp/a b.zip", "/opt/app dir/"});
    EXPECT_EQ(a.mode, HelperArgs::Mode::Unpack);
    EXPECT_EQ(a.archive, "/tmp/a b.zip");
    EXPECT_EQ(a.dest, "/opt/app dir/");
    // One parameter text, as a command line would carry it: the separator before the closing
    // quote stays part of the path.
    a = helper::ParseHelperArgs({R"(--unpack "C:\Temp\x.zip" "C:\Program Files\Halvora\")"});
    EXPECT_EQ(a.mode, HelperArgs::Mode::Unpack);
    EXPECT_EQ(a.archive, R"(C:\Temp\x.zip)");
    EXPECT_EQ(a.dest, R"(C:\Program Files\Halvora\)");
    a = helper::ParseHelperArgs(
        {"\"/opt/h/halvora\"", "\"/tmp/Halvora_new\"", "\"/opt/h/halvora\""});
    EXPECT_EQ(a.mode, HelperArgs::Mode::Replace);
    EXPECT_EQ(a.target, "/opt/h/halvora");
    EXPECT_EQ(a.newFile, "/tmp/Halvora_new");
    a = helper::ParseHelperArgs({"--max-bytes=100", "--max-entries=7", "--unpack", "a", "b/"});
    EXPECT_EQ(a.maxBytes, 100u);
    EXPECT_EQ(a.maxEntries, 7u);
    EXPECT_EQ(helper::ParseHelperArgs({"--unpack", "a"}).mode, HelperArgs::Mode::Invalid);
    EXPECT_EQ(helper::ParseHelperArgs({"--unpack", "", "b/"}).mode, HelperArgs::Mode::Invalid);
    EXPECT_EQ(helper::ParseHelperArgs({"--max-bytes=x", "--unpack", "a", "b/"}).mode,
              HelperArgs::Mode::Invalid);
    EXPECT_EQ(RunHelper({"--unpack"}), helper::kUsage);
}

TEST_F(Unpack, WholeArchivesLandInPlace) {
    const QByteArray lib = RandomBytes(200000);
    const std::vector<Entry> entries{
        {"ffmpeg", 'f', "#!/bin/sh\necho ffmpeg\n", {}, 0755},
        {"vlc/", 'd', {}, {}, 0755},
        {"vlc/libvlc.so.5.6.1", 'f', lib, {}, 0644},
        {"vlc/libvlc.so.5", 'l', {}, "libvlc.so.5.6.1"},
        {"vlc/plugins/codec/libx.so", 'f', "plugin", {}, 0644},
        {"vlc/plugins/codec/up", 'l', {}, "../../libvlc.so.5"},
        {"./vlc/plugins/readme", 'f', "readme", {}, 0444},
    };
    for (Kind kind : {Kind::Zip, Kind::TarGz}) {
        const QString archive = outer + (kind == Kind::Zip ? "/c.zip" : "/c.tar.gz");
        ASSERT_TRUE(MakeArchive(archive, kind, entries));
        QString err;
        ASSERT_EQ(RunHelper({"--unpack", archive, dest + "/"}, &err), 0) << err.toStdString();
        EXPECT_EQ(ReadAll(dest + "/vlc/libvlc.so.5"), lib);
        EXPECT_EQ(ReadAll(dest + "/vlc/plugins/codec/up"), lib);
        EXPECT_EQ(ReadAll(dest + "/vlc/plugins/readme"), "readme");
        EXPECT_TRUE(QFileInfo(dest + "/ffmpeg").isExecutable());
        EXPECT_TRUE(QFileInfo(dest + "/vlc/libvlc.so.5").isSymLink());
        // Nothing but the content, and the program that stood there before.
        EXPECT_EQ(Names(dest), QStringList({"ffmpeg", "halvora", "vlc"}));
        // A second run replaces the folder as a whole.
        QFile::remove(dest + "/vlc/plugins/readme");
        ASSERT_TRUE(WriteAll(dest + "/vlc/stray", "left from before"));
        ASSERT_EQ(RunHelper({"--unpack", archive, dest}), 0);
        EXPECT_TRUE(QFileInfo::exists(dest + "/vlc/plugins/readme"));
        EXPECT_FALSE(QFileInfo::exists(dest + "/vlc/stray"));
        QDir(dest + "/vlc").removeRecursively();
        QFile::remove(dest + "/ffmpeg");
        QFile::remove(archive);
    }
    EXPECT_EQ(Tree(outer), before);

    // A hard link to an earlier member (tar only).
    const QString tar = outer + "/h.tar.gz";
    ASSERT_TRUE(
        MakeArchive(tar, Kind::TarGz, {{"vlc/a", 'f', "same"}, {"vlc/b", 'h', {}, "vlc/a"}}));
    // The whole command line as one parameter text.
    ASSERT_EQ(RunHelper({QStringLiteral("--unpack \"%1\" \"%2/\"").arg(tar, dest)}), 0);
    EXPECT_EQ(ReadAll(dest + "/vlc/b"), "same");
}

TEST_F(Unpack, LinksInTheDestinationAreReplacedNotWrittenThrough) {
    // The build links the system's programs into the application folder; a component that
    // replaces one must replace the link, never the file it points at.
    ASSERT_TRUE(QFile::link(outer + "/secret", dest + "/ffmpeg"));
    QDir().mkpath(outer + "/system-vlc");
    ASSERT_TRUE(QFile::link(outer + "/system-vlc", dest + "/vlc"));
    const QString archive = outer + "/c.tar.gz";
    ASSERT_TRUE(
        MakeArchive(archive, Kind::TarGz,
                    {{"ffmpeg", 'f', "new ffmpeg", {}, 0755}, {"vlc/libvlc.so.5", 'f', "lib"}}));
    ASSERT_EQ(RunHelper({"--unpack", archive, dest + "/"}), 0);
    EXPECT_EQ(ReadAll(outer + "/secret"), "outside");
    EXPECT_FALSE(QFileInfo(dest + "/ffmpeg").isSymLink());
    EXPECT_EQ(ReadAll(dest + "/ffmpeg"), "new ffmpeg");
    EXPECT_FALSE(QFileInfo(dest + "/vlc").isSymLink());
    EXPECT_EQ(ReadAll(dest + "/vlc/libvlc.so.5"), "lib");
    EXPECT_TRUE(QDir(outer + "/system-vlc").isEmpty());
}

TEST_F(Unpack, HostileEntriesAreRefused) {
    const Entry good{"vlc/good", 'f', "fine"};
    const QByteArray abs = QFile::encodeName(outer) + "/abs-evil";
    const QByteArray secret = QFile::encodeName(outer) + "/secret";
    const std::vector<std::vector<Entry>> cases{
        {good, {"../evil", 'f', "x"}},
        {good, {"vlc/../../evil", 'f', "x"}},
        {good, {abs, 'f', "x"}},
        {good, {"vlc\\..\\..\\evil", 'f', "x"}},
        {good, {"vlc/out", 'l', {}, "../../secret"}},
        {good, {"vlc/abs", 'l', {}, secret}},
        {good, {"vlc/up", 'l', {}, "sub/../../.."}},
        {good, {"vlc/dir", 'l', {}, "."}, {"vlc/dir/x", 'f', "through a link"}},
        {good, {"vlc/good", 'f', "again"}},
        {good, {".updater-staging-1-x", 'f', "x"}},
    };
    for (Kind kind : {Kind::Zip, Kind::TarGz})
        for (const auto& c : cases)
            ExpectRefused(kind, c, helper::kUnsafeEntry);
    // Kinds zip can't carry.
    const std::vector<std::vector<Entry>> tarOnly{
        {good, {"vlc/hard", 'h', {}, secret}},
        {good, {"vlc/hard", 'h', {}, "../secret"}},
        {good, {"vlc/hard", 'h', {}, "vlc/missing"}},
        {good, {"vlc/null", 'c'}},
        {good, {"vlc/fifo", 'p'}},
        {good, {"vlc/suid", 'f', "x", {}, 04755}},
        {good, {"vlc/sgid", 'd', {}, {}, 02755}},
    };
    for (const auto& c : tarOnly)
        ExpectRefused(Kind::TarGz, c, helper::kUnsafeEntry);
}

TEST_F(Unpack, BombsAndBrokenArchives) {
    // 64 MiB of zeros packs into a few dozen KiB.
    ExpectRefused(Kind::TarGz, {{"vlc/zeros", 'f', QByteArray(64 << 20, '\0')}},
                  helper::kLimitExceeded, {"--max-bytes=16777216"});
    ExpectRefused(Kind::Zip, {{"vlc/zeros", 'f', QByteArray(64 << 20, '\0')}},
                  helper::kLimitExceeded, {"--max-bytes=16777216"});
    std::vector<Entry> many;
    for (int i = 0; i < 300; ++i)
        many.push_back({"vlc/f" + QByteArray::number(i), 'f', "x"});
    ExpectRefused(Kind::Zip, many, helper::kLimitExceeded, {"--max-entries=100"});

    const std::vector<Entry> content{{"vlc/a", 'f', RandomBytes(300000)},
                                     {"vlc/b", 'f', RandomBytes(300000)}};
    const QString tgz = outer + "/c.tar.gz", zip = outer + "/c.zip";
    ASSERT_TRUE(MakeArchive(tgz, Kind::TarGz, content));
    ASSERT_TRUE(MakeArchive(zip, Kind::Zip, content));
    const QByteArray tgzBytes = ReadAll(tgz), zipBytes = ReadAll(zip);
    before = Tree(outer);

    auto expectBroken = [&](const QByteArray& ABytes, const char* AWhat) {
        ASSERT_TRUE(WriteAll(outer + "/c.tar.gz", ABytes));
        QString err;
        EXPECT_EQ(RunHelper({"--unpack", outer + "/c.tar.gz", dest + "/"}, &err),
                  helper::kArchiveUnreadable)
            << AWhat << " " << err.toStdString();
        EXPECT_EQ(Tree(outer), before) << AWhat;
    };
    expectBroken(tgzBytes.left(tgzBytes.size() / 2), "truncated tar.gz");
    expectBroken(zipBytes.left(zipBytes.size() - 200), "truncated zip");
    QByteArray flipped = zipBytes;
    flipped[450000] = char(flipped[450000] ^ 0x55); // inside the second member's data
    expectBroken(flipped, "corrupt zip");
    flipped = tgzBytes;
    flipped[300000] = char(flipped[300000] ^ 0x55);
    expectBroken(flipped, "corrupt tar.gz");
    expectBroken("this is not an archive at all", "text");
    ASSERT_TRUE(WriteAll(outer + "/c.tar.gz", tgzBytes));

    QFile::remove(outer + "/c.tar.gz");
    EXPECT_EQ(RunHelper({"--unpack", outer + "/c.tar.gz", dest + "/"}), helper::kArchiveUnreadable);
    EXPECT_EQ(RunHelper({"--unpack", zip, outer + "/no-such-folder/"}), helper::kWriteFailed);
    EXPECT_FALSE(QFileInfo::exists(outer + "/no-such-folder"));
}

TEST_F(Unpack, KilledHalfWayLeavesNoComponent) {
    std::vector<Entry> big;
    const QByteArray block = RandomBytes(1 << 20);
    for (int i = 0; i < 96; ++i)
        big.push_back({"vlc/plugins/p" + QByteArray::number(i), 'f', block});
    const QString archive = outer + "/big.zip";
    ASSERT_TRUE(MakeArchive(archive, Kind::ZipStored, big));

    QProcess p;
    p.start(HelperPath(), {"--unpack", archive, dest + "/"});
    ASSERT_TRUE(p.waitForStarted());
    // Wait until the first member is being written, then kill it outright.
    QElapsedTimer t;
    t.start();
    bool writing = false;
    while (!writing && t.elapsed() < 20000 && p.state() == QProcess::Running) {
        for (const QString& f : Tree(dest))
            writing = writing || f.endsWith("/vlc/plugins/p0");
        if (!writing)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(writing) << "the helper finished before it could be interrupted";
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished();
    EXPECT_FALSE(QFileInfo::exists(dest + "/vlc"));
    EXPECT_FALSE(QFileInfo::exists(outer + "/vlc"));

    // The next run clears what the killed one left and installs the component.
    ASSERT_EQ(RunHelper({"--unpack", archive, dest + "/"}), 0);
    EXPECT_EQ(Names(dest), QStringList({"halvora", "vlc"}));
    EXPECT_EQ(QDir(dest + "/vlc/plugins").entryList(QDir::Files).size(), 96);
}

namespace {

class Replace : public ::testing::Test {
protected:
    void SetUp() override {
        dir = NewTempDir("replace");
        target = dir + "/halvora";
        fresh = dir + "/Halvora_new";
        marker = dir + "/marker.txt";
        ASSERT_TRUE(QFile::copy(HELPER_TEST_APP_OLD, target));
        ASSERT_TRUE(QFile::copy(HELPER_TEST_APP_NEW, fresh));
        oldBytes = ReadAll(target);
        newBytes = ReadAll(fresh);
        qputenv("HALVORA_TEST_MARKER", QFile::encodeName(marker));
    }
    void TearDown() override {
        qunsetenv("HALVORA_TEST_MARKER");
        if (running.state() != QProcess::NotRunning) {
            running.kill();
            running.waitForFinished();
        }
    }
    // The old program, alive for ALingerMs.
    void StartOld(int ALingerMs) {
        running.start(target, {"--linger", QString::number(ALingerMs)});
        ASSERT_TRUE(running.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return ReadAll(marker).contains("old start"); }, 10000));
    }
    QStringList MarkerLines() const {
        QStringList lines;
        for (const QByteArray& l : ReadAll(marker).split('\n'))
            if (!l.isEmpty())
                lines << QString::fromUtf8(l.left(l.lastIndexOf(' ')));
        return lines;
    }

    QString dir, target, fresh, marker;
    QByteArray oldBytes, newBytes;
    QProcess running;
};

} // namespace

TEST_F(Replace, WaitsForTheOldProgramThenStartsTheNewOne) {
    StartOld(700);
    QString err;
    EXPECT_EQ(RunHelper({target, fresh, target}, &err), 0) << err.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return MarkerLines().contains("new exit"); }, 10000));
    // The old program had ended before the new one started.
    EXPECT_EQ(MarkerLines(), QStringList({"old start", "old exit", "new start", "new exit"}));
    EXPECT_EQ(ReadAll(target), newBytes);
    EXPECT_TRUE(QFileInfo(target).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(fresh));
    EXPECT_EQ(Names(dir), QStringList({"halvora", "marker.txt"}));
}

TEST_F(Replace, RunningProgramByProcessId) {
    StartOld(500);
    EXPECT_EQ(RunHelper({target, fresh, QString::number(running.processId())}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return MarkerLines().contains("new exit"); }, 10000));
    EXPECT_EQ(MarkerLines().indexOf("old exit"), 1);
    EXPECT_EQ(ReadAll(target), newBytes);
}

TEST_F(Replace, FailuresLeaveTheOldProgram) {
    // Still running when the wait ends.
    StartOld(60000);
    EXPECT_EQ(RunHelper({"--wait-ms=300", target, fresh, target}), helper::kStillRunning);
    EXPECT_EQ(ReadAll(target), oldBytes);
    running.kill();
    running.waitForFinished();

    EXPECT_EQ(RunHelper({target, dir + "/missing", target}), helper::kReplaceFailed);
    ASSERT_TRUE(WriteAll(dir + "/empty", ""));
    EXPECT_EQ(RunHelper({target, dir + "/empty", target}), helper::kReplaceFailed);
    EXPECT_EQ(RunHelper({dir + "/no/such/halvora", fresh, target}), helper::kReplaceFailed);
    EXPECT_EQ(ReadAll(target), oldBytes);
    EXPECT_TRUE(QFileInfo(target).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(fresh));
    // No temporary copy stays beside the program.
    EXPECT_EQ(Names(dir), QStringList({"Halvora_new", "empty", "halvora", "marker.txt"}));
    EXPECT_FALSE(MarkerLines().contains("new start"));
}
