#pragma once

#include "ClipEnv.h"
#include "CutCommands.h"
#include "ExportView.h"
#include "MediaIndex.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace halvora {

// The whole export: cut every kept range, write "list.txt", join by copy and, when that fails,
// once more by re-encoding. Reports through AView exactly as the window shows it; true when the
// output was written, and then AWritten (optional) receives the files written: one, or one per
// kept stretch with separateFiles.
bool ExportClip(const ExportRequest& ARequest, ExportView& AView, const ClipEnv& AEnv = {},
                QStringList* AWritten = nullptr);

} // namespace halvora
