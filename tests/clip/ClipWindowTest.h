#pragma once

// A real clip window under Xvfb, shown and exposed, without a VLC runtime (playback is not what
// these tests look at), with its dialogs answered by a fake.
#include "ClipForm.h"
#include "Controls.h"
#include "FakeDialogs.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace halvora::test {

class ClipWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        FForm = std::make_unique<TClipForm>(FDialogs);
        FForm->SetLibVlcCandidates({QStringLiteral("/nonexistent/libvlc.so.5")});
        FForm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
    }
    template <typename T> T* W(const char* AName) { return Child<T>(FForm.get(), AName); }
    QString Status() { return W<QLabel>("LblStatus")->text(); }

    FakeDialogs FDialogs;
    std::unique_ptr<TClipForm> FForm;
};

} // namespace halvora::test
