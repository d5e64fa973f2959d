#pragma once

#include <QString>
#include <QVector>

namespace halvora {

// One shortcut of the clip window as the key list shows it.
struct ClipKey {
    QString keys;
    QString action;
};

// Every shortcut of the clip window, in the order the key list shows them.
const QVector<ClipKey>& ClipKeys();
// The key list as one text, one "keys: action" per line.
QString ClipKeysText();

} // namespace halvora
