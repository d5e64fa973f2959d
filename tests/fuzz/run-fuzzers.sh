#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each for SECONDS (default 15) on a corpus
# seeded from the cases the tests use. Any finding (crash, failed property, sanitizer report,
# leak, timeout) fails the run; the input that caused it is kept in BUILD_DIR/fuzz-artifacts.
#   tests/fuzz/run-fuzzers.sh [SECONDS] [BUILD_DIR] [TARGET...]
set -euo pipefail
secs=${1:-15}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${2:-$root/build-fuzz}")
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(probe component_list manifest feedback_reply form unpack email hls)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHALVORA_FUZZ=ON -DHALVORA_LINK_SYSTEM_COMPONENTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target halvora_fuzzers

seeds=$root/tests/fuzz/seeds
mkdir -p "$build/fuzz-artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$root/tests/fuzz/ubsan.supp
export TMPDIR=$work
failed=()
for t in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$t
    mkdir -p "$corpus"
    case $t in
    unpack) python3 "$root/tests/fuzz/make-archive-seeds.py" "$corpus" ;;
    email)
        for a in 'user@mail.org' ' first.last@sub.mail-host.co ' 'a@b@c.de' 'x@mailinator.com'; do
            printf '%s' "$a" | iconv -f UTF-8 -t UTF-16LE >"$corpus/seed-$(printf '%s' "$a" | md5sum | cut -c1-8)"
        done ;;
    *) cp "$seeds/$t"/* "$corpus/" ;;
    esac
    bin=$build/tests/fuzz/fuzz_$t
    [ "$t" = email ] && bin=$build/tests/feedback/fuzz/feedback_email_fuzzer
    echo "== fuzz $t ($secs s) =="
    if ! (cd "$work" && "$bin" -max_total_time="$secs" -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$t-" "$corpus" \
        >"$work/$t.log" 2>&1); then
        failed+=("$t")
        tail -n 60 "$work/$t.log"
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$work/$t.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz findings in: ${failed[*]}" >&2
    exit 1
fi
