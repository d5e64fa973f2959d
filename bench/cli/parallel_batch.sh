#!/bin/sh
# The same 8 TS files converted by halvora-cli one after another and with GNU parallel -j 2,
# by stream copy and re-encoding; prints both wall times and their ratio. A benchmark, not a test.
# Usage: bench/cli/parallel_batch.sh [BUILD_DIR] [SECONDS]   (SECONDS of each TS, default 60)
set -eu
build=${1:-build}
seconds=${2:-60}
cli="$build/bin/halvora-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build --target halvora-cli)" >&2; exit 2; }
command -v parallel >/dev/null || { echo "GNU parallel is missing (scripts/setup installs it)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/halvora-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/in"
for i in 1 2 3 4 5 6 7 8; do
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=$seconds" \
        -f lavfi -i "sine=frequency=$((200 + 50 * i)):duration=$seconds" -pix_fmt yuv420p \
        -c:v libx264 -preset veryfast -g 25 -c:a aac -f mpegts "$work/in/part$i.ts"
done
echo "input: 8 TS files of $seconds s, $(du -sm "$work/in" | cut -f1) MB, $(nproc) cores"

now_ms() { date +%s%3N; }
# Runs "$@" once and prints its wall time in ms; the outputs go into a fresh folder.
timed() {
    rm -rf "$work/out" && mkdir -p "$work/out"
    t0=$(now_ms)
    "$@"
    t1=$(now_ms)
    [ "$(ls "$work/out" | wc -l)" -eq 8 ] || { echo "not 8 outputs" >&2; exit 1; }
    echo $((t1 - t0))
}
one_by_one() {
    for f in "$work"/in/*.ts; do "$cli" convert "$f" -o "$work/out" -q "$@" >/dev/null; done
}
two_at_once() {
    parallel -j 2 "$cli" convert {} -o "$work/out" -q "$@" ::: "$work"/in/*.ts >/dev/null
}
for mode in copy reencode; do
    flag=""
    [ "$mode" = reencode ] && flag=--reencode
    serial=$(timed one_by_one $flag)
    par=$(timed two_at_once $flag)
    awk -v m="$mode" -v s="$serial" -v p="$par" \
        'BEGIN { printf "%-8s one by one %6d ms, parallel -j 2 %6d ms, ratio %.2f\n", m, s, p, s / p }'
done
