#include "Updater.h"

#include "FFmpegProgress.h"

#include "AppPaths.h"
#include "Download.h"
#include "HelperLaunch.h"
#include "InstallLayout.h"
#include "JsonReader.h"
#include "Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <exception>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora {

namespace {

constexpr int kListTimeoutMs = 10000;
constexpr int kUpdateTimeoutMs = 8000;
constexpr std::uint32_t kUnpackWaitMs = 180000;
constexpr qint64 kMaxProgramBytes = qint64(1) << 30;

const QString kFfmpegId = QStringLiteral("ffmpeg");
const QString kVlcId = QStringLiteral("vlc");

// The value of an ASCII digit in ARadix (10 or 16), -1 for anything else.
int DigitValue(QChar AChar, int ARadix) {
    const char16_t c = AChar.unicode();
    int v = -1;
    if (c >= u'0' && c <= u'9')
        v = c - u'0';
    else if (c >= u'a' && c <= u'f')
        v = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        v = c - u'A' + 10;
    return v < ARadix ? v : -1;
}

// The download folder lies in the shared temporary folder, and the helper may read what is
// there with root's rights: only a real folder of this user that nobody else may write to is
// used, so nobody else can swap a verified file before it is unpacked or installed.
bool PrivateFolder(const QString& ADir, QString& AErr) {
    const QByteArray path = QFile::encodeName(ADir);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        AErr = QStringLiteral("the download folder %1 is not a folder of this user").arg(ADir);
        return false;
    }
    if ((st.st_mode & 022) != 0 && ::chmod(path.constData(), st.st_mode & 0755) != 0) {
        AErr = QStringLiteral("the download folder %1 is open to other users").arg(ADir);
        return false;
    }
    return true;
}

QString WithSlash(QString ADir) {
    if (!ADir.endsWith(QLatin1Char('/')))
        ADir += QLatin1Char('/');
    return ADir;
}

} // namespace

bool IsPlainFileName(const QString& AName) {
    return !AName.isEmpty() && AName != QStringLiteral(".") && AName != QStringLiteral("..") &&
           !AName.contains(QLatin1Char('/')) && !AName.contains(QLatin1Char('\\')) &&
           !AName.contains(QChar(0));
}

