#pragma once

#include <QString>

namespace halvora {

// Whether ADir may hold files the helper reads with root's rights: a real folder of this user
// that nobody else may write to (write access for others is taken away when it can be). False
// with AErr otherwise.
bool PrivateFolder(const QString& ADir, QString& AErr);

} // namespace halvora
