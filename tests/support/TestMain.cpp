// Test entry: everything a test might write lands in one temporary sandbox, never in the
// user's real home, Documents or temp folders, and the web service points nowhere real.
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef HALVORA_TEST_GUI
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char** argv) {
    QTemporaryDir sandbox(QDir::tempPath() + QStringLiteral("/halvora-test-XXXXXX"));
    if (!sandbox.isValid())
        return 2;
    const QString root = sandbox.path();
    for (const char* sub : {"home", "home/Documents", "tmp", "work", "xdg/config", "xdg/data",
                            "xdg/cache", "xdg/state", "xdg/runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/xdg/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HALVORA_TEST_SANDBOX", QFile::encodeName(root));
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("TEMP", QFile::encodeName(root + QStringLiteral("/tmp")));
    qputenv("TMPDIR", QFile::encodeName(root + QStringLiteral("/tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/xdg/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/xdg/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/xdg/cache")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("/xdg/state")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/xdg/runtime")));
    qputenv("XDG_DOCUMENTS_DIR", QFile::encodeName(root + QStringLiteral("/home/Documents")));
    // Nothing listens here; a test that needs the service starts its own and sets this again.
    qputenv("HALVORA_SERVICE_URL", "https://127.0.0.1:9");
    qunsetenv("HALVORA_CA_FILE");
#ifdef HALVORA_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
#endif
    TestApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
