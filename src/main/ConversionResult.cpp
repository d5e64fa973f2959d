#include "ConversionResult.h"

#include "Process.h"

namespace halvora {

namespace {

// The numbers these results have always shown in "exit=N".
constexpr int kFFmpegMissingCode = -2;
constexpr int kSegmentsMissingCode = -4;
constexpr int kOutputWriteFailedCode = -7;

} // namespace

ConversionOutcome OutcomeOfRun(int ARunCode) {
    switch (ARunCode) {
    case 0:
        return {ConversionResult::Done, 0};
    case kRunStopped:
        return {ConversionResult::Stopped, ARunCode};
    case kRunStalled:
        return {ConversionResult::Stalled, ARunCode};
    default:
        return {ConversionResult::Failed, ARunCode};
    }
}

ConversionOutcome OutcomeOf(ConversionResult AResult) {
    switch (AResult) {
    case ConversionResult::FFmpegMissing:
        return {AResult, kFFmpegMissingCode};
    case ConversionResult::SegmentsMissing:
        return {AResult, kSegmentsMissingCode};
    case ConversionResult::OutputWriteFailed:
        return {AResult, kOutputWriteFailedCode};
    case ConversionResult::Stopped:
        return {AResult, kRunStopped};
    case ConversionResult::Stalled:
        return {AResult, kRunStalled};
    case ConversionResult::WindowClosed:
        return {AResult, kRunCancelled};
    case ConversionResult::Done:
    case ConversionResult::Failed:
        break;
    }
    return {AResult, 0};
}

JobEnd JobEndOf(const ConversionOutcome& AOutcome, JobEnd ADone) {
    if (AOutcome.done())
        return ADone;
    return AOutcome.is(ConversionResult::Stopped) ? JobEnd::Stopped : JobEnd::Failed;
}

} // namespace halvora
