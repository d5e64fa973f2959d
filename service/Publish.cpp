#include "Publish.h"

#include "Download.h"
#include "HelperArgs.h"
#include "Unpack.h"
#include "Updater.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::publish {

namespace {

const char kTempPrefix[] = ".publish-";

QByteArray Path(const QString& APath) {
    return QFile::encodeName(APath);
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool IsKnownId(const QString& AId) {
    return AId.compare(QStringLiteral("ffmpeg"), Qt::CaseInsensitive) == 0 ||
           AId.compare(QStringLiteral("vlc"), Qt::CaseInsensitive) == 0;
}

void SyncFolder(const QString& ADir) {
    const int fd = ::open(Path(ADir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// AFill writes the new content to ADir/.publish-PID-NAME; it is then made durable and renamed
// to ADir/NAME, so readers see either the old file or the whole new one.
bool WriteBeside(const QString& ADir, const QString& AName, mode_t AMode,
                 const std::function<bool(const QString&, QString&)>& AFill, QString& AErr) {
    const QString temp = ADir + QLatin1Char('/') + kTempPrefix + QString::number(::getpid()) +
                         QLatin1Char('-') + AName;
    const QString target = ADir + QLatin1Char('/') + AName;
    ::unlink(Path(temp).constData());
    bool ok = AFill(temp, AErr);
    if (ok) {
        const int fd = ::open(Path(temp).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        ok = fd >= 0 && ::fchmod(fd, AMode) == 0 && ::fsync(fd) == 0;
        if (!ok)
            AErr = QStringLiteral("cannot write %1: %2").arg(temp, ErrnoText());
        if (fd >= 0)
            ::close(fd);
    }
    if (ok && ::rename(Path(temp).constData(), Path(target).constData()) != 0) {
        AErr = QStringLiteral("cannot put %1 in place: %2").arg(target, ErrnoText());
        ok = false;
    }
    if (!ok)
        ::unlink(Path(temp).constData());
    return ok;
}

bool CopyFileInto(const QString& ASource, const QString& ADir, const QString& AName, mode_t AMode,
                  QString& AErr) {
    return WriteBeside(
        ADir, AName, AMode,
        [&](const QString& ATemp, QString& AFillErr) {
            std::error_code ec;
            std::filesystem::copy_file(Path(ASource).toStdString(), Path(ATemp).toStdString(), ec);
            if (ec)
                AFillErr = QStringLiteral("cannot copy %1: %2")
                               .arg(ASource, QString::fromLocal8Bit(ec.message()));
            return !ec;
        },
        AErr);
}

bool WriteTextInto(const QString& ADir, const QString& AName, const QByteArray& AText,
                   QString& AErr) {
    return WriteBeside(
        ADir, AName, 0644,
        [&](const QString& ATemp, QString& AFillErr) {
            QFile f(ATemp);
            const bool ok = f.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                            f.write(AText) == AText.size() && f.flush();
            if (!ok)
                AFillErr = QStringLiteral("cannot write %1: %2").arg(ATemp, f.errorString());
            return ok;
        },
        AErr);
}

// Temporary files of publishers that were stopped half-way.
void RemoveStaleTemps(const QString& ADir) {
    DIR* dir = ::opendir(Path(ADir).constData());
    if (!dir)
        return;
    QStringList stale;
    while (dirent* e = ::readdir(dir))
        if (std::strncmp(e->d_name, kTempPrefix, sizeof(kTempPrefix) - 1) == 0)
            stale << ADir + QLatin1Char('/') + QFile::decodeName(e->d_name);
    ::closedir(dir);
    for (const QString& s : stale)
        ::unlink(Path(s).constData());
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

} // namespace

bool IsPublishableName(const QString& AName) {
    if (!IsPlainFileName(AName) || AName.startsWith(QLatin1Char('.')) || AName.size() > 200)
        return false;
    for (QChar c : AName) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || u == u'.' || u == u'-' || u == u'_' ||
                        u == u'+' || u == u'~';
        if (!ok)
            return false;
    }
    return true;
}

bool ReadReleaseDescription(const QString& AReleaseDir, ReleaseDescription& AOut, QString& AErr) {
    AOut = {};
    const QString path = AReleaseDir + QStringLiteral("/release.json");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        AErr = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(1 << 20), &perr);
    if (perr.error != QJsonParseError::NoError || !doc.isObject()) {
        AErr = QStringLiteral("%1 is not a JSON object (%2)").arg(path, perr.errorString());
        return false;
    }
    const QJsonObject o = doc.object();
    for (const QString& key : o.keys()) {
        static const QStringList known{QStringLiteral("version"), QStringLiteral("program"),
                                       QStringLiteral("url_base"), QStringLiteral("notes"),
                                       QStringLiteral("components")};
        if (!known.contains(key)) {
            AErr = QStringLiteral("%1: unknown key \"%2\"").arg(path, key);
            return false;
        }
    }
    AOut.version = o.value(QStringLiteral("version")).toString();
    AOut.program = o.value(QStringLiteral("program")).toString();
    AOut.urlBase = o.value(QStringLiteral("url_base")).toString();
    while (AOut.urlBase.endsWith(QLatin1Char('/')))
        AOut.urlBase.chop(1);
    AOut.notes = o.value(QStringLiteral("notes")).toString();
    const QJsonValue comps = o.value(QStringLiteral("components"));
    if (!comps.isArray()) {
        AErr = QStringLiteral("%1: \"components\" must be an array").arg(path);
        return false;
    }
    for (const QJsonValue& v : comps.toArray()) {
        if (!v.isObject()) {
            AErr = QStringLiteral("%1: every component must be an object").arg(path);
            return false;
        }
        const QJsonObject c = v.toObject();
        AOut.components.append({c.value(QStringLiteral("id")).toString(),
                                c.value(QStringLiteral("name")).toString(),
                                c.value(QStringLiteral("file")).toString()});
    }
    return true;
}

bool Publish(const QString& AReleaseDir, const QString& ASiteDir, QString& AErr,
             const PublishOptions& AOptions) {
    auto log = [&](const QString& AText) {
        if (AOptions.log)
            AOptions.log(AText);
    };
    auto step = [&](const QString& AStep) {
        if (AOptions.afterStep)
            AOptions.afterStep(AStep);
    };
    ReleaseDescription release;
    if (!ReadReleaseDescription(AReleaseDir, release, AErr))
        return false;

    // What the program would refuse, refused before anything is written.
    QSet<QString> ids, files;
    for (const ComponentDescription& c : release.components) {
        if (c.id.isEmpty()) {
            AErr = QStringLiteral("component \"%1\" has no id").arg(c.file);
            return false;
        }
        if (ids.contains(c.id.toLower())) {
            AErr = QStringLiteral("duplicate component id \"%1\"").arg(c.id);
            return false;
        }
        ids.insert(c.id.toLower());
        if (!IsPublishableName(c.file)) {
            AErr = QStringLiteral("archive file name refused: \"%1\"").arg(c.file);
            return false;
        }
        if (files.contains(c.file)) {
            AErr = QStringLiteral("duplicate archive file name \"%1\"").arg(c.file);
            return false;
        }
        files.insert(c.file);
        if (!QFileInfo(AReleaseDir + QLatin1Char('/') + c.file).isFile()) {
            AErr = QStringLiteral("archive %1 is not in the release folder").arg(c.file);
            return false;
        }
    }

    const QString update = ASiteDir + QStringLiteral("/update");
    const QString store = update + QStringLiteral("/components");
    QString programName;
    if (!release.program.isEmpty()) {
        if (!IsPublishableName(release.program) ||
            !QFileInfo(AReleaseDir + QLatin1Char('/') + release.program).isFile()) {
            AErr = QStringLiteral("program file refused: \"%1\"").arg(release.program);
            return false;
        }
        if (!release.urlBase.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive) ||
            release.urlBase.size() <= 8 || release.urlBase.contains(QLatin1Char('?')) ||
            release.urlBase.contains(QLatin1Char('#')) ||
            release.urlBase.contains(QLatin1Char(' '))) {
            AErr = QStringLiteral("\"url_base\" must be the service's https address, as "
                                  "https://host");
            return false;
        }
        const int releaseNumber = TUpdater::ReleaseNumber(release.version);
        if (releaseNumber < 0 || !IsPublishableName(release.version) ||
            release.version.split(QLatin1Char('.')).size() != 4) {
            AErr = QStringLiteral("version \"%1\" is not a four-part version").arg(release.version);
            return false;
        }
        QFile published(update + QStringLiteral("/version.json"));
        UpdateManifest old;
        if (published.open(QIODevice::ReadOnly) &&
            ParseUpdateManifest(published.read(16 << 20), old)) {
            const int oldRelease = TUpdater::ReleaseNumber(old.version);
            if (releaseNumber <= oldRelease) {
                AErr = QStringLiteral("version %1 (release %2) is not newer than the published "
                                      "%3 (release %4); the program would not offer it")
                           .arg(release.version)
                           .arg(releaseNumber)
                           .arg(old.version)
                           .arg(oldRelease);
                return false;
            }
        }
        programName = release.program + QLatin1Char('-') + release.version;
    }

    if (!QDir().mkpath(store)) {
        AErr = QStringLiteral("cannot create %1").arg(store);
        return false;
    }
    PublishLock lock(update + QStringLiteral("/.publish.lock"));
    if (!lock.locked) {
        AErr = QStringLiteral("another publish into %1 is running").arg(ASiteDir);
        return false;
    }
    RemoveStaleTemps(update);
    RemoveStaleTemps(store);

    struct Digested {
        QString sha256;
        qint64 size = 0;
    };
    QList<Digested> digests;
    for (const ComponentDescription& c : release.components) {
        const QString src = AReleaseDir + QLatin1Char('/') + c.file;
        log(QStringLiteral("checking %1").arg(c.file));
        QString readErr;
        Digested d{FileSha256(src, readErr), QFileInfo(src).size()};
        if (!readErr.isEmpty()) {
            AErr = readErr;
            return false;
        }
        if (!CheckArchive(c, src, AErr) ||
            !SameAsPublished(store + QLatin1Char('/') + c.file, d.sha256, AErr))
            return false;
        digests.append(d);
    }
    Digested program;
    if (!programName.isEmpty()) {
        const QString src = AReleaseDir + QLatin1Char('/') + release.program;
        QString readErr;
        program = {FileSha256(src, readErr), QFileInfo(src).size()};
        if (!readErr.isEmpty()) {
            AErr = readErr;
            return false;
        }
        if (!SameAsPublished(update + QLatin1Char('/') + programName, program.sha256, AErr))
            return false;
    }

    // Archives and the program file first; each copy is checked against the digest that will
    // be announced, so a file changed during the run is never published under a stale digest.
    auto copyChecked = [&](const QString& ASrc, const QString& ADir, const QString& AName,
                           mode_t AMode, const Digested& AExpected) {
        if (!CopyFileInto(ASrc, ADir, AName, AMode, AErr))
            return false;
        QString readErr;
        const QString target = ADir + QLatin1Char('/') + AName;
        if (FileSha256(target, readErr) != AExpected.sha256 ||
            QFileInfo(target).size() != AExpected.size) {
            AErr = QStringLiteral("%1 changed while it was published").arg(ASrc);
            return false;
        }
        return true;
    };
    QJsonArray list;
    for (qsizetype i = 0; i < release.components.size(); ++i) {
        const ComponentDescription& c = release.components[i];
        if (!QFileInfo::exists(store + QLatin1Char('/') + c.file)) {
            log(QStringLiteral("publishing %1").arg(c.file));
            if (!copyChecked(AReleaseDir + QLatin1Char('/') + c.file, store, c.file, 0644,
                             digests[i]))
                return false;
            step(QStringLiteral("archive"));
        }
        list.append(QJsonObject{{QStringLiteral("id"), c.id},
                                {QStringLiteral("name"), c.name},
                                {QStringLiteral("file"), c.file},
                                {QStringLiteral("size"), double(digests[i].size)},
                                {QStringLiteral("sha256"), digests[i].sha256}});
    }
    SyncFolder(store);
    if (!programName.isEmpty()) {
        if (!QFileInfo::exists(update + QLatin1Char('/') + programName)) {
            log(QStringLiteral("publishing %1").arg(programName));
            if (!copyChecked(AReleaseDir + QLatin1Char('/') + release.program, update, programName,
                             0755, program))
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
                           AErr))
            return false;
        step(QStringLiteral("version"));
    }
    SyncFolder(update);
    if (!WriteTextInto(update, QStringLiteral("components.json"),
                       QJsonDocument(QJsonObject{{QStringLiteral("components"), list}}).toJson(),
                       AErr))
        return false;
    SyncFolder(update);
    step(QStringLiteral("components"));
    log(QStringLiteral("published %1 component(s)%2")
            .arg(release.components.size())
            .arg(programName.isEmpty() ? QString() : QStringLiteral(" and ") + programName));
    return true;
}

} // namespace halvora::publish
