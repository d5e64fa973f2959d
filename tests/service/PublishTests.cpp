// halvora-publish as its own program: what it writes, what it refuses (with the helper's own
// archive rules), and a publish killed half-way.
#include "Download.h"
#include "Publish.h"
#include "ServiceFixture.h"
#include "TestSupport.h"
#include "Updater.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

using namespace halvora;
using namespace halvora::test;

namespace {

// One crafted member: type 'f' file, 'd' folder, 'l' link, 'c' device.
struct Member {
    QByteArray name;
    char type = 'f';
    QByteArray data;
    int mode = 0644;
};

QString TarGz(const QString& APath, const QList<Member>& AMembers) {
    archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter_gzip(a);
    archive_write_open_filename(a, QFile::encodeName(APath).constData());
    for (const Member& m : AMembers) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.constData());
        archive_entry_set_perm(e, mode_t(m.mode));
        const mode_t type = m.type == 'd'   ? AE_IFDIR
                            : m.type == 'l' ? AE_IFLNK
                            : m.type == 'c' ? AE_IFCHR
                                            : AE_IFREG;
        archive_entry_set_filetype(e, type);
        if (m.type == 'l')
            archive_entry_set_symlink(e, m.data.constData());
        if (m.type == 'f')
            archive_entry_set_size(e, m.data.size());
        archive_write_header(a, e);
        if (m.type == 'f')
            archive_write_data(a, m.data.constData(), size_t(m.data.size()));
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return APath;
}

// A tar.gz whose one member claims 5 GiB: only its header and a little data are there.
QString ClaimsHugeMember(const QString& APath) {
    char header[512] = {};
    std::snprintf(header, 100, "ffmpeg");
    std::snprintf(header + 100, 8, "%07o", 0644);
    std::snprintf(header + 108, 8, "%07o", 0);
    std::snprintf(header + 116, 8, "%07o", 0);
    std::snprintf(header + 124, 12, "%011llo", 5ull << 30);
    std::snprintf(header + 136, 12, "%011o", 1700000000);
    header[156] = '0';
    std::memcpy(header + 257, "ustar", 6);
    std::memcpy(header + 263, "00", 2);
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : header)
        sum += c;
    std::snprintf(header + 148, 8, "%06o", sum);
    gzFile gz = gzopen(QFile::encodeName(APath).constData(), "wb");
    gzwrite(gz, header, sizeof header);
    const QByteArray some(1 << 16, '\0');
    gzwrite(gz, some.constData(), unsigned(some.size()));
    gzclose(gz);
    return APath;
}

struct Release {
    Release() : dir(NewTempDir("release")) {}
    void write(const QByteArray& AJson) { WriteAll(dir + "/release.json", AJson); }
    // A release with ffmpeg and vlc archives, and a program file when AVersion is set.
    void standard(const QString& AVersion, const QString& ASuffix = "1") {
        TarGz(dir + "/ffmpeg-" + ASuffix + ".tar.gz",
              {{"ffmpeg", 'f', "#!/bin/sh\necho ff" + ASuffix.toUtf8(), 0755}});
        TarGz(dir + "/vlc-" + ASuffix + ".tar.gz", {{"vlc", 'd', {}, 0755},
                                                    {"vlc/libvlc.so.5", 'f', "lib"},
                                                    {"vlc/plugins", 'd', {}, 0755}});
        WriteAll(dir + "/halvora", "#!/bin/sh\necho " + AVersion.toUtf8() + "\n");
        write(QString(R"({"version":"%1","program":"halvora","url_base":"https://127.0.0.1:9/",
                         "notes":"Fixes","components":[
                           {"id":"ffmpeg","name":"FFmpeg","file":"ffmpeg-%2.tar.gz"},
                           {"id":"vlc","name":"VLC runtime","file":"vlc-%2.tar.gz"}]})")
                  .arg(AVersion, ASuffix)
                  .toUtf8());
    }
    QString dir;
};

QString Sha256Sum(const QString& AFile) {
    QProcess p;
    p.start("sha256sum", {AFile});
    p.waitForFinished(30000);
    return QString::fromLatin1(p.readAllStandardOutput().left(64));
}

