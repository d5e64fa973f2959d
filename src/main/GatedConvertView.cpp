#include "GatedConvertView.h"

namespace halvora {

QString GatedConvertView::inputText() const {
    return ask([this] { return FWindow.inputText(); }, QString());
}

QString GatedConvertView::outputText() const {
    return ask([this] { return FWindow.outputText(); }, QString());
}

void GatedConvertView::setOutputText(const QString& AText) {
    FGate->Queue([this, AText] { FWindow.setOutputText(AText); });
}

QString GatedConvertView::rootText() const {
    return ask([this] { return FWindow.rootText(); }, QString());
}

bool GatedConvertView::fastMode() const {
    return ask([this] { return FWindow.fastMode(); }, true);
}

QualityChoice GatedConvertView::qualityChoice() const {
    return ask([this] { return FWindow.qualityChoice(); }, QualityChoice{});
}

RequestHeaders GatedConvertView::requestHeaders() const {
    return ask([this] { return FWindow.requestHeaders(); }, RequestHeaders{});
}

void GatedConvertView::setStatus(const QString& AText) {
    FGate->Queue([this, AText] { FWindow.setStatus(AText); });
}

void GatedConvertView::setProgress(int APosition) {
    FGate->Queue([this, APosition] { FWindow.setProgress(APosition); });
}

void GatedConvertView::setProgressMax(int AMax) {
    FMax.store(AMax);
    FGate->Queue([this, AMax] { FWindow.setProgressMax(AMax); });
}

int GatedConvertView::progressMax() const {
    const int max = FMax.load();
    return max >= 0 ? max : ask([this] { return FWindow.progressMax(); }, 100);
}

BoxAnswer GatedConvertView::showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) {
    if (FQuiet.load())
        return BoxAnswer::Closed;
    return ask([&] { return FWindow.showMessage(AKind, AText, AButtons); }, BoxAnswer::Closed);
}

QString GatedConvertView::pickFolder(const QString& ATitle) {
    return ask([&] { return FWindow.pickFolder(ATitle); }, QString());
}

} // namespace halvora
