#pragma once

#include "Umain.h"

namespace halvora::test {

// The window without the start-up bootstrap, which has tests of its own.
class QuietForm : public TForm2 {
public:
    using TForm2::TForm2;

protected:
    void CheckForUpdateAsync() override {}
};

} // namespace halvora::test
