#include "ExportTarget.h"

#include "FreeName.h"

#include <QFile>

namespace halvora {

ExportTarget::ExportTarget(const QString& AOutput, bool AFreeName, bool AReplacing)
    : FOutput(AOutput), FWriting(AOutput), FResult(AOutput), FFreeName(AFreeName),
      FReplacing(AReplacing) {}

bool ExportTarget::reserve(QString* AError) {
    if (FReserved || !(FFreeName || FReplacing))
        return true;
    const QString name =
        FReplacing ? ReserveTempBeside(FOutput, AError) : ReserveFreeName(FOutput, AError);
    if (name.isEmpty())
        return false;
    FWriting = name;
    if (FFreeName)
        FResult = name;
    FReserved = true;
    return true;
}

void ExportTarget::release() {
    if (!FReserved)
        return;
    if (FReplacing)
        QFile::remove(FWriting);
    else if (FFreeName)
        DropUnwritten(FWriting);
}

void ExportTarget::discardPartial() {
    if (FReserved)
        QFile::resize(FWriting, 0);
    else
        QFile::remove(FWriting);
}

bool ExportTarget::finish(QString* AError) {
    if (!FReplacing || ReplaceWithTemp(FWriting, FOutput, AError))
        return true;
    QFile::remove(FWriting);
    return false;
}

} // namespace halvora
