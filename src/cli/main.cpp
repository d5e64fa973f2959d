// halvora-cli: Halvora's conversions and cuts without a window, for scripts, servers and job
// schedulers. The same logic and jobs as the windows; no display is needed.
#include "CliJobs.h"
#include "CliOptions.h"
#include "ExitCodes.h"
#include "HttpClient.h"
#include "OwnedFiles.h"
#include "ProgressPrinter.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <cstdio>

using namespace halvora::cli;

namespace {

int RunJob(const CliOptions& AOptions) {
    ProgressPrinter printer(ProgressPrinter::ModeFor(AOptions));
    switch (AOptions.command) {
    case Subcommand::Convert:
        return RunConvert(AOptions, printer);
    case Subcommand::Batch:
        return RunBatch(AOptions, printer);
    case Subcommand::Cut:
        return RunCut(AOptions, printer);
    case Subcommand::Probe:
        return RunProbe(AOptions, printer);
    case Subcommand::None:
        break;
    }
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread starts, so that every thread inherits the mask.
    BlockStopSignals();
    halvora::HttpGlobalInit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Halvora"));
    const ParsedCommandLine line = ParseCliArguments(app.arguments().mid(1));
    switch (line.action) {
    case ParsedCommandLine::Action::Help:
    case ParsedCommandLine::Action::Version:
        std::fputs(line.text.toLocal8Bit().constData(), stdout);
        return kExitDone;
    case ParsedCommandLine::Action::Usage:
        std::fputs(line.text.toLocal8Bit().constData(), stderr);
        return kExitUsage;
    case ParsedCommandLine::Action::Run:
        break;
    }
    // What a run that died left behind (never a running one's files).
    halvora::CleanDeadRuns();
    const int code = RunJob(line.options);
    halvora::EndRun();
    return code;
}
