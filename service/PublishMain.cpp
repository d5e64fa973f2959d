// halvora-publish RELEASE_DIR SITE_DIR: checks a release and publishes it below SITE_DIR/update/.
#include "Publish.h"

#include <QCoreApplication>
#include <QDir>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

int main(int argc, char** argv) {
    // Archive member names are UTF-8; the helper's code reads them through the locale.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 || args[0].startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: halvora-publish RELEASE_DIR SITE_DIR\n"
                             "  RELEASE_DIR holds release.json, the component archives and the "
                             "program file;\n  the release is published below SITE_DIR/update/.\n");
        return 2;
    }
    ::umask(022);
    halvora::publish::PublishOptions options;
    options.log = [](const QString& AText) {
        std::fprintf(stderr, "halvora-publish: %s\n", qPrintable(AText));
    };
    // Lets the tests stop the process at a given point, as a crash or a kill would.
    const QByteArray stopAt = qgetenv("HALVORA_PUBLISH_TEST_KILL_AT");
    if (!stopAt.isEmpty())
        options.afterStep = [stopAt](const QString& AStep) {
            if (AStep.toUtf8() == stopAt)
                std::raise(SIGKILL);
        };
    QString err;
    if (!halvora::publish::Publish(QDir(args[0]).absolutePath(), QDir(args[1]).absolutePath(), err,
                                   options)) {
        std::fprintf(stderr, "halvora-publish: %s\n", qPrintable(err));
        return 1;
    }
    return 0;
}
