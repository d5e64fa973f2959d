#include "Publish.h"

#include "Download.h"
#include "HelperArgs.h"
#include "SiteFiles.h"
#include "Unpack.h"
#include "Updater.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::publish {

namespace {

bool IsKnownId(const QString& AId) {
    return AId.compare(QStringLiteral("ffmpeg"), Qt::CaseInsensitive) == 0 ||
           AId.compare(QStringLiteral("vlc"), Qt::CaseInsensitive) == 0;
}

// The program's own presence test on an unpacked tree. An updater makes its download folder in
// the temporary folder; here that is the scratch folder, so no Halvora_update of the maker's
// user is left in the shared temporary folder for the program to trip over.
bool PresentAfterUnpack(const QString& ADir, const QString& AId) {
    const QByteArray tmpdir = qgetenv("TMPDIR");
    const bool hadTmpdir = qEnvironmentVariableIsSet("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(ADir + QStringLiteral("/.tmp")));
    const bool present = TUpdater(ADir).IsComponentPresent(AId);
    if (hadTmpdir)
        qputenv("TMPDIR", tmpdir);
    else
        qunsetenv("TMPDIR");
    return present;
}

// Unpacks the archive with the helper's own code into a scratch folder: whatever the helper
// would refuse is refused here, for the same reason. A known component must also unpack into
// what the program counts as installed, or every start-up would fetch it again.
bool CheckArchive(const ComponentDescription& AComp, const QString& AArchive, QString& AErr) {
    QByteArray scratch = Path(QDir::tempPath() + QStringLiteral("/halvora-publish-check-XXXXXX"));
    if (!::mkdtemp(scratch.data())) {
        AErr = QStringLiteral("cannot create a scratch folder: ") + ErrnoText();
        return false;
    }
    const QString dir = QFile::decodeName(scratch);
    const helper::HelperArgs limits;
    std::string err;
    const int rc = helper::Unpack(Path(AArchive).toStdString(), scratch.toStdString(),
                                  limits.maxBytes, limits.maxEntries, err);
    bool ok = rc == helper::kOk;
    if (!ok) {
        AErr = QStringLiteral("%1: the updater helper would refuse this archive (%2)")
                   .arg(AComp.file, QString::fromStdString(err));
    } else if (IsKnownId(AComp.id) && !PresentAfterUnpack(dir, AComp.id)) {
        AErr = QStringLiteral("%1: unpacking it does not install the component \"%2\"")
                   .arg(AComp.file, AComp.id);
        ok = false;
    }
    QDir(dir).removeRecursively();
    return ok;
}

// A file of this name that is already published must be the same file: clients that read the
// previous list verify it against the digest they were given.
bool SameAsPublished(const QString& APublished, const QString& ADigest, QString& AErr) {
    if (!QFileInfo::exists(APublished))
        return true;
    QString readErr;
    const QString published = FileSha256(APublished, readErr);
    if (published == ADigest)
        return true;
    AErr = QStringLiteral("%1 is already published with other content; give the new file a new "
                          "name")
               .arg(QFileInfo(APublished).fileName());
    return false;
}

class PublishLock {
public:
    explicit PublishLock(const QString& AFile) {
        fd = ::open(Path(AFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    ~PublishLock() {
        if (fd >= 0)
            ::close(fd);
    }
    PublishLock(const PublishLock&) = delete;
    PublishLock& operator=(const PublishLock&) = delete;
    bool locked = false;

private:
    int fd = -1;
};

struct Digested {
    QString sha256;
    qint64 size = 0;
};

// A url_base the program can fetch the new program file from: https, no query, fragment or
// space.
bool IsServiceBase(const QString& ABase) {
    return ABase.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive) && ABase.size() > 8 &&
           !ABase.contains(QLatin1Char('?')) && !ABase.contains(QLatin1Char('#')) &&
           !ABase.contains(QLatin1Char(' '));
}

// The program only offers a release newer than the one it was told about before.
bool NewerThanPublished(const QString& AUpdateDir, const QString& AVersion, int AReleaseNumber,
                        QString& AErr) {
    QFile published(AUpdateDir + QStringLiteral("/version.json"));
    UpdateManifest old;
    if (!published.open(QIODevice::ReadOnly) || !ParseUpdateManifest(published.read(16 << 20), old))
        return true;
    const int oldRelease = TUpdater::ReleaseNumber(old.version);
    if (AReleaseNumber > oldRelease)
        return true;
    AErr = QStringLiteral("version %1 (release %2) is not newer than the published "
                          "%3 (release %4); the program would not offer it")
               .arg(AVersion)
               .arg(AReleaseNumber)
               .arg(old.version)
               .arg(oldRelease);
    return false;
}

// One run of Publish: the checks, then the files in the order readers rely on.
class Publisher {
public:
    Publisher(const QString& AReleaseDir, const QString& ASiteDir, const PublishOptions& AOptions,
              QString& AErr)
        : releaseDir(AReleaseDir), siteDir(ASiteDir), update(ASiteDir + QStringLiteral("/update")),
          store(update + QStringLiteral("/components")), options(AOptions), err(AErr) {}

    bool run() {
        if (!ReadReleaseDescription(releaseDir, release, err))
            return false;
        if (!checkComponents() || !checkProgram())
            return false;
        if (!QDir().mkpath(store)) {
            err = QStringLiteral("cannot create %1").arg(store);
            return false;
        }
        PublishLock lock(update + QStringLiteral("/.publish.lock"));
        if (!lock.locked) {
            err = QStringLiteral("another publish into %1 is running").arg(siteDir);
            return false;
        }
        RemoveStaleTemps(update);
        RemoveStaleTemps(store);
        if (!digestComponents() || !digestProgram())
            return false;
        QJsonArray list;
        if (!publishArchives(list) || !publishProgram() || !publishList(list))
            return false;
        log(QStringLiteral("published %1 component(s)%2")
                .arg(release.components.size())
                .arg(programName.isEmpty() ? QString() : QStringLiteral(" and ") + programName));
        return true;
    }

private:
    void log(const QString& AText) const {
        if (options.log)
            options.log(AText);
    }
    void step(const QString& AStep) const {
        if (options.afterStep)
            options.afterStep(AStep);
    }
    QString source(const QString& AName) const { return releaseDir + QLatin1Char('/') + AName; }

    // What the program would refuse, refused before anything is written.
    bool checkComponents() {
        QSet<QString> ids, files;
        for (const ComponentDescription& c : release.components) {
            if (c.id.isEmpty()) {
                err = QStringLiteral("component \"%1\" has no id").arg(c.file);
                return false;
            }
            if (ids.contains(c.id.toLower())) {
                err = QStringLiteral("duplicate component id \"%1\"").arg(c.id);
                return false;
            }
            ids.insert(c.id.toLower());
            if (!IsPublishableName(c.file)) {
                err = QStringLiteral("archive file name refused: \"%1\"").arg(c.file);
                return false;
            }
            if (files.contains(c.file)) {
                err = QStringLiteral("duplicate archive file name \"%1\"").arg(c.file);
                return false;
            }
            files.insert(c.file);
            if (!QFileInfo(source(c.file)).isFile()) {
                err = QStringLiteral("archive %1 is not in the release folder").arg(c.file);
                return false;
            }
        }
        return true;
    }

    // A release with a program file: its name, address and version as the program needs them.
    bool checkProgram() {
        if (release.program.isEmpty())
            return true;
        if (!IsPublishableName(release.program) || !QFileInfo(source(release.program)).isFile()) {
            err = QStringLiteral("program file refused: \"%1\"").arg(release.program);
            return false;
        }
        if (!IsServiceBase(release.urlBase)) {
            err = QStringLiteral("\"url_base\" must be the service's https address, as "
                                 "https://host");
            return false;
        }
        const int releaseNumber = TUpdater::ReleaseNumber(release.version);
        if (releaseNumber < 0 || !IsPublishableName(release.version) ||
            release.version.split(QLatin1Char('.')).size() != 4) {
            err = QStringLiteral("version \"%1\" is not a four-part version").arg(release.version);
            return false;
        }
        if (!NewerThanPublished(update, release.version, releaseNumber, err))
            return false;
        programName = release.program + QLatin1Char('-') + release.version;
        return true;
    }

    bool digest(const QString& ASrc, Digested& AOut) {
        QString readErr;
        AOut = {FileSha256(ASrc, readErr), QFileInfo(ASrc).size()};
        if (!readErr.isEmpty())
            err = readErr;
        return readErr.isEmpty();
    }

    bool digestComponents() {
        for (const ComponentDescription& c : release.components) {
            const QString src = source(c.file);
            log(QStringLiteral("checking %1").arg(c.file));
            Digested d;
            if (!digest(src, d) || !CheckArchive(c, src, err) ||
                !SameAsPublished(store + QLatin1Char('/') + c.file, d.sha256, err))
                return false;
            digests.append(d);
        }
        return true;
    }

    bool digestProgram() {
        if (programName.isEmpty())
            return true;
        return digest(source(release.program), program) &&
               SameAsPublished(update + QLatin1Char('/') + programName, program.sha256, err);
    }

    // Each copy is checked against the digest that will be announced, so a file changed during
    // the run is never published under a stale digest.
    bool copyChecked(const QString& ASrc, const QString& ADir, const QString& AName, mode_t AMode,
                     const Digested& AExpected) {
        if (!CopyFileInto(ASrc, ADir, AName, AMode, err))
            return false;
        QString readErr;
        const QString target = ADir + QLatin1Char('/') + AName;
        if (FileSha256(target, readErr) != AExpected.sha256 ||
            QFileInfo(target).size() != AExpected.size) {
            err = QStringLiteral("%1 changed while it was published").arg(ASrc);
            return false;
        }
        return true;
    }

    // Archives first: the lists written later must only name files already in place.
    bool publishArchives(QJsonArray& AList) {
        for (qsizetype i = 0; i < release.components.size(); ++i) {
            const ComponentDescription& c = release.components[i];
            if (!QFileInfo::exists(store + QLatin1Char('/') + c.file)) {
                log(QStringLiteral("publishing %1").arg(c.file));
                if (!copyChecked(source(c.file), store, c.file, 0644, digests[i]))
                    return false;
                step(QStringLiteral("archive"));
            }
            AList.append(QJsonObject{{QStringLiteral("id"), c.id},
                                     {QStringLiteral("name"), c.name},
                                     {QStringLiteral("file"), c.file},
                                     {QStringLiteral("size"), double(digests[i].size)},
                                     {QStringLiteral("sha256"), digests[i].sha256}});
        }
        SyncFolder(store);
        return true;
    }

    // The program file, then version.json that announces it.
    bool publishProgram() {
        if (programName.isEmpty())
            return true;
        if (!QFileInfo::exists(update + QLatin1Char('/') + programName)) {
            log(QStringLiteral("publishing %1").arg(programName));
            if (!copyChecked(source(release.program), update, programName, 0755, program))
                return false;
            step(QStringLiteral("program"));
        }
        const QJsonObject manifest{
            {QStringLiteral("version"), release.version},
            {QStringLiteral("url"), release.urlBase + QStringLiteral("/update/") + programName},
            {QStringLiteral("size"), double(program.size)},
            {QStringLiteral("sha256"), program.sha256},
            {QStringLiteral("notes"), release.notes}};
        SyncFolder(update);
        if (!WriteTextInto(update, QStringLiteral("version.json"), QJsonDocument(manifest).toJson(),
                           err))
            return false;
        step(QStringLiteral("version"));
        return true;
    }

    // components.json last, once everything it names is in place.
    bool publishList(const QJsonArray& AList) {
        SyncFolder(update);
        if (!WriteTextInto(
                update, QStringLiteral("components.json"),
                QJsonDocument(QJsonObject{{QStringLiteral("components"), AList}}).toJson(), err))
            return false;
        SyncFolder(update);
        step(QStringLiteral("components"));
        return true;
    }

    const QString releaseDir, siteDir, update, store;
    const PublishOptions& options;
    QString& err;
    ReleaseDescription release;
    QString programName; // the program file's published name; empty: no self-update
    QList<Digested> digests;
    Digested program;
};

} // namespace

bool Publish(const QString& AReleaseDir, const QString& ASiteDir, QString& AErr,
             const PublishOptions& AOptions) {
    return Publisher(AReleaseDir, ASiteDir, AOptions, AErr).run();
}

} // namespace halvora::publish
