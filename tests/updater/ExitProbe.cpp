// A program that quits while its start-up worker downloads: it starts the worker for the
// application folder argv[1], waits until the archive argv[2] is arriving in the download
// folder, closes the window's gate and returns from main. Run by the bootstrap tests, which
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
    auto context = std::make_unique<halvora::GateContext>();
    halvora::BootstrapWindow window;
    window.gate = context->Gate();
    window.appDir = QString::fromLocal8Bit(argv[1]);
    window.status = [](const QString&) {};
    window.done = [](const QString&, bool) {};
    halvora::StartBootstrapWorker(window);
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
    context.reset(); // the window goes, and the program ends at once
    return 0;
}
