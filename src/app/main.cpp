// Halvora: style, application object, main window, message loop.
#include "DialogService.h"
#include "HttpClient.h"
#include "Umain.h"

#include <QApplication>
#include <cstring>

namespace {

// libVLC can draw only into X11 windows, so Qt is asked for xcb unless the user chose a platform.
void PreferXcb(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return;
    qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char** argv) {
    halvora::HttpGlobalInit(); // before any thread starts
    PreferXcb(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvora"));
    QApplication::setQuitOnLastWindowClosed(true);
    if (!halvora::ApplySkyStyle())
        halvora::DefaultDialogs().message(nullptr, halvora::BoxKind::Error, QStringLiteral("Error"),
                                          QStringLiteral("Cannot apply the visual style \"Sky\""),
                                          halvora::BoxButtons::Ok);
    halvora::TForm2 form(halvora::DefaultDialogs());
    form.show();
    return app.exec();
}
