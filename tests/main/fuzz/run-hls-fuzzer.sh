#!/bin/sh
# Builds the playlist-reader fuzzer with clang and runs it for N seconds (default 60).
#   tests/main/fuzz/run-hls-fuzzer.sh [SECONDS] [BUILD_DIR]
set -eu
secs=${1:-60}
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${2:-$root/build-main/fuzz-clang}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHALVORA_HLS_FUZZ=ON -DHALVORA_LINK_SYSTEM_COMPONENTS=OFF >/dev/null
cmake --build "$build" --target main_hls_fuzzer
corpus="$build/tests/main/fuzz/corpus"
mkdir -p "$corpus"
# Seeds: a master playlist with renditions, a media playlist.
printf '\357\273\277#EXTM3U\r\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="a",NAME="E, n",DEFAULT=YES,URI="../a/en.m3u8"\r\n#EXT-X-STREAM-INF:BANDWIDTH=3200000,RESOLUTION=1280x720,CODECS="avc1.4d401f,mp4a.40.2",FRAME-RATE=25,AUDIO="a"\r\nv720/index.m3u8\r\n#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\r\nhttps://h.example/360.m3u8\r\n' >"$corpus/seed-master"
printf '#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg0.ts\n#EXT-X-ENDLIST\n' >"$corpus/seed-media"
exec "$build/tests/main/fuzz/main_hls_fuzzer" -max_total_time="$secs" -max_len=4096 "$corpus"