// Every file the two lists name is there, with its size and digest.
void ExpectWholeRelease(const QString& ASite, const QString& AVersion) {
    QList<ComponentEntry> list;
    ASSERT_EQ(ParseComponentList(ReadAll(ASite + "/update/components.json"), list),
              ComponentListStatus::Ok);
    ASSERT_FALSE(list.isEmpty());
    for (const ComponentEntry& e : list) {
        const QString f = ASite + "/update/components/" + e.file;
        EXPECT_EQ(QFileInfo(f).size(), e.size) << qPrintable(e.file);
        EXPECT_EQ(Sha256Sum(f), e.sha256) << qPrintable(e.file);
    }
    UpdateManifest m;
    ASSERT_TRUE(ParseUpdateManifest(ReadAll(ASite + "/update/version.json"), m));
    EXPECT_EQ(m.version, AVersion);
    const QString program = ASite + "/update/" + m.url.section('/', -1);
    EXPECT_TRUE(m.url.startsWith("https://127.0.0.1:9/update/halvora-"));
    EXPECT_EQ(QFileInfo(program).size(), m.size);
    EXPECT_EQ(Sha256Sum(program), m.sha256);
    EXPECT_TRUE(QFileInfo(program).isExecutable());
}

QStringList Tree(const QString& ARoot) {
    QStringList out;
    QDirIterator it(ARoot, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        out << p.mid(ARoot.size()) + ":" + Sha256Sum(p);
    }
    out.sort();
    return out;
}

} // namespace

TEST(Publish, GoodReleaseWithComputedSizesAndDigests) {
    Release r;
    r.standard("1.0.32.0");
    const QString site = NewTempDir("site");
    QString out;
    ASSERT_EQ(RunPublish(r.dir, site, &out), 0) << qPrintable(out);
    ExpectWholeRelease(site, "1.0.32.0");
    UpdateManifest m;
    ParseUpdateManifest(ReadAll(site + "/update/version.json"), m);
    EXPECT_EQ(m.notes, "Fixes");
    EXPECT_EQ(TUpdater::ReleaseNumber(m.version), 32);
    QList<ComponentEntry> list;
    ParseComponentList(ReadAll(site + "/update/components.json"), list);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].id, "ffmpeg");
    EXPECT_EQ(list[0].name, "FFmpeg");
    EXPECT_EQ(list[1].name, "VLC runtime");
    // Nothing beside the published files but the lock.
    for (const QString& f : Tree(site))
        EXPECT_FALSE(f.contains("/.publish-")) << qPrintable(f);

    // A newer release is published beside the old archives; an older or equal one is refused.
    Release next;
    next.standard("1.0.33.0", "2");
    ASSERT_EQ(RunPublish(next.dir, site, &out), 0) << qPrintable(out);
    ExpectWholeRelease(site, "1.0.33.0");
    EXPECT_TRUE(QFileInfo::exists(site + "/update/components/ffmpeg-1.tar.gz"));
    const QStringList before = Tree(site);
    for (const char* v : {"1.0.33.0", "2.0.5.0", "1.0.32.9", "1.2"}) {
        Release old;
        old.standard(v, "3");
        EXPECT_EQ(RunPublish(old.dir, site, &out), 1) << v;
        EXPECT_TRUE(out.contains("not newer") || out.contains("four-part")) << qPrintable(out);
    }
    EXPECT_EQ(Tree(site), before);
}

