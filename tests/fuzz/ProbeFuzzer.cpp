// The probes' readers of ffmpeg's console text: whatever a file makes ffmpeg print.
#include "FuzzInput.h"
#include "MediaProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using namespace halvora;
    const QString text = QString::fromUtf8(fuzz::Bytes(AData, ASize));
    fuzz::Require(ParseDuration(text) >= 0, "a duration is never negative");
    const QString size = ParseVideoSize(text);
    if (!size.isEmpty()) {
        const qsizetype x = size.indexOf(u'x');
        fuzz::Require(x > 0 && x + 1 < size.size(), "a size is WxH");
        for (qsizetype i = 0; i < size.size(); ++i)
            fuzz::Require(i == x || (size[i] >= u'0' && size[i] <= u'9'), "a size holds digits");
    }
    const QString shown = ShownVideoSize(text);
    fuzz::Require(shown.size() == size.size(), "the shown size is the stored one, maybe turned");
    return 0;
}
