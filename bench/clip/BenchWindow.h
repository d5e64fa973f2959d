#pragma once

// The clip window benchmarks' window, and their dialog service: every box is printed and
// answered OK.
#include "ClipForm.h"
#include "DialogService.h"

#include <cstdio>
#include <memory>

namespace halvora::bench {

class BenchDialogs : public DialogService {
public:
    BoxAnswer message(QWidget*, BoxKind, const QString&, const QString& AText,
                      BoxButtons) override {
        std::fprintf(stderr, "box: %s\n", qPrintable(AText));
        return BoxAnswer::Ok;
    }
};

// The clip window as the window benchmarks measure it: shown, without playback.
inline std::unique_ptr<TClipForm> NewBenchWindow(DialogService& ADialogs) {
    auto form = std::make_unique<TClipForm>(ADialogs);
    form->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
    form->show();
    return form;
}

} // namespace halvora::bench
