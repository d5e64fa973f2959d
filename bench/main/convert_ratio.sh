#!/bin/sh
# Converts a TS of at least 200 MB to MP4 through ConvertFile and through the same ffmpeg command
# run directly, alternating, and prints the ratio of the medians (goal: at most 1.03).
# Usage: bench/main/convert_ratio.sh [BUILD_DIR]   (configured with -DHALVORA_BUILD_BENCH=ON)
set -eu
build=${1:-build}
bench="$build/bench/main/bench_convert_file"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target bench_convert_file)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg=$(command -v ffmpeg)

# 10 s of high-rate MPEG-2 made once, then repeated by stream copy up to the size wanted.
"$ffmpeg" -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=10 \
    -f lavfi -i sine=duration=10 -pix_fmt yuv420p -c:v mpeg2video -b:v 30M -minrate 30M \
    -maxrate 30M -bufsize 8M -g 25 -c:a aac -f mpegts "$work/part.ts"
"$ffmpeg" -hide_banner -loglevel error -y -stream_loop 6 -i "$work/part.ts" -c copy -f mpegts \
    "$work/big.ts"
size=$(stat -c %s "$work/big.ts")
echo "input: $((size / 1048576)) MB"
[ "$size" -ge 209715200 ] || { echo "input too small" >&2; exit 1; }

now_ms() { date +%s%3N; }
app_times=""
bare_times=""
for i in 1 2 3 4 5; do
    ms=$("$bench" "$work/big.ts" "$work/app.mp4" 2>/dev/null)
    app_times="$app_times $ms"
    t0=$(now_ms)
    "$ffmpeg" -y -i "$work/big.ts" -c copy -movflags +faststart "$work/bare.mp4" </dev/null >/dev/null 2>&1
    t1=$(now_ms)
    bare_times="$bare_times $((t1 - t0))"
done
median() { printf '%s\n' $1 | sort -n | sed -n 3p; }
app=$(median "$app_times")
bare=$(median "$bare_times")
echo "ConvertFile ms:$app_times (median $app)"
echo "bare ffmpeg ms:$bare_times (median $bare)"
awk -v a="$app" -v b="$bare" 'BEGIN { printf "ratio: %.3f (goal <= 1.03)\n", a / b }'
