// A program that quits while its start-up job downloads: it starts the jobs for the application
// folder argv[1], waits until the archive argv[2] is arriving in the download folder, lets the
// window side go and returns from main. Run by the bootstrap tests, which
// look at what the worker left behind once the process has ended.
#include "Bootstrap.h"
#include "HttpClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

int main(int argc, char** argv) {
    halvora::HttpGlobalInit();
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    halvora::BootstrapWindow window;
    window.status = [](const QString&) {};
    window.message = [](halvora::BoxKind, const QString&, halvora::BoxButtons) {
        return halvora::BoxAnswer::Cancel;
    };
    window.componentsReady = [] {};
    window.quit = [] {};
    auto jobs = std::make_unique<halvora::BootstrapJobs>(window);
    jobs->SetSetup(QString::fromLocal8Bit(argv[1]), {});
    jobs->Start();
    // The body arrives in a hidden file beside the archive's name, named after this process.
    const QString archive = QDir::tempPath() + QStringLiteral("/Halvora_update/.") +
                            QString::fromLocal8Bit(argv[2]) + QStringLiteral(".part-") +
                            QString::number(QCoreApplication::applicationPid());
    const QDeadlineTimer deadline(20000);
    while (QFileInfo(archive).size() == 0) {
        if (deadline.hasExpired())
            return 3;
        QThread::msleep(5);
    }
    jobs.reset(); // the window goes, and the program ends once its jobs have let go
    return 0;
}
