#include "ClipKeys.h"

namespace halvora {

const QVector<ClipKey>& ClipKeys() {
    static const QVector<ClipKey> keys{
        {QStringLiteral(", / ."), QStringLiteral("one frame back / forward")},
        {QStringLiteral("Left / Right"), QStringLiteral("one second back / forward (time line)")},
        {QStringLiteral("Shift+Left / Shift+Right, PageDown / PageUp"),
         QStringLiteral("ten seconds back / forward (time line, picture)")},
        {QStringLiteral("Ctrl+Left / Ctrl+Right"),
         QStringLiteral("previous / next keyframe (time line, picture)")},
        {QStringLiteral("Home / End"),
         QStringLiteral("start / end of the video (time line, picture)")},
        {QStringLiteral("Space"), QStringLiteral("play / pause (time line, picture)")},
        {QStringLiteral("time field, Enter"), QStringLiteral("go to the frame at hh:mm:ss.mmm")},
        {QStringLiteral("I / O"), QStringLiteral("Mark start / Mark end at the frame shown")},
        {QStringLiteral("F2, double-click"), QStringLiteral("edit the selected segment's times")},
        {QStringLiteral("Delete"), QStringLiteral("remove the selected segment")},
        {QStringLiteral("Ctrl+Z"), QStringLiteral("undo a change of the segment list")},
        {QStringLiteral("Ctrl+Shift+Z, Ctrl+Y"), QStringLiteral("redo")},
        {QStringLiteral("?"), QStringLiteral("this list")},
        {QStringLiteral("Esc"), QStringLiteral("stop an export or an opening")},
    };
    return keys;
}

QString ClipKeysText() {
    QStringList lines;
    for (const ClipKey& k : ClipKeys())
        lines << k.keys + QStringLiteral(": ") + k.action;
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace halvora
