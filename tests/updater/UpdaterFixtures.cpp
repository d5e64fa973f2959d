#include "UpdaterFixtures.h"

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace halvora::test {

QString TestAppDir() {
    QString dir = qEnvironmentVariable("HALVORA_TEST_APP_DIR");
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString HelperPath() {
    return TestAppDir() + QStringLiteral("updater");
}

QString MakeTarGz(const QString& AOutDir, const QString& AName, const QStringList& AFiles) {
    const QString src = NewTempDir(QStringLiteral("tarsrc"));
    for (const QString& f : AFiles) {
        QDir().mkpath(QFileInfo(src + QLatin1Char('/') + f).path());
        WriteAll(src + QLatin1Char('/') + f, f.toUtf8());
    }
    const QString archive = AOutDir + QLatin1Char('/') + AName;
    QProcess tar;
    tar.start(QStringLiteral("tar"), QStringList{"-czf", archive, "-C", src} + AFiles);
    tar.waitForFinished(30000);
    QDir(src).removeRecursively();
    return tar.exitCode() == 0 ? archive : QString();
}

QString Sha256Of(const QString& APath) {
    return QString::fromLatin1(
        QCryptographicHash::hash(ReadAll(APath), QCryptographicHash::Sha256).toHex());
}

ComponentService::ComponentService()
    : app(NewTempDir(QStringLiteral("app")) + QLatin1Char('/')),
      store(NewTempDir(QStringLiteral("store"))) {
    srv.serveFolder(QStringLiteral("/update/components/"), store);
    srv.exportServiceEnv();
}

qint64 ComponentService::addArchive(const QString& AName, const QStringList& AFiles) {
    return QFileInfo(MakeTarGz(store, AName, AFiles)).size();
}

QByteArray ComponentService::entry(const QString& AId, const QString& AName, const QString& AFile) {
    const QString path = store + QLatin1Char('/') + AFile;
    return QStringLiteral(R"({"id":"%1","name":"%2","file":"%3","size":%4,"sha256":"%5"})")
        .arg(AId, AName, AFile)
        .arg(QFileInfo(path).size())
        .arg(Sha256Of(path))
        .toUtf8();
}

void ComponentService::setList(const QByteArray& AJson) {
    srv.route(QStringLiteral("/update/components.json"), TestHttpServer::Json(AJson));
}

std::unique_ptr<TUpdater> ComponentService::updater() const {
    auto u = std::make_unique<TUpdater>(app);
    u->SetHelperPath(HelperPath());
    return u;
}

bool RecordingHost::RunOnWindowThread(const std::function<void()>& AWork) {
    ++handovers;
    inHandover = true;
    AWork();
    inHandover = false;
    return true;
}

BoxAnswer RecordingHost::Message(BoxKind AKind, const QString& AText, BoxButtons AButtons) {
    texts << AText;
    kinds << AKind;
    if (AKind == BoxKind::Information && AButtons == BoxButtons::YesNo)
        return answer;
    return BoxAnswer::Ok;
}

} // namespace halvora::test
