#include "ConsoleConvertView.h"

namespace halvora::cli {

BoxAnswer ConsoleConvertView::showMessage(BoxKind AKind, const QString& AText,
                                          BoxButtons AButtons) {
    if (AKind == BoxKind::Confirmation)
        return AButtons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Yes;
    FPrinter.message(AKind, AText);
    return BoxAnswer::Ok;
}

} // namespace halvora::cli
