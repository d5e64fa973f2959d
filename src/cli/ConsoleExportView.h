#pragma once

#include "ExportView.h"
#include "ProgressPrinter.h"

namespace halvora::cli {

// The export's view without a window: status and boxes go to the printer; asked whether to
// replace a file, it says No (the command line always writes under a free name instead).
class ConsoleExportView : public ExportView {
public:
    explicit ConsoleExportView(ProgressPrinter& APrinter) : FPrinter(APrinter) {}

    void setStatus(const QString& AText) override { FPrinter.status(AText); }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        if (AKind == BoxKind::Confirmation)
            return AButtons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::No;
        FPrinter.message(AKind, AText);
        return BoxAnswer::Ok;
    }
    void progressAt(std::int64_t ADoneMs, std::int64_t ATotalMs) override {
        FPrinter.progressAt(ADoneMs, ATotalMs);
    }

private:
    ProgressPrinter& FPrinter;
};

} // namespace halvora::cli
