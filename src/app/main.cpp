// Halvora: command line, style, application object, main window, message loop.
#include "CommandLine.h"
#include "DialogService.h"
#include "HttpClient.h"
#include "InputItems.h"
#include "OwnedFiles.h"
#include "Umain.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

// libVLC can draw only into X11 windows, so Qt is asked for xcb unless the user chose a platform.
void PreferXcb(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 ||
            std::strncmp(argv[i], "-platform=", 10) == 0 ||
            std::strcmp(argv[i], "--platform") == 0 ||
            std::strncmp(argv[i], "--platform=", 11) == 0)
            return;
    qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is touched: --version works without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const halvora::CommandLine commandLine = halvora::ParseCommandLine(args);
    switch (commandLine.action) {
    case halvora::CommandLine::Action::Help:
    case halvora::CommandLine::Action::Version:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
        return 0;
    case halvora::CommandLine::Action::Error:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stderr);
        return halvora::kBadCommandLine;
    case halvora::CommandLine::Action::Run:
        break;
    }

    halvora::HttpGlobalInit(); // before any thread starts
    PreferXcb(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvora"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.halvora.Halvora"));
    QApplication::setQuitOnLastWindowClosed(true);
    if (!halvora::ApplySkyStyle())
        halvora::DefaultDialogs().message(nullptr, halvora::BoxKind::Error, QStringLiteral("Error"),
                                          QStringLiteral("Cannot apply the visual style \"Sky\""),
                                          halvora::BoxButtons::Ok);
    // What an earlier run that died left behind (its own files only; running ones are left).
    const QString kept = halvora::KeptRecordingsText(halvora::CleanDeadRuns());
    halvora::TForm2 form(halvora::DefaultDialogs());
    form.show();
    if (!kept.isEmpty())
        form.setStatus(kept);
    const QList<QUrl> items = halvora::ArgumentItems(commandLine.items, QDir::currentPath());
    if (!items.isEmpty())
        QTimer::singleShot(
            0, &form, [&form, items] { form.OpenInput(items, halvora::InputTarget::CommandLine); });
    const int code = app.exec();
    halvora::EndRun();
    return code;
}
