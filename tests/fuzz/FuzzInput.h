#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Shared by the libFuzzer targets: inputs as bytes or as UTF-16 text, and a failed property
// that ends the run with a finding.
namespace halvora::fuzz {

inline QByteArray Bytes(const uint8_t* AData, size_t ASize) {
    return QByteArray(reinterpret_cast<const char*>(AData), qsizetype(ASize));
}

// Any code units, lone surrogates included.
inline QString Utf16(const uint8_t* AData, size_t ASize) {
    QString text(qsizetype(ASize / 2), Qt::Uninitialized);
    if (ASize >= 2)
        std::memcpy(text.data(), AData, (ASize / 2) * 2);
    return text;
}

inline void Require(bool AHolds, const char* AWhat) {
    if (!AHolds) {
        std::fprintf(stderr, "property failed: %s\n", AWhat);
        std::abort();
    }
}

} // namespace halvora::fuzz
