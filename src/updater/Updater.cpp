// The updater's set-up: its folders, the helper, the running program and its version.
#include "Updater.h"

#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace halvora {

namespace {

constexpr int kUpdateTimeoutMs = 8000;

QString WithSlash(QString ADir) {
    if (!ADir.endsWith(QLatin1Char('/')))
        ADir += QLatin1Char('/');
    return ADir;
}

} // namespace

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

bool TUpdater::SelfUpdateBuilt() {
    return HALVORA_SELF_UPDATE != 0;
}

} // namespace halvora
