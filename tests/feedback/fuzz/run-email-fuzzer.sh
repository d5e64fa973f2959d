#!/bin/sh
# Builds the address-check fuzzer with clang and runs it for N seconds (default 60).
#   tests/feedback/fuzz/run-email-fuzzer.sh [SECONDS] [BUILD_DIR]
set -eu
secs=${1:-60}
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${2:-$root/build-feedback/fuzz-clang}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHALVORA_FEEDBACK_FUZZ=ON -DHALVORA_LINK_SYSTEM_COMPONENTS=OFF >/dev/null
cmake --build "$build" --target feedback_email_fuzzer
corpus="$build/tests/feedback/fuzz/corpus"
mkdir -p "$corpus"
# Seeds: a few addresses as UTF-16LE.
for a in 'user@mail.org' ' first.last@sub.mail-host.co ' 'a@b@c.de' 'x@mailinator.com'; do
    printf '%s' "$a" | iconv -f UTF-8 -t UTF-16LE >"$corpus/seed-$(printf '%s' "$a" | md5sum | cut -c1-8)"
done
exec "$build/tests/feedback/fuzz/feedback_email_fuzzer" -max_total_time="$secs" -max_len=1200 "$corpus"
