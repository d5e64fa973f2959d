#include "CliJobs.h"
#include "ConsoleConvertView.h"
#include "Conversion.h"
#include "ExitCodes.h"
#include "StopSignals.h"

#include <QDir>
#include <QFileInfo>

namespace halvora::cli {

namespace {

QualityChoice QualityOf(const QString& AText) {
    if (AText == QLatin1String("smallest"))
        return QualityChoice(QualityChoice::Smallest);
    if (AText == QLatin1String("best"))
        return QualityChoice(QualityChoice::Best);
    return QualityChoice(QualityChoice::Variant, QString(), AText); // "WxH"
}

// -o as a folder, or as a file when it names an MP4 that is not a folder.
void SetOutput(ConsoleConvertView& AView, const QString& AOutput) {
    // Absolute, so that the paths printed at the end hold wherever the caller reads them.
    const QString out =
        QFileInfo(AOutput.isEmpty() ? QDir::currentPath() : AOutput).absoluteFilePath();
    const bool file =
        out.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive) && !QFileInfo(out).isDir();
    if (!file) {
        AView.outputFolder = out;
        return;
    }
    const QFileInfo info(out);
    AView.outputFolder = info.absolutePath();
    AView.outputFile = info.fileName();
}

} // namespace

int RunConvert(const CliOptions& AOptions, ProgressPrinter& APrinter) {
    ConsoleConvertView view(APrinter);
    view.input = AOptions.input;
    view.reencode = AOptions.reencode;
    view.quality = QualityOf(AOptions.quality);
    view.headers.lines = AOptions.headers;
    view.headers.cookieFile = AOptions.cookies;
    const QString badCookies = CheckCookieFile(AOptions.cookies);
    if (!badCookies.isEmpty()) {
        APrinter.message(BoxKind::Error, badCookies);
        return kExitUsage;
    }
    SetOutput(view, AOptions.output);
    ConversionFlow flow(view);
    const StopOnSignal stop([&flow] { flow.RequestStop(); });
    flow.ConvertInput();
    return ExitForJob(flow.lastJob());
}

} // namespace halvora::cli
