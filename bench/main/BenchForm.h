#pragma once

// The main window as the window benchmarks drive it: no update check, every box answered Ok.
#include "Umain.h"

namespace halvora::bench {

class BenchForm : public TForm2 {
public:
    using TForm2::TForm2;

protected:
    void CheckForUpdateAsync() override {}
};

class OkAnswers : public DialogService {
public:
    BoxAnswer message(QWidget*, BoxKind, const QString&, const QString&, BoxButtons) override {
        return BoxAnswer::Ok;
    }
};

} // namespace halvora::bench
