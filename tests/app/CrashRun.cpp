// One flow of the program in a process of its own, so a test can kill it with SIGKILL:
//   CrashRun record URL OUTDIR       records a link as the Convert button does
//   CrashRun link URL OUTDIR         what a start of the program and Convert on a link do:
//                                    settles dead runs' files, then converts (copying)
//   CrashRun convert INPUT OUTDIR    converts a file, re-encoding
//   CrashRun batch ROOT OUTDIR       converts a batch root, re-encoding
//   CrashRun export INPUT OUTPUT     exports INPUT without its seconds 2-4 over the existing
//                                    OUTPUT (so through a hidden temporary beside it)
//   CrashRun start                   what the program does first: settles dead runs' files and
//                                    prints the status line it would show
//   CrashRun leave KIND=PATH...      owns each path (reservation, recording, temp, folder,
//                                    resumable) and ends without saying so, as a killed run does
//   CrashRun hold OUTDIR             a running instance holding a reserved name, a temporary
//                                    export, a download's and the clip editor's working folders
// Every status line is printed as it is set; "ready" once a hold has made its files.
#include "ClipExport.h"
#include "Conversion.h"
#include "FreeName.h"
#include "OwnedFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <QMap>

#include <thread>
#include <unistd.h>

using namespace halvora;

namespace {

void Print(const QString& ALine) {
    QTextStream out(stdout);
    out << ALine << '\n';
    out.flush();
}

class PrintingView : public ConvertView, public ExportView {
public:
    QString input, output, root;
    QString inputText() const override { return input; }
    QString outputText() const override { return output; }
    void setOutputText(const QString& AText) override { output = AText; }
    QString rootText() const override { return root; }
    bool fast = false; // off: re-encoding, slow enough to be killed
    bool fastMode() const override { return fast; }
    void setStatus(const QString& AText) override { Print(AText); }
    void setProgress(int) override {}
    void setProgressMax(int) override {}
    int progressMax() const override { return 100; }
    BoxAnswer showMessage(BoxKind, const QString& AText, BoxButtons) override {
        Print(QStringLiteral("box: ") + AText);
        return BoxAnswer::Yes;
    }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        return showMessage(AKind, AText, AButtons);
    }
    QString pickFolder(const QString&) override { return {}; }
};

int Export(const QString& AInput, const QString& AOutput) {
    PrintingView view;
    ExportRequest r;
    r.inFile = AInput;
    r.outText = AOutput;
    r.rows = {{2, 4}};
    r.duration = 60;
    ClipEnv env;
    env.workDir = MakeClipWorkDir();
    return ExportClip(r, view, env) ? 0 : 1;
}

// Blocks until the test kills it or closes its stdin.
int Hold(const QString& AOutDir) {
    const QString held = ReserveFreeName(AOutDir + QStringLiteral("/held.mp4"));
    const QString temp = ReserveTempBeside(AOutDir + QStringLiteral("/typed.mp4"));
    const OwnedTempDir download;
    const QString clip = MakeClipWorkDir();
    QFile piece(clip + QStringLiteral("seg_0_1.mp4"));
    if (held.isEmpty() || temp.isEmpty() || !download.isValid() ||
        !piece.open(QIODevice::WriteOnly))
        return 1;
    Print(QStringLiteral("ready ") + download.path());
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}

int Leave(const QStringList& AItems) {
    static const QMap<QString, OwnedKind> kinds{
        {QStringLiteral("reservation"), OwnedKind::Reservation},
        {QStringLiteral("recording"), OwnedKind::Recording},
        {QStringLiteral("temp"), OwnedKind::TempFile},
        {QStringLiteral("folder"), OwnedKind::WorkFolder},
        {QStringLiteral("resumable"), OwnedKind::ResumableFolder}};
    for (const QString& item : AItems) {
        const QString kind = item.section(QLatin1Char('='), 0, 0);
        if (!kinds.contains(kind))
            ::_exit(2);
        OwnFile(item.section(QLatin1Char('='), 1), kinds.value(kind));
    }
    ::_exit(0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("start")) {
        Print(QStringLiteral("status: ") + KeptRecordingsText(CleanDeadRuns()));
        return 0;
    }
    if (mode == QLatin1String("leave"))
        return Leave(args.mid(2));
    if (mode == QLatin1String("hold")) {
        const int code = Hold(args.value(2));
        EndRun();
        return code;
    }
    // On a worker thread that ends with the job, as in the program.
    std::thread([&] {
        if (mode == QLatin1String("export")) {
            Export(args.value(2), args.value(3));
            return;
        }
        PrintingView view;
        ConversionFlow flow(view);
        view.output = args.value(3);
        if (mode == QLatin1String("link")) {
            CleanDeadRuns();
            view.fast = true;
        }
        if (mode == QLatin1String("batch")) {
            view.root = args.value(2);
            flow.ConvertBatch();
        } else {
            view.input = args.value(2);
            flow.ConvertInput();
        }
    }).join();
    EndRun();
    return 0;
}