TEST(Publish, RefusesWhatTheProgramOrItsHelperWouldRefuse) {
    const QString site = NewTempDir("site");
    Release first;
    first.standard("1.0.32.0");
    ASSERT_EQ(RunPublish(first.dir, site), 0);
    const QStringList before = Tree(site);

    struct Case {
        const char* why;
        std::function<void(Release&)> make;
        const char* says;
    };
    auto archive = [](const QList<Member>& AMembers) {
        return [AMembers](Release& r) {
            r.standard("1.0.40.0", "9");
            TarGz(r.dir + "/ffmpeg-9.tar.gz", AMembers);
        };
    };
    const QList<Case> cases = {
        {"absolute path", archive({{"ffmpeg", 'f', "x"}, {"/tmp/evil", 'f', "x"}}), "absolute"},
        {"dot-dot", archive({{"ffmpeg", 'f', "x"}, {"../evil", 'f', "x"}}), ".."},
        {"escaping link", archive({{"ffmpeg", 'f', "x"}, {"out", 'l', "../../etc"}}), "link"},
        {"device", archive({{"ffmpeg", 'f', "x"}, {"null", 'c', {}, 0644}}), "special"},
        {"set-id bit", archive({{"ffmpeg", 'f', "x", 04755}}), "set-id"},
        {"entry twice", archive({{"ffmpeg", 'f', "x"}, {"ffmpeg", 'f', "y"}}), "twice"},
        {"bomb",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             ClaimsHugeMember(r.dir + "/ffmpeg-9.tar.gz");
         },
         "limit"},
        {"not an archive",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             WriteAll(r.dir + "/ffmpeg-9.tar.gz", "plain text");
         },
         "refuse"},
        {"component not installed by its archive", archive({{"bin/ffmpeg", 'f', "x"}}),
         "does not install"},
        {"duplicate id",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             r.write(
                 R"({"version":"1.0.40.0","components":[{"id":"ffmpeg","file":"ffmpeg-9.tar.gz"},
                        {"id":"FFMPEG","file":"vlc-9.tar.gz"}]})");
         },
         "duplicate"},
        {"file name with a blank",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             QFile::rename(r.dir + "/vlc-9.tar.gz", r.dir + "/vlc 9.tar.gz");
             r.write(R"({"components":[{"id":"vlc","file":"vlc 9.tar.gz"}]})");
         },
         "name refused"},
        {"hidden file name",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             QFile::rename(r.dir + "/vlc-9.tar.gz", r.dir + "/.vlc-9.tar.gz");
             r.write(R"({"components":[{"id":"vlc","file":".vlc-9.tar.gz"}]})");
         },
         "name refused"},
        {"archive replaced under a published name",
         [](Release& r) {
             r.standard("1.0.40.0", "1");
             TarGz(r.dir + "/ffmpeg-1.tar.gz", {{"ffmpeg", 'f', "other content", 0755}});
         },
         "already published"},
        {"program over http",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             QByteArray j = ReadAll(r.dir + "/release.json");
             r.write(j.replace("https://", "http://"));
         },
         "https"},
        {"unknown key",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             r.write(R"({"components":[],"versoin":"1"})");
         },
         "unknown key"},
        // As every JSON the program reads: the first of a repeated key counts.
        {"repeated key, the first not a list",
         [](Release& r) {
             r.standard("1.0.40.0", "9");
             QByteArray j = ReadAll(r.dir + "/release.json");
             r.write(j.insert(j.indexOf('{') + 1, R"("components":"none",)"));
         },
         "must be an array"},
    };
    for (const Case& k : cases) {
        Release r;
        k.make(r);
        QString out;
        EXPECT_EQ(RunPublish(r.dir, site, &out), 1) << k.why << ": " << qPrintable(out);
        EXPECT_TRUE(out.contains(k.says)) << k.why << ": " << qPrintable(out);
        EXPECT_EQ(Tree(site), before) << k.why;
    }
}

TEST(Publish, KilledHalfWayLeavesThePreviousReleaseWhole) {
    const QString site = NewTempDir("site");
    Release first;
    first.standard("1.0.32.0");
    ASSERT_EQ(RunPublish(first.dir, site), 0);
    const QByteArray list = ReadAll(site + "/update/components.json");
    const QByteArray manifest = ReadAll(site + "/update/version.json");

    // One release folder throughout: a name once published keeps its content.
    Release next;
    next.standard("1.0.33.0", "2");
    for (const char* step : {"archive", "program"}) {
        EXPECT_EQ(RunPublish(next.dir, site, nullptr, step), -1) << step;
        EXPECT_EQ(ReadAll(site + "/update/components.json"), list) << step;
        EXPECT_EQ(ReadAll(site + "/update/version.json"), manifest) << step;
        ExpectWholeRelease(site, "1.0.32.0");
    }
    // Killed after version.json: each list still names only whole files.
    EXPECT_EQ(RunPublish(next.dir, site, nullptr, "version"), -1);
    EXPECT_EQ(ReadAll(site + "/update/components.json"), list);
    ExpectWholeRelease(site, "1.0.33.0");

    // Published again, whole, without leftovers.
    next.write(ReadAll(next.dir + "/release.json").replace("1.0.33.0", "1.0.34.0"));
    QString out;
    ASSERT_EQ(RunPublish(next.dir, site, &out), 0) << qPrintable(out);
    ExpectWholeRelease(site, "1.0.34.0");
    for (const QString& f : Tree(site))
        EXPECT_FALSE(f.contains("/.publish-")) << qPrintable(f);
}

TEST(Publish, NamesSafeForTheProgramAndItsUrls) {
    EXPECT_TRUE(publish::IsPublishableName("ffmpeg-6.1_linux+x64.tar.gz"));
    for (const char* bad :
         {"", ".", "..", ".hidden", "a/b", "a\\b", "a b", "a?b", "a#b", "a%20b", "ä.tar.gz"})
        EXPECT_FALSE(publish::IsPublishableName(QString::fromUtf8(bad))) << bad;
}
