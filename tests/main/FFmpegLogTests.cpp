// Reading ffmpeg's stderr without running it: the lines as ffmpeg writes them.
#include "FFmpegLog.h"

#include <gtest/gtest.h>

using namespace halvora;

TEST(FFmpegLog, CountsEachMissingSegmentOnce) {
    FFmpegLogReader log;
    // One line per failed attempt; a variant and its audio rendition number segments alike.
    log.readLine("[hls @ 0x55d] Failed to open segment 3 of playlist 0");
    log.readLine("[hls @ 0x55d] Failed to open segment 3 of playlist 0");
    log.readLine("[hls @ 0x66e] Failed to open segment 3 of playlist 0");
    log.readLine("[hls @ 0x55d] Failed to open segment 3 of playlist 1");
    // A segment cut short by a lost connection is only named by the HTTP layer.
    log.readLine("[https @ 0x77f] Stream ends prematurely at 1000, should be 2000");
    EXPECT_EQ(log.missingSegments(), 4);
    EXPECT_FALSE(log.writeFailed());
}

TEST(FFmpegLog, NoticesAFailedWrite) {
    for (const char* line :
         {"[mp4 @ 0x1] Error writing trailer of out.mp4: No space left on device",
          "av_interleaved_write_frame(): No space left on device",
          "Error muxing a packet: File too large"}) {
        FFmpegLogReader log;
        log.readLine("frame=  100 fps=0.0 q=-1.0 size=    1024kB time=00:00:04.00");
        EXPECT_FALSE(log.writeFailed());
        log.readLine(line);
        EXPECT_TRUE(log.writeFailed()) << line;
        EXPECT_EQ(log.missingSegments(), 0);
    }
}

TEST(FFmpegLog, TakesTheFirstInputsStart) {
    FFmpegLogReader log;
    EXPECT_EQ(log.startPts(), -1);
    log.readLine("Input #0, hls, from 'local.m3u8':");
    EXPECT_EQ(log.startPts(), -1);
    log.readLine("  Duration: 00:00:04.00, start: 1.400000, bitrate: N/A");
    log.readLine("  Duration: 00:00:09.00, start: 7.000000, bitrate: N/A");
    EXPECT_EQ(log.startPts(), 126000);
    EXPECT_EQ(ListedStartPts("  Duration: N/A, start: -0.5, bitrate: N/A"), 0);
    EXPECT_EQ(ListedStartPts("no duration here"), -1);
}

TEST(FFmpegLog, FindsTheFirstMediaSegment) {
    const QString listing = "[hls @ 0x1] Opening 'https://h/live/index.m3u8?t=1' for reading\n"
                            "[hls @ 0x1] Opening 'https://h/live/seg0.ts?t=1' for reading\n"
                            "[hls @ 0x1] Opening 'https://h/live/seg1.ts' for reading\n";
    EXPECT_EQ(FirstSegmentUrl(listing), "https://h/live/seg0.ts?t=1");
    EXPECT_EQ(FirstSegmentUrl("[hls @ 0x1] Opening 'a.M3U' for reading\n"), "");
}
