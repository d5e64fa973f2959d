#pragma once

#include <QLatin1String>
#include <QWidget>
#include <gtest/gtest.h>

namespace halvora::test {

// The control named AName in AWindow; a test failure, and null, when there is none.
template <typename T> T* Child(const QWidget* AWindow, const char* AName) {
    T* w = AWindow->findChild<T*>(QLatin1String(AName));
    EXPECT_NE(w, nullptr) << AName;
    return w;
}

} // namespace halvora::test
