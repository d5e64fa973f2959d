// libFuzzer entry: the input bytes are read as UTF-16 code units (any values, lone
// surrogates included).
#include "EmailFuzzCheck.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    QString text(static_cast<qsizetype>(ASize / 2), Qt::Uninitialized);
    if (ASize >= 2)
        std::memcpy(text.data(), AData, (ASize / 2) * 2);
    if (!halvora::test::EmailCheckHolds(text))
        std::abort();
    return 0;
}
