#pragma once

#include <QString>

namespace halvora {

// How the start-up provisioning ended.
enum class ProvisionResult {
    Ready,       // nothing was missing, or everything missing was installed
    Unreachable, // the component list could not be fetched
    Failed,      // a download, its checks or an install failed
};

struct ProvisionOutcome {
    ProvisionResult result = ProvisionResult::Ready;
    QString detail; // what failed, innermost first ("FFmpeg: integrity check failed")
};

// How the self-update job ended, short of handing the new program to the helper. Only
// Downloaded goes on; the others are silent.
enum class UpdateResult {
    NotOffered,     // no newer release with a link, or the check itself failed
    Declined,       // the user answered No (or the window went before it could ask)
    DownloadFailed, // the new program file did not arrive whole
    Downloaded,     // the new program file is ready
};

struct UpdateOutcome {
    UpdateResult result = UpdateResult::NotOffered;
    QString file; // the new program file when Downloaded
};

// How handing a downloaded update to the helper went.
enum class LaunchResult {
    Started,        // the helper runs: the application ends now
    HelperMissing,  // no helper at `helper`
    NotStarted,     // the start failed or the elevation was refused: `code`
    PackageManaged, // a packaged build leaves updates to the package manager
};

struct LaunchOutcome {
    LaunchResult result = LaunchResult::Started;
    QString helper;
    int code = 0;
};

} // namespace halvora
