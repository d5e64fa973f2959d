#include "CliJobs.h"
#include "ConsoleConvertView.h"
#include "Conversion.h"
#include "StopSignals.h"

namespace halvora::cli {

int RunBatch(const CliOptions& AOptions, ProgressPrinter& APrinter) {
    ConsoleConvertView view(APrinter);
    view.root = AOptions.input;
    view.outputFolder = AOptions.output; // empty: the root, as in the window
    ConversionFlow flow(view);
    // A signal ends the folder being converted and skips the rest; finished ones stay.
    const StopOnSignal stop([&flow] { flow.RequestStop(); });
    flow.ConvertBatch();
    return ExitForJob(flow.lastJob());
}

} // namespace halvora::cli
