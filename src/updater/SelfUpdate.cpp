// Self-update: the release number rule, the manifest check, the question, the new program's
// download and its hand-over to the helper.
#include "Updater.h"

#include "AppPaths.h"
#include "Download.h"
#include "HelperLaunch.h"
#include "PrivateFolder.h"
#include "UpdateMessages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <limits>

namespace halvora {

namespace {

constexpr qint64 kMaxProgramBytes = qint64(1) << 30;
constexpr qint64 kMaxManifestBytes = 16 * 1024 * 1024;

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

} // namespace

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
    try {
        if (FetchUpdate().result == UpdateResult::Downloaded)
            FHost->RunOnWindowThread([this] { LaunchUpdater(); });
    } catch (...) {
    }
}

UpdateOutcome TUpdater::FetchUpdate() {
    if (!FSelfUpdate)
        return {}; // new releases come through the package manager
    try {
        QString notes;
        if (!FindUpdate(notes) || !FHost)
            return {};
        // Only the question runs on the window thread; the download runs here, so the window
        // stays responsive and shows its progress.
        bool yes = false;
        FHost->RunOnWindowThread([this, notes, &yes] { yes = Prompt(notes); });
        if (!yes)
            return {UpdateResult::Declined, {}};
        DownloadUpdate();
        if (FNewExePath.isEmpty() || !QFileInfo(FNewExePath).isFile())
            return {UpdateResult::DownloadFailed, {}};
        return {UpdateResult::Downloaded, FNewExePath};
    } catch (...) {
        // The check is silent by design: the next start-up checks again.
        return {};
    }
}

bool TUpdater::FindUpdate(QString& ANotes) {
    const int cur = ReleaseNumber(CurrentVersion());
    HttpRequest request = FHttp;
    request.url = ServiceBaseUrl() + QStringLiteral("/update/version.json");
    request.cancel = FStop;
    request.maxBodyBytes = kMaxManifestBytes; // an endless reply must not eat memory
    const HttpResult reply = HttpPerform(request);
    if (!reply.transportOk || reply.status != 200)
        return false;

    UpdateManifest manifest;
    if (!ParseUpdateManifest(reply.body, manifest))
        return false;
    FNewVersion = manifest.version;
    if (manifest.hasUrl)
        FDownloadUrl = manifest.url;
    FNewSize = manifest.size;
    FNewSha256 = manifest.sha256;
    ANotes = manifest.hasNotes ? manifest.notes : QString();
    const int offered = ReleaseNumber(FNewVersion);
    if (offered <= cur || FDownloadUrl.isEmpty())
        return false;
    FNewRelease = offered;
    return true;
}

bool TUpdater::Prompt(const QString& ANotes) {
    return FHost->Message(BoxKind::Information,
                          UpdatePromptText(CurrentVersion(), FNewVersion, ANotes),
                          BoxButtons::YesNo) == BoxAnswer::Yes;
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
        host->Status(UpdateProgressText(AReceived, total));
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

LaunchOutcome TUpdater::StartUpdateHelper() {
    if (!FSelfUpdate)
        return {LaunchResult::PackageManaged, {}, 0};
    const QString target = FExeDir + QStringLiteral("halvora");
    const QFileInfo helper(FHelperPath);
    if (!helper.exists() || helper.isDir())
        return {LaunchResult::HelperMissing, FHelperPath, 0};
    const QStringList args{target, FNewExePath, FRunningExe};
    int code = 0;
    const bool started =
        NeedsElevation(FExeDir)
            ? StartDetached(FElevator, QStringList{FHelperPath} + args, FHelperPath, code)
            : StartDetached(FHelperPath, args, QString(), code);
    if (started)
        return {LaunchResult::Started, FHelperPath, 0};
    return {LaunchResult::NotStarted, FHelperPath, code};
}

void TUpdater::LaunchUpdater() {
    ReportLaunch(*FHost, StartUpdateHelper());
}

} // namespace halvora
