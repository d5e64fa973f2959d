#pragma once

#include "CliOptions.h"
#include "ConversionResult.h"
#include "ProgressPrinter.h"

namespace halvora::cli {

// Each command's job; each gives the program's exit code (ExitCodes.h).
int RunConvert(const CliOptions& AOptions, ProgressPrinter& APrinter);
int RunBatch(const CliOptions& AOptions, ProgressPrinter& APrinter);
int RunCut(const CliOptions& AOptions, ProgressPrinter& APrinter);
int RunProbe(const CliOptions& AOptions, ProgressPrinter& APrinter);

// A conversion's end as an exit code; the paths it wrote (or the partial it kept) on stdout.
int ExitForJob(const JobReport& AReport);
// APath on a line of its own on stdout.
void PrintPath(const QString& APath);

} // namespace halvora::cli
