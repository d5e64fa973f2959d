#!/bin/sh
# Time from starting the program to its main window being shown, under Xvfb (goal < 0.5 s), and
# its resident memory after it has been idle for 3 s (goal < 80 MB).
# Usage: bench/main/startup.sh [BUILD_DIR] [RUNS]
set -eu
build=${1:-build}
runs=${2:-5}
app="$build/bin/halvora"
[ -x "$app" ] || { echo "build $app first" >&2; exit 2; }
if [ -z "${HALVORA_BENCH_IN_XVFB:-}" ]; then
    HALVORA_BENCH_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
# Nothing outside this machine: the start-up update check goes to a closed local port.
export HALVORA_SERVICE_URL=https://127.0.0.1:9
export QT_QPA_PLATFORM=xcb

now_ms() { date +%s%3N; }
for i in $(seq "$runs"); do
    t0=$(now_ms)
    "$app" >/dev/null 2>&1 &
    pid=$!
    until xwininfo -root -tree 2>/dev/null | grep -q '"Halvora  v'; do
        if ! kill -0 "$pid" 2>/dev/null; then echo "halvora ended early" >&2; exit 1; fi
        sleep 0.005
    done
    t1=$(now_ms)
    if [ "$i" = "$runs" ]; then
        sleep 3
        rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
        echo "idle RSS: $((rss / 1024)) MB (goal < 80 MB)"
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "run $i: window shown after $((t1 - t0)) ms (goal < 500 ms)"
done
