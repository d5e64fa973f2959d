#pragma once

#include "Boxes.h"
#include "Conversion.h"
#include "ConvertView.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace halvora::test {

// Records everything the conversions tell the window and answers its questions from queues.
class FakeView : public ConvertView, public BoxRecorder {
public:
    QString input, output, root;
    bool fast = true;
    QStringList statuses;
    QStringList pickTitles;
    QString pickAnswer;     // the folder the picker returns (empty: cancelled)
    QList<int> progressLog; // every position set
    int progress = 0;
    int max = 100;
    mutable int closedChecks = 0;
    std::function<void()> onClosedCheck; // runs each time the flow asks whether it is closed
    bool isClosed = false;               // the window was closed (set from onClosedCheck)

    QString status() const { return statuses.isEmpty() ? QString() : statuses.last(); }

    QString inputText() const override { return input; }
    QString outputText() const override { return output; }
    void setOutputText(const QString& AText) override { output = AText; }
    QString rootText() const override { return root; }
    bool fastMode() const override { return fast; }
    QualityChoice choice; // what the Quality choice says
    QualityChoice qualityChoice() const override { return choice; }
    RequestHeaders headers; // what the Headers dialog says
    RequestHeaders requestHeaders() const override { return headers; }
    void setStatus(const QString& AText) override { statuses << AText; }
    void setProgress(int APosition) override {
        progress = std::clamp(APosition, 0, max);
        progressLog << progress;
    }
    void setProgressMax(int AMax) override { max = AMax; }
    int progressMax() const override { return max; }
    BoxAnswer showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) override {
        return record(AKind, AText, AButtons);
    }
    QString pickFolder(const QString& ATitle) override {
        pickTitles << ATitle;
        return pickAnswer;
    }
    bool closed() const override {
        ++closedChecks;
        if (onClosedCheck)
            onClosedCheck();
        return isClosed;
    }
};

struct RecordedRun {
    QString text;
    QString workDir;
};

// Records the commands a flow runs; what happens then is up to `next` (0 when unset).
class RunRecorder {
public:
    QList<RecordedRun> runs;
    std::function<int(const Command&, const RunOptions&)> next;

    ProcessRunner runner() {
        return [this](const Command& ACmd, const RunOptions& AOptions) {
            runs << RecordedRun{ACmd.text(), AOptions.workDir};
            return next ? next(ACmd, AOptions) : 0;
        };
    }
    // Runs the commands for real.
    void passThrough() {
        next = [](const Command& ACmd, const RunOptions& AOptions) {
            return RunCommand(ACmd, AOptions);
        };
    }
};

} // namespace halvora::test

inline void PrintTo(const QString& AText, std::ostream* AOut) {
    *AOut << '"' << AText.toStdString() << '"';
}
