#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace halvora {

// One entry of the service's component list, every value as its text.
struct ComponentEntry {
    QString id;
    QString name;
    QString file;
    QString sha256;
    std::int64_t size = 0;
};

enum class ComponentListStatus { Ok, Unreadable, Empty };

// Reads the component list: first of repeated keys, numbers as their literal text, entries that
// are not objects or have no "file" left out.
ComponentListStatus ParseComponentList(const QByteArray& AJson, QList<ComponentEntry>& AOut);

// The update manifest, every value as its text; the first of repeated keys counts.
struct UpdateManifest {
    QString version;
    QString url;
    bool hasUrl = false;
    std::int64_t size = 0; // 0 when absent or not a whole number
    QString sha256;
    QString notes;
    bool hasNotes = false;
};

// False when AJson is not JSON or its top level is not an object.
bool ParseUpdateManifest(const QByteArray& AJson, UpdateManifest& AOut);

// A whole decimal number (optional sign, digits only, fits 64 bits); 0 for any other text.
std::int64_t WholeNumberOr0(const QString& AText);

// A name that the program takes as an archive's local file name: one plain path element.
bool IsPlainFileName(const QString& AName);

} // namespace halvora
