// halvora [FILE|URL], --help, --version and what is not understood.
#include "CommandLine.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

using namespace halvora;
using Action = CommandLine::Action;

TEST(CommandLine, ParseTable) {
    struct Row {
        QStringList args;
        Action action;
        QStringList items;
    };
    const std::vector<Row> rows{
        {{"halvora"}, Action::Run, {}},
        {{"/usr/bin/halvora", "/m/a.ts"}, Action::Run, {"/m/a.ts"}},
        {{"halvora", "https://h/x.m3u8", "b.ts"}, Action::Run, {"https://h/x.m3u8", "b.ts"}},
        {{"halvora", "--", "-odd name.ts"}, Action::Run, {"-odd name.ts"}},
        {{"halvora", "--version"}, Action::Version, {}},
        {{"halvora", "-v"}, Action::Version, {}},
        {{"halvora", "--help"}, Action::Help, {}},
        {{"halvora", "-h", "a.ts"}, Action::Help, {}},
        {{"halvora", "--help-all"}, Action::Help, {}},
        {{"halvora", "--bogus"}, Action::Error, {}},
        {{"halvora", "-x", "a.ts"}, Action::Error, {}},
        // Qt's own window-system options are the application object's, not unknown ones.
        {{"halvora", "-platform", "offscreen", "a.ts"}, Action::Run, {"a.ts"}},
        {{"halvora", "--style=fusion", "-reverse", "a.ts"}, Action::Run, {"a.ts"}},
        {{"halvora", "-display", ":1"}, Action::Run, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const CommandLine c = ParseCommandLine(r.args);
        EXPECT_EQ(c.action, r.action);
        EXPECT_EQ(c.items, r.items);
    }
    EXPECT_EQ(ParseCommandLine({"halvora", "--version"}).text, "Halvora 1.0.31.6\n");
    EXPECT_EQ(ParseCommandLine({"/usr/lib/halvora/halvora", "--bogus"}).text,
              "halvora: Unknown option 'bogus'.\nTry 'halvora --help' for more information.\n");
}

namespace {

struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
};

// The built program, with no window system to talk to: these must not need one.
ProgramRun RunProgram(const QStringList& AArgs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("HALVORA_TEST_APP_DIR") + QStringLiteral("halvora"), AArgs);
    ProgramRun r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

} // namespace

TEST(CommandLine, ProgramPrintsAndExitsWithoutAWindow) {
    ProgramRun r = RunProgram({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Halvora 1.0.31.6\n");
    EXPECT_EQ(r.err, "");

    r = RunProgram({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("Usage: halvora [options] [FILE|URL]\n")) << r.out.toStdString();
    for (const char* part : {"--version", "--help", "FILE|URL", "an .mp4 file opens in the clip"})
        EXPECT_TRUE(r.out.contains(QLatin1String(part))) << part;

    r = RunProgram({"--frobnicate", "a.ts"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(
        r.err,
        "halvora: Unknown option 'frobnicate'.\nTry 'halvora --help' for more information.\n");
}
