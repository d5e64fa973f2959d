// libFuzzer entry: the input bytes are a playlist, read once as a remote and once as a local
// master, and a WebVTT segment of a subtitle rendition. Aborts when a reader hands on something
// it must not.
#include "HlsMaster.h"
#include "HlsSubtitles.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace halvora;

namespace {

void Check(const QByteArray& AText, const QString& ABase, bool ARemote) {
    const HlsPlaylist p = ReadHlsPlaylist(AText, ABase);
    const QList<int> ranked = VariantsByQuality(p);
    for (const QualityChoice& c :
         {QualityChoice{}, QualityChoice{QualityChoice::Smallest, {}},
          QualityChoice{QualityChoice::Variant,
                        p.variants.isEmpty() ? QString() : p.variants.last().uri}}) {
        const QList<int> order = VariantOrder(p, c);
        // Every usable variant exactly once.
        if (order.size() != ranked.size())
            std::abort();
        QList<int> a = order, b = ranked;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        if (a != b)
            std::abort();
        for (int i : order) {
            const QString& uri = p.variants[i].uri;
            // A remote playlist never leads to a local file.
            if (ARemote && !uri.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
                !uri.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
                std::abort();
            const int audio = AudioRenditionOf(p, p.variants[i]);
            if (audio >= p.renditions.size())
                std::abort();
            (void)VariantLabel(p.variants[i]);
        }
    }
}

// Cues come out in order, none before 0, and the file written reads back as written.
void CheckVtt(const QByteArray& AText, qint64 AStartPts) {
    const QList<VttCue> cues = ReadVttSegment(AText, AStartPts);
    for (const VttCue& c : cues)
        if (c.endMs <= c.startMs)
            std::abort();
    const QByteArray joined = WriteVtt(cues);
    const QList<VttCue> back = ReadVttSegment(joined, 0);
    if (back.size() > cues.size())
        std::abort();
    for (qsizetype i = 0; i < back.size(); ++i)
        if (back[i].startMs < 0 || back[i].endMs <= back[i].startMs ||
            (i > 0 && back[i].startMs < back[i - 1].startMs))
            std::abort();
    if (WriteVtt(back) != joined)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QByteArray text(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    Check(text, QStringLiteral("https://cdn.example/a/b/master.m3u8?x=1"), true);
    Check(text, QStringLiteral("/rec/show/local.m3u8"), false);
    CheckVtt(text, 0);
    CheckVtt(text, (qint64(1) << 33) - 90000);
    return 0;
}
