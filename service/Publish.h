#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// The maker's release publisher: turns a release folder into the tree the desktop program
// reads below the service's /update/.
namespace halvora::publish {

// The description a release folder carries as "release.json".
struct ComponentDescription {
    QString id;
    QString name;
    QString file; // archive in the release folder, published under the same name
};

struct ReleaseDescription {
    QString version; // four-part version text of the release
    QString program; // new program file in the release folder; empty: no self-update
    QString urlBase; // the service's https base address (needed with a program file)
    QString notes;
    QList<ComponentDescription> components;
};

// Reads RELEASE_DIR/release.json; false with AErr when it is missing or malformed.
bool ReadReleaseDescription(const QString& AReleaseDir, ReleaseDescription& AOut, QString& AErr);

// A name safe both as the program's local file name and unchanged inside a URL.
bool IsPublishableName(const QString& AName);

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
