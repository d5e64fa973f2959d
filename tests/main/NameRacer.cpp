// Started several times at once by the conversion tests: waits until the go file appears, then
//   NameRacer GO reserve COUNT PATH...  reserves free names for the PATHs COUNT times over and
//                                       prints each reservation's names on one line, tab-separated;
//   NameRacer GO convert INPUT OUTDIR   converts INPUT into OUTDIR as the Convert button does and
//                                       prints the final status line.
#include "Conversion.h"
#include "FreeName.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

using namespace halvora;

namespace {

class StatusView : public ConvertView {
public:
    QString input, output, status;
    QString inputText() const override { return input; }
    QString outputText() const override { return output; }
    void setOutputText(const QString& AText) override { output = AText; }
    QString rootText() const override { return {}; }
    bool fastMode() const override { return true; }
    void setStatus(const QString& AText) override { status = AText; }
    void setProgress(int) override {}
    void setProgressMax(int) override {}
    int progressMax() const override { return 100; }
    BoxAnswer showMessage(BoxKind, const QString&, BoxButtons) override { return BoxAnswer::Ok; }
    QString pickFolder(const QString&) override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    // Every racer is running before any of them starts; the test creates the file then.
    while (!QFileInfo::exists(args[1]))
        QThread::usleep(200);
    QTextStream out(stdout);
    if (args[2] == QLatin1String("reserve")) {
        const int count = args[3].toInt();
        const QStringList paths = args.mid(4);
        for (int i = 0; i < count; ++i) {
            const QStringList names = ReserveFreeNames(paths);
            if (names.isEmpty())
                return 1;
            out << names.join(QLatin1Char('\t')) << '\n';
        }
        return 0;
    }
    if (args[2] == QLatin1String("convert")) {
        StatusView view;
        view.input = args[3];
        view.output = args[4];
        ConversionFlow flow(view);
        flow.ConvertInput();
        out << view.status << '\n';
        return 0;
    }
    return 2;
}
