#include "CommandLine.h"

#include "AppPaths.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace halvora {

namespace {

// The options QGuiApplication and QApplication take for themselves (one or two dashes), with
// or without a value.
const QStringList kQtValueOptions{QStringLiteral("platform"),
                                  QStringLiteral("platformpluginpath"),
                                  QStringLiteral("platformtheme"),
                                  QStringLiteral("plugin"),
                                  QStringLiteral("qwindowgeometry"),
                                  QStringLiteral("qwindowicon"),
                                  QStringLiteral("qwindowtitle"),
                                  QStringLiteral("display"),
                                  QStringLiteral("geometry"),
                                  QStringLiteral("title"),
                                  QStringLiteral("icon"),
                                  QStringLiteral("name"),
                                  QStringLiteral("style"),
                                  QStringLiteral("stylesheet"),
                                  QStringLiteral("session"),
                                  QStringLiteral("qmljsdebugger")};
const QStringList kQtFlagOptions{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                 QStringLiteral("nograb"),  QStringLiteral("dograb"),
                                 QStringLiteral("sync"),    QStringLiteral("testability")};

// AArgs without Qt's own options; stops at "--", after which everything is an item.
QStringList WithoutQtOptions(const QStringList& AArgs) {
    QStringList kept;
    for (qsizetype i = 0; i < AArgs.size(); ++i) {
        const QString& arg = AArgs[i];
        if (i == 0 || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            kept << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            kept << AArgs.mid(i);
            break;
        }
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool inlineValue = eq >= 0;
        if (inlineValue)
            name.truncate(eq);
        if (kQtValueOptions.contains(name)) {
            if (!inlineValue)
                ++i; // its value
            continue;
        }
        if (kQtFlagOptions.contains(name) && !inlineValue)
            continue;
        kept << arg;
    }
    return kept;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& AArgs) {
    const QString program =
        AArgs.isEmpty() ? QStringLiteral("halvora") : QFileInfo(AArgs.first()).fileName();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Converts HLS playlists and MPEG-TS files to MP4, and cuts MP4 videos.\n"
                       "A file or link fills the input field, a folder the batch root field;\n"
                       "an .mp4 file opens in the clip editor."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE|URL"),
                                 QStringLiteral("A playlist, TS or MP4 file, a folder, or an "
                                                "http(s) link to a playlist."),
                                 QStringLiteral("[FILE|URL]"));
    CommandLine result;
    QStringList args = WithoutQtOptions(AArgs);
    if (args.isEmpty())
        args << program;
    if (!parser.parse(args)) {
        result.action = CommandLine::Action::Error;
        result.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                          .arg(program, parser.errorText());
        return result;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.action = CommandLine::Action::Help;
        // Without an application object the parser can't know the program's name.
        result.text = parser.helpText();
        result.text.replace(QLatin1String("<executable_name>"), program);
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = QStringLiteral("Halvora %1\n").arg(FileVersionText());
        return result;
    }
    result.items = parser.positionalArguments();
    return result;
}

} // namespace halvora
