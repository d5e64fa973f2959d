// Converts one file through ConvertFile in fast mode, as the main window does (on a worker,
// its progress handed to this thread through the window gate), and prints the wall time in
// milliseconds. Used by convert_ratio.sh against the bare ffmpeg command.
#include "Conversion.h"
#include "GatedConvertView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <thread>

namespace {

class HeadlessView : public halvora::ConvertView {
public:
    QString inputText() const override { return {}; }
    QString outputText() const override { return {}; }
    void setOutputText(const QString&) override {}
    QString rootText() const override { return {}; }
    bool fastMode() const override { return true; }
    void setStatus(const QString& AText) override {
        std::fprintf(stderr, "status: %s\n", qPrintable(AText));
    }
    void setProgress(int) override {}
    void setProgressMax(int) override {}
    int progressMax() const override { return 100; }
    halvora::BoxAnswer showMessage(halvora::BoxKind, const QString&, halvora::BoxButtons) override {
        return halvora::BoxAnswer::Ok;
    }
    QString pickFolder(const QString&) override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_convert_file INPUT OUTPUT.mp4\n");
        return 2;
    }
    HeadlessView view;
    halvora::GateContext context;
    halvora::GatedConvertView gated(view, context.Gate());
    halvora::ConversionFlow flow(gated);
    QElapsedTimer t;
    t.start();
    int result = -1;
    std::thread worker([&] {
        result =
            flow.ConvertFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])).code;
        context.Gate()->Queue([] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    worker.join();
    std::printf("%lld\n", static_cast<long long>(t.elapsed()));
    return result == 0 ? 0 : 1;
}
