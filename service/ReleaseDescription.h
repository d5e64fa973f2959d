#pragma once

#include <QList>
#include <QString>

// The maker's description of a release, read before anything is published.
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

} // namespace halvora::publish
