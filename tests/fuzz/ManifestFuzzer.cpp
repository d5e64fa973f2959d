// The update manifest and the release number read from its version text. The first four
// bytes also make a release number that must read back unchanged.
#include "FuzzInput.h"
#include "Updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    const QByteArray bytes = fuzz::Bytes(AData, ASize);
    UpdateManifest m;
    if (ParseUpdateManifest(bytes, m)) {
        fuzz::Require(m.hasUrl || m.url.isEmpty(), "no url unless present");
        (void)TUpdater::ReleaseNumber(m.version);
    }
    (void)TUpdater::ReleaseNumber(QString::fromUtf8(bytes));
    if (ASize >= 4) {
        std::int32_t n = 0;
        std::memcpy(&n, AData, sizeof n);
        const QString version = QStringLiteral("1.0.%1.7").arg(n);
        fuzz::Require(TUpdater::ReleaseNumber(version) == n, "a release number reads back");
        fuzz::Require(TUpdater::ReleaseNumber(QStringLiteral("1.0") + QString::number(n)) == -1,
                      "two fields have no release");
    }
    return 0;
}