std::int64_t WholeNumberOr0(const QString& AText) {
    qsizetype i = 0;
    bool negative = false;
    if (i < AText.size() && (AText[i] == QLatin1Char('+') || AText[i] == QLatin1Char('-'))) {
        negative = AText[i] == QLatin1Char('-');
        ++i;
    }
    if (i == AText.size())
        return 0;
    std::uint64_t value = 0;
    const std::uint64_t limit = negative
                                    ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                    : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    for (; i < AText.size(); ++i) {
        const char16_t c = AText[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const std::uint64_t digit = c - u'0';
        if (value > (limit - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

bool ParseUpdateManifest(const QByteArray& AJson, UpdateManifest& AOut) {
    AOut = {};
    const JsonDocument doc(AJson);
    const JsonValue m = doc.root();
    if (!m.isObject())
        return false;
    AOut.version = m.member("version").text();
    AOut.url = m.member("url").text();
    AOut.hasUrl = m.member("url").isPresent();
    AOut.size = WholeNumberOr0(m.member("size").text());
    AOut.sha256 = m.member("sha256").text();
    AOut.notes = m.member("notes").text();
    AOut.hasNotes = m.member("notes").isPresent();
    return true;
}

ComponentListStatus ParseComponentList(const QByteArray& AJson, QList<ComponentEntry>& AOut) {
    AOut.clear();
    const JsonDocument doc(AJson);
    if (!doc.root().isObject())
        return ComponentListStatus::Unreadable;
    const JsonValue list = doc.root().member("components");
    if (!list.isArray())
        return ComponentListStatus::Empty;
    for (int i = 0; i < list.size(); ++i) {
        const JsonValue item = list.at(i);
        if (!item.isObject())
            continue;
        ComponentEntry e;
        e.file = item.member("file").text();
        e.sha256 = item.member("sha256").text();
        e.id = item.member("id").text();
        e.name = item.member("name").text();
        e.size = WholeNumberOr0(item.member("size").text());
        if (!e.file.isEmpty())
            AOut.append(e);
    }
    return ComponentListStatus::Ok;
}

TUpdater::TUpdater(const QString& AExeDir) {
    FHttp.connectTimeoutMs = kUpdateTimeoutMs;
    FHttp.responseTimeoutMs = kUpdateTimeoutMs;
    FExeDir = WithSlash(AExeDir.isEmpty() ? AppDir() : AExeDir);
    FDownloadDir = QDir::tempPath() + QStringLiteral("/Halvora_update");
    QDir().mkpath(FDownloadDir);
    FHelperPath = FExeDir + QStringLiteral("updater");
    FRunningExe = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                               : FExeDir + QStringLiteral("halvora");
    FCurrentVersion = FileVersionText();
}

TUpdater::~TUpdater() = default;

void TUpdater::SetElevation(const QString& AProgram, std::function<bool(const QString&)> ANeeds) {
    FElevator = AProgram;
    FNeedsElevation = std::move(ANeeds);
}

bool TUpdater::NeedsElevation(const QString& ADir) const {
    return FNeedsElevation ? FNeedsElevation(ADir) : !CanWriteFolder(ADir);
}

bool TUpdater::IsComponentPresent(const QString& AId) const {
    // Links are followed: a link to the system's copy counts as installed.
    if (AId.compare(kFfmpegId, Qt::CaseInsensitive) == 0) {
        const QFileInfo fi(FExeDir + QStringLiteral("ffmpeg"));
        return fi.exists() && !fi.isDir();
    }
    if (AId.compare(kVlcId, Qt::CaseInsensitive) == 0)
        return QFileInfo(FExeDir + QStringLiteral("vlc")).isDir();
    return false;
}

bool TUpdater::SelfUpdateBuilt() {
    return HALVORA_SELF_UPDATE != 0;
}

bool TUpdater::ComponentsNeeded() const {
    // A packaged program takes ffmpeg and the VLC runtime from where the system installs them.
    if (!FSelfUpdate)
        return false;
    return !(IsComponentPresent(kFfmpegId) && IsComponentPresent(kVlcId));
}

void TUpdater::EnsureComponents(const StatusSink& AStatus, QString& AErr, bool& AOffline) {
    AErr.clear();
    AOffline = false;
    try {
        EnsureComponentsRun(AStatus, AErr, AOffline);
    } catch (const std::exception& e) {
        AErr = QString::fromLocal8Bit(e.what());
    } catch (...) {
        AErr = QStringLiteral("unexpected error");
    }
}

bool TUpdater::FetchComponentList(const QString& ABase, QList<ComponentEntry>& AEntries,
                                  QString& AErr, bool& AOffline) {
    QString detail;
    const QString text = HttpGetText(ABase + QStringLiteral("/update/components.json"),
                                     kListTimeoutMs, detail, FStop);
    if (text.isEmpty()) {
        AOffline = true;
        AErr = QStringLiteral("the download server could not be reached within %1 seconds (%2)")
                   .arg(kListTimeoutMs / 1000)
                   .arg(detail);
        return false;
    }
    switch (ParseComponentList(text.toUtf8(), AEntries)) {
    case ComponentListStatus::Unreadable:
        AErr = QStringLiteral("component list unreadable");
        return false;
    case ComponentListStatus::Empty:
        AErr = QStringLiteral("component list empty");
        return false;
    case ComponentListStatus::Ok:
        break;
    }
    return true;
}

bool TUpdater::StopRequested(QString& AErr) const {
    if (!FStop || !FStop())
        return false;
    AErr = QStringLiteral("stopped");
    return true;
}

bool TUpdater::InstallComponent(const ComponentEntry& AEntry, const QString& ABase,
                                const StatusSink& AStatus, QString& AErr) {
    // One substitution pass: a name holding "%2" stays as it is.
    AStatus(QStringLiteral("Preparing %1 (%2 MB)...")
                .arg(AEntry.name, QString::number(AEntry.size / 1048576)));
    if (!IsPlainFileName(AEntry.file)) {
        AErr = QStringLiteral("invalid archive file name \"%1\"").arg(AEntry.file);
        return false;
    }
    if (!PrivateFolder(FDownloadDir, AErr))
        return false;
    const QString archive = FDownloadDir + QLatin1Char('/') + AEntry.file;
    const QString url = ABase + QStringLiteral("/update/components/") + AEntry.file;
    AErr.clear();
    // A window that goes while the archive arrives ends the download there.
    if (!DownloadFile(url, archive, AEntry.sha256, AEntry.size, AErr, {}, FStop)) {
        AErr = AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    if (StopRequested(AErr)) {
        QFile::remove(archive);
        return false;
    }
    AStatus(QStringLiteral("Installing %1...").arg(AEntry.name));
    AErr.clear();
    const bool unpacked = UnpackComponent(archive, FExeDir, AErr);
    QFile archiveFile(archive);
    if (!archiveFile.remove() && archiveFile.exists()) {
        AErr = unpacked ? archiveFile.errorString() : AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    if (!unpacked) {
        AErr = AEntry.name + QStringLiteral(": ") + AErr;
        return false;
    }
    return true;
}

void TUpdater::EnsureComponentsRun(const StatusSink& AStatus, QString& AErr, bool& AOffline) {
    // Components left half replaced count as present: they are completed before anything else.
    if (!FinishInterruptedInstall(AErr))
        return;
    if (!ComponentsNeeded())
        return;
    const StatusSink status = [&](const QString& AText) {
        if (AStatus)
            AStatus(AText);
    };
    status(QStringLiteral("Checking the Internet connection..."));
    const QString base = ServiceBaseUrl();
    QList<ComponentEntry> entries;
    if (!FetchComponentList(base, entries, AErr, AOffline))
        return;
    for (const ComponentEntry& e : entries) {
        if (IsComponentPresent(e.id))
            continue;
        if (StopRequested(AErr) || !InstallComponent(e, base, status, AErr))
            return;
    }
    AErr.clear();
}

int TUpdater::RunHelper(const QString& AOption, const QStringList& APaths, const QString& ADest,
                        QString& AErr) {
    const QFileInfo helper(FHelperPath);
    if (!helper.exists() || helper.isDir()) {
        AErr = QStringLiteral("updater not found");
        return kRunNotStarted;
    }
    const bool elevated = NeedsElevation(ADest);
    Command cmd = elevated ? Command(FElevator).path(FHelperPath) : Command(FHelperPath);
    cmd.arg(AOption);
    for (const QString& p : APaths)
        cmd.path(p);
    RunOptions options;
    options.timeoutMs = kUnpackWaitMs;
    // An install cut short is only finished by the next start: better let it end on its own.
    options.deathSignal = 0;
    const int rc = RunCommand(cmd, options);
    if (rc == kRunNotStarted) {
        const QString program = elevated ? ResolveProgram(FElevator) : FHelperPath;
        int code = ENOENT;
        if (!program.isEmpty())
            code = ::access(QFile::encodeName(program).constData(), X_OK) == 0 ? ENOEXEC : errno;
        AErr = QStringLiteral("could not start the helper (error %1)").arg(code);
        return kRunNotStarted;
    }
    // pkexec: 126 when the user dismissed the request, 127 when not authorised.
    if (elevated && (rc == 126 || rc == 127)) {
        AErr = QStringLiteral("could not start the helper (error %1)").arg(rc);
        return kRunNotStarted;
    }
    return rc;
}

bool TUpdater::UnpackComponent(const QString& AArchive, const QString& ADest, QString& AErr) {
    AErr.clear();
    if (!FSelfUpdate) {
        AErr = QString::fromLatin1(kManagedByPackageManager);
        return false;
    }
    const int rc = RunHelper(QStringLiteral("--unpack"), {AArchive, ADest}, ADest, AErr);
    if (rc == kRunNotStarted)
        return false;
    if (rc == kRunTimedOut) {
        // The helper unpacks into a staging folder, so stopping it leaves nothing half-made.
        AErr =
            QStringLiteral("unpack failed (timed out after %1 seconds)").arg(kUnpackWaitMs / 1000);
        return false;
    }
    if (rc != 0) {
        AErr = QStringLiteral("unpack failed (exit %1)").arg(static_cast<unsigned>(rc));
        return false;
    }
    return true;
}

bool TUpdater::InterruptedInstallLeft() const {
    const QDir dir(FExeDir);
    const QStringList stagings =
        dir.entryList({QLatin1String(helper::kStagingPrefix) + QLatin1Char('*')},
                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& s : stagings)
        if (QFileInfo::exists(
                dir.filePath(s + QLatin1Char('/') + QLatin1String(helper::kJournalName))))
            return true;
    return false;
}

bool TUpdater::FinishInterruptedInstall(QString& AErr) {
    AErr.clear();
    if (!FSelfUpdate || !InterruptedInstallLeft())
        return true;
    const int rc = RunHelper(QStringLiteral("--finish"), {FExeDir}, FExeDir, AErr);
    if (rc == 0)
        return true;
    if (rc == kRunTimedOut)
        AErr = QStringLiteral("an interrupted install could not be finished (timed out after %1 "
                              "seconds)")
                   .arg(kUnpackWaitMs / 1000);
    else if (rc != kRunNotStarted)
        AErr = QStringLiteral("an interrupted install could not be finished (exit %1)")
                   .arg(static_cast<unsigned>(rc));
    return false;
}

int TUpdater::ReleaseNumber(const QString& AVersion) {
    const QStringList fields = AVersion.split(QLatin1Char('.'));
    if (fields.size() < 3)
        return -1;
    const QString f = Trimmed(fields[2]);
    qsizetype i = 0;
    bool negative = false;
    if (i < f.size() && (f[i] == QLatin1Char('+') || f[i] == QLatin1Char('-'))) {
        negative = f[i] == QLatin1Char('-');
        ++i;
    }
    int radix = 10;
    if (i < f.size() && f[i] == QLatin1Char('$')) {
        radix = 16;
        ++i;
    } else if (i + 2 < f.size() && f[i] == QLatin1Char('0') &&
               (f[i + 1] == QLatin1Char('x') || f[i + 1] == QLatin1Char('X')) &&
               DigitValue(f[i + 2], 16) >= 0) {
        radix = 16;
        i += 2;
    }
    std::int64_t value = 0;
    const std::int64_t limit = std::int64_t(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    for (; i < f.size(); ++i) {
        const int digit = DigitValue(f[i], radix);
        if (digit < 0 || value * radix + digit > limit)
            break; // the leading digits that still fit
        value = value * radix + digit;
    }
    return static_cast<int>(negative ? -value : value);
}

void TUpdater::CheckForUpdate() {
    if (!FSelfUpdate)
        return; // new releases come through the package manager
    try {
        DoCheck();
    } catch (...) {
        // The check is silent by design: the next start-up checks again.
    }
}

void TUpdater::DoCheck() {
    const int cur = ReleaseNumber(CurrentVersion());
    HttpRequest request = FHttp;
    request.url = ServiceBaseUrl() + QStringLiteral("/update/version.json");
    request.cancel = FStop;
    request.maxBodyBytes =
        16 * 1024 * 1024; // a small document; an endless reply must not eat memory
    const HttpResult reply = HttpPerform(request);
    if (!reply.transportOk || reply.status != 200)
        return;

    UpdateManifest manifest;
    if (!ParseUpdateManifest(reply.body, manifest))
        return;
    FNewVersion = manifest.version;
    if (manifest.hasUrl)
        FDownloadUrl = manifest.url;
    FNewSize = manifest.size;
    FNewSha256 = manifest.sha256;
    const QString notes = manifest.hasNotes ? manifest.notes : QString();
    const int offered = ReleaseNumber(FNewVersion);
    if (offered > cur && !FDownloadUrl.isEmpty()) {
        FNewRelease = offered;
        if (!FHost)
            return;
        // Only the question and the hand-over run on the window thread; the download runs
        // here, so the window stays responsive and shows its progress.
        bool yes = false;
        FHost->RunOnWindowThread([this, notes, &yes] { yes = Prompt(notes); });
        if (!yes)
            return;
        DownloadUpdate();
        if (!FNewExePath.isEmpty() && QFileInfo(FNewExePath).isFile())
            FHost->RunOnWindowThread([this] { LaunchUpdater(); });
    }
}

bool TUpdater::Prompt(const QString& ANotes) {
    const QString text =
        QStringLiteral("A new version is available:\nCurrent: %1\nNew: %2\n%3\n\nUpdate now?")
            .arg(CurrentVersion(), FNewVersion, ANotes);
    return FHost->Message(BoxKind::Information, text, BoxButtons::YesNo) == BoxAnswer::Yes;
}

void TUpdater::DownloadUpdate() {
    FNewExePath.clear();
    if (!FSelfUpdate)
        return;
    const QString path = NewProgramPath();
    QDir().mkpath(FDownloadDir);
    QString folderErr;
    if (!PrivateFolder(FDownloadDir, folderErr))
        return;
    // An older download must never be taken for this one.
    QFile::remove(path);
    // The new program file runs with the user's (or elevated) rights: only over https.
    if (QUrl(FDownloadUrl).scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) != 0)
        return;
    DownloadTimeouts limits;
    limits.connectMs = FHttp.connectTimeoutMs;
    limits.responseMs = FHttp.responseTimeoutMs;
    const std::int64_t total = FNewSize;
    UpdateHost* host = FHost;
    qint64 shownMb = -1;
    const auto progress = [host, total, &shownMb](qint64 AReceived) {
        // One status per megabyte is plenty (and keeps the window's queue short); the last
        // one is always shown.
        if (!host || (AReceived / 1000000 == shownMb && AReceived != total))
            return;
        shownMb = AReceived / 1000000;
        host->Status(total > 0 ? QStringLiteral("Downloading update: %1 of %2 (%3%)")
                                     .arg(SizeText(AReceived), SizeText(total))
                                     .arg(AReceived * 100 / total)
                               : QStringLiteral("Downloading update: %1").arg(SizeText(AReceived)));
    };
    QString err;
    // Size and SHA-256 checked; nothing is left at the path on failure. A reply that runs past
    // the announced size (or past any sane program size) is cut off instead of filling the disk.
    if (DownloadFile(FDownloadUrl, path, FNewSha256, FNewSize, err, limits, FStop, kMaxProgramBytes,
                     progress))
        FNewExePath = path;
}

QString TUpdater::NewProgramPath() const {
    return FDownloadDir + QStringLiteral("/Halvora_new");
}

void TUpdater::RemoveLeftoverDownload() {
    QFile::remove(NewProgramPath());
}

void TUpdater::LaunchUpdater() {
    if (!FSelfUpdate) {
        FHost->Message(BoxKind::Information,
                       QStringLiteral("Updates of Halvora are ") +
                           QString::fromLatin1(kManagedByPackageManager) + QLatin1Char('.'),
                       BoxButtons::Ok);
        return;
    }
    const QString target = FExeDir + QStringLiteral("halvora");
    const QFileInfo helper(FHelperPath);
    if (!helper.exists() || helper.isDir()) {
        FHost->Message(BoxKind::Error, QStringLiteral("Updater not found: ") + FHelperPath,
                       BoxButtons::Ok);
        return;
    }
    const QStringList args{target, FNewExePath, FRunningExe};
    int code = 0;
    const bool started =
        NeedsElevation(FExeDir)
            ? StartDetached(FElevator, QStringList{FHelperPath} + args, FHelperPath, code)
            : StartDetached(FHelperPath, args, QString(), code);
    if (started) {
        FHost->QuitApplication();
        return;
    }
    FHost->Message(BoxKind::Error, QStringLiteral("Failed to launch updater (error %1)").arg(code),
                   BoxButtons::Ok);
}

} // namespace halvora
