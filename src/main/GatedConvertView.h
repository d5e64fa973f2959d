#pragma once

#include "ConvertView.h"
#include "WindowGate.h"

#include <atomic>
#include <memory>

namespace halvora {

// The window as a conversion on a worker thread sees it: status and progress are queued to the
// window thread, questions and reads wait there for their answer. Once the gate is closed (the
// window is gone) reads give empty values, boxes BoxAnswer::Closed, and closed() is true.
class GatedConvertView : public ConvertView {
public:
    GatedConvertView(ConvertView& AWindow, std::shared_ptr<WindowGate> AGate)
        : FWindow(AWindow), FGate(std::move(AGate)) {}

    // While closing after a stop the flow's remaining boxes are not shown.
    void setQuiet(bool AQuiet) { FQuiet.store(AQuiet); }

    QString inputText() const override;
    QString outputText() const override;
    void setOutputText(const QString& AText) override;
    QString rootText() const override;
    bool fastMode() const override;
    QualityChoice qualityChoice() const override;
    RequestHeaders requestHeaders() const override;
    void setStatus(const QString& AText) override;
    void setProgress(int APosition) override;
    void setProgressMax(int AMax) override;
    int progressMax() const override;
    BoxAnswer showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    QString pickFolder(const QString& ATitle) override;
    bool closed() const override { return !FGate->IsOpen(); }

private:
    template <typename T, typename F> T ask(F AWork, T AOtherwise) const {
        T value = AOtherwise;
        FGate->RunAndWait([&] { value = AWork(); });
        return value;
    }

    ConvertView& FWindow;
    std::shared_ptr<WindowGate> FGate;
    std::atomic<bool> FQuiet{false};
    // The bar's maximum as last set from here, so reading it needs no trip to the window.
    std::atomic<int> FMax{-1};
};

} // namespace halvora
