#pragma once

#include "ConvertView.h"
#include "ProgressPrinter.h"

#include <QString>
#include <QStringList>

namespace halvora::cli {

// The conversions' view without a window: the fields are set from the command line, status and
// boxes go to the printer, and every question is answered as a script needs it answered.
class ConsoleConvertView : public ConvertView {
public:
    explicit ConsoleConvertView(ProgressPrinter& APrinter) : FPrinter(APrinter) {}

    QString input;
    QString outputFolder;
    QString outputFile; // a file name the MP4 gets instead of one made from the input
    QString root;
    bool reencode = false;
    QualityChoice quality;
    // --header and --cookies, sent with every request of the link.
    RequestHeaders headers;

    QString inputText() const override { return input; }
    RequestHeaders requestHeaders() const override { return headers; }
    QString outputText() const override { return outputFolder; }
    void setOutputText(const QString& AText) override { outputFolder = AText; }
    QString outputName() const override { return outputFile; }
    QString rootText() const override { return root; }
    bool fastMode() const override { return !reencode; }
    QualityChoice qualityChoice() const override { return quality; }

    void setStatus(const QString& AText) override { FPrinter.status(AText); }
    void setProgress(int APosition) override { FBar = APosition; }
    void setProgressMax(int AMax) override { FBarMax = AMax; }
    int progressMax() const override { return FBarMax; }
    void progressAt(std::int64_t APositionMs, std::int64_t ATotalMs) override {
        FPrinter.progressAt(APositionMs, ATotalMs);
    }

    // Boxes are printed; the one question (an empty output folder) is answered Yes: the
    // Documents folder. It is never asked, since the output folder is always set.
    BoxAnswer showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    // Nobody is there to pick one.
    QString pickFolder(const QString&) override { return {}; }

private:
    ProgressPrinter& FPrinter;
    int FBar = 0;
    int FBarMax = 100;
};

} // namespace halvora::cli
