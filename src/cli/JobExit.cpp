#include "CliJobs.h"
#include "ExitCodes.h"

#include <cstdio>

namespace halvora::cli {

void PrintPath(const QString& APath) {
    std::fputs((APath + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

int ExitForJob(const JobReport& AReport) {
    for (const QString& path : AReport.written)
        PrintPath(path);
    switch (AReport.end) {
    case JobEnd::Done:
        return kExitDone;
    case JobEnd::RecordingStopped:
        return kExitSignalled;
    case JobEnd::Stopped:
        // A recording whose conversion a second signal stopped: its TS is what is left.
        if (!AReport.kept.isEmpty())
            PrintPath(AReport.kept);
        return kExitSignalled;
    case JobEnd::DownloadIncomplete:
        PrintPath(AReport.kept);
        return kExitIncomplete;
    case JobEnd::Failed:
        break;
    }
    return kExitFailed;
}

} // namespace halvora::cli
