#include "ConversionMessages.h"

namespace halvora {

QString SubtitlesNote(const QString& ASentence, const QStringList& ALost, qsizetype AKept,
                      bool AAllLost) {
    if (AAllLost || (!ALost.isEmpty() && AKept == 0))
        return ASentence;
    return ALost.isEmpty() ? QString() : ASentence + QStringLiteral(": ") + ALost.join(u", ");
}

} // namespace halvora
