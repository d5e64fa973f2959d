// The component list as the service (or anyone between) might send it.
#include "FuzzInput.h"
#include "Updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    QList<ComponentEntry> entries;
    const ComponentListStatus status = ParseComponentList(fuzz::Bytes(AData, ASize), entries);
    fuzz::Require(status == ComponentListStatus::Ok || entries.isEmpty(),
                  "a refused list gives no entries");
    for (const ComponentEntry& e : entries)
        fuzz::Require(!e.file.isEmpty(), "every entry names its archive");
    return 0;
}
