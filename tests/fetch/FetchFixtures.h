#pragma once

#include <QString>
#include <QStringList>

namespace halvora::test {

// Streams made by ffmpeg for the fetch tests, each a folder with "index.m3u8" (6 s, 1 s
// segments, 320x240 at 25 fps with a 440 Hz tone unless said otherwise).
enum class StreamKind {
    Ts,            // MPEG-TS segments index0.ts ...
    Fmp4,          // fragmented MP4: init.mp4 (EXT-X-MAP) and index0.m4s ...
    ByteRange,     // one index.ts, each segment an EXT-X-BYTERANGE of it
    Aes,           // AES-128 segments; the key's URI is "/keys/k.bin" (serve keys/ there)
    Discontinuity, // 3 s, a discontinuity (the clock starts again), 3 s
};
QString StreamFixture(StreamKind AKind);
// The playlist of a fixture that ffmpeg decodes from disk as the reference.
QString ReferencePlaylist(const QString& AFixture);

// The MD5 of every decoded frame of the file's first video ("v") or audio ("a") stream, in
// order; a playlist is read with its segments as ffmpeg reads local files.
QStringList DecodedFrames(const QString& AFile, const QString& AType);

} // namespace halvora::test
