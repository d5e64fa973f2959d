#pragma once

#include "ReleaseDescription.h"

#include <QString>
#include <functional>

// The maker's release publisher: turns a release folder into the tree the desktop program
// reads below the service's /update/.
namespace halvora::publish {

struct PublishOptions {
    // Called after each step that renames a file into place ("archive", "program",
    // "version", "components"); tests use it to stop the process half-way.
    std::function<void(const QString& AStep)> afterStep;
    // Status lines for the maker.
    std::function<void(const QString&)> log;
};

// Checks the release and, when the program would accept every part of it, publishes it into
// ASiteDir/update/. Nothing is published when a check fails. Every file is written beside its
// final name and renamed into place, archives and the program file first, version.json next,
// components.json last, so a reader always sees a whole release.
bool Publish(const QString& AReleaseDir, const QString& ASiteDir, QString& AErr,
             const PublishOptions& AOptions = {});

} // namespace halvora::publish
