#include "ProgressPrinter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace halvora::cli {

namespace {

constexpr qint64 kPlainEveryMs = 1000;

void Write(const QByteArray& AText) {
    std::fwrite(AText.constData(), 1, static_cast<size_t>(AText.size()), stderr);
    std::fflush(stderr);
}

int TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80;
}

double Rounded(double AValue, int ADigits) {
    const double scale = std::pow(10.0, ADigits);
    return std::round(AValue * scale) / scale;
}

const char* KindName(BoxKind AKind) {
    switch (AKind) {
    case BoxKind::Error:
        return "error";
    case BoxKind::Warning:
        return "warning";
    case BoxKind::Information:
        return "information";
    case BoxKind::Confirmation:
        return "question";
    }
    return "information";
}

} // namespace

ProgressPrinter::Mode ProgressPrinter::ModeFor(const CliOptions& AOptions) {
    if (AOptions.quiet)
        return Mode::Quiet;
    if (AOptions.progress == ProgressStyle::Json)
        return Mode::Json;
    return ::isatty(STDERR_FILENO) ? Mode::Line : Mode::Plain;
}

void ProgressPrinter::status(const QString& AText) {
    std::lock_guard<std::mutex> g(FLock);
    if (AText == FLastStatus || FMode == Mode::Quiet || FMode == Mode::Json)
        return;
    FLastStatus = AText;
    if (FMode == Mode::Line) {
        writeInPlace(AText);
        return;
    }
    // A log gets each step, but the progress of a run only now and then.
    const bool progress = FProgressing;
    FProgressing = false;
    if (progress && FSincePrinted.isValid() && FSincePrinted.elapsed() < kPlainEveryMs)
        return;
    FSincePrinted.start();
    writeLine(AText);
}

void ProgressPrinter::progressAt(std::int64_t APositionMs, std::int64_t ATotalMs) {
    std::lock_guard<std::mutex> g(FLock);
    FProgressing = true;
    if (!FRunClock.isValid() || APositionMs < FLastPositionMs)
        FRunClock.start(); // a new run starts from its beginning
    FLastPositionMs = APositionMs;
    if (FMode != Mode::Json)
        return;
    const double wallS = std::max<qint64>(FRunClock.elapsed(), 1) / 1000.0;
    const double speed = APositionMs / 1000.0 / wallS;
    QJsonObject o;
    o.insert(QStringLiteral("position"), Rounded(APositionMs / 1000.0, 3));
    o.insert(QStringLiteral("speed"), Rounded(speed, 2));
    if (ATotalMs > 0) {
        o.insert(QStringLiteral("duration"), Rounded(ATotalMs / 1000.0, 3));
        const std::int64_t at = std::min(APositionMs, ATotalMs); // the last report may pass it
        o.insert(QStringLiteral("percent"), Rounded(100.0 * at / ATotalMs, 1));
        const double left = (ATotalMs - at) / 1000.0;
        o.insert(QStringLiteral("eta"),
                 speed > 0 ? QJsonValue(Rounded(left / speed, 1)) : QJsonValue());
    } else {
        o.insert(QStringLiteral("percent"), QJsonValue());
        o.insert(QStringLiteral("eta"), QJsonValue());
    }
    Write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

void ProgressPrinter::message(BoxKind AKind, const QString& AText) {
    std::lock_guard<std::mutex> g(FLock);
    const bool problem = AKind == BoxKind::Error || AKind == BoxKind::Warning;
    if (FMode == Mode::Quiet && !problem)
        return;
    const QString text = QString(AText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (FMode == Mode::Json) {
        QJsonObject o;
        o.insert(QStringLiteral("message"), text);
        o.insert(QStringLiteral("kind"), QLatin1String(KindName(AKind)));
        Write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
        return;
    }
    endLine();
    Write((text + QLatin1Char('\n')).toLocal8Bit());
}

void ProgressPrinter::endLine() {
    if (FLineOpen)
        Write("\n");
    FLineOpen = false;
}

void ProgressPrinter::writeLine(const QString& AText) {
    Write((AText + QLatin1Char('\n')).toLocal8Bit());
}

void ProgressPrinter::writeInPlace(const QString& AText) {
    // Longer than the terminal is wide, a line would wrap and no longer be rewritten in place.
    const QString shown = AText.left(std::max(TerminalColumns() - 1, 10));
    Write("\r\033[K" + shown.toLocal8Bit());
    FLineOpen = true;
}

} // namespace halvora::cli
