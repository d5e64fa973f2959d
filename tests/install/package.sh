#!/usr/bin/env bash
# The Debian package end to end: build it (scripts/package), install it into this machine with
# dpkg, start the installed program, check what landed, run lintian, remove it again.
# Needs root; never leaves the package installed, also when a step fails.
# usage: package.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src=$1
work=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root (CI runs as root)"
for tool in dpkg dpkg-query dpkg-buildflags cpack lintian; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup installs it)"
done
if dpkg-query -W -f='${db:Status-Status}' halvora 2>/dev/null | grep -qv '^not-installed$'; then
    skip "a halvora package is already on this machine; the test does not touch it"
fi
for path in /usr/bin/halvora /usr/lib/halvora; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || skip "$path exists; the test would replace it"
done

mkdir -p "$work"
echo "== building the package"
deb=$(timeout 2400 "$src/scripts/package" "$work/build-deb" 2>&1 | tee "$work/package.log" | tail -n 1)
[ -f "$deb" ] || { tail -n 30 "$work/package.log"; fail "no package was built"; }
echo "$deb"
dpkg-deb --info "$deb"

cleanup() {
    if dpkg-query -W -f='${db:Status-Status}' halvora 2>/dev/null | grep -qv '^not-installed$'; then
        echo "== removing the package after a failure"
        dpkg --purge halvora >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

echo "== dpkg -i"
dpkg -i "$deb" || fail "dpkg -i failed"

echo "== /usr/bin/halvora --version (without a display)"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 /usr/bin/halvora --version) ||
    fail "halvora --version failed"
[ "$version" = "Halvora 1.0.31.6" ] || fail "halvora --version printed: $version"
timeout 30 /usr/bin/halvora --no-such-option >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown option does not end with exit code 2"

echo "== /usr/bin/halvora-cli --version (without a display)"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 /usr/bin/halvora-cli --version) ||
    fail "halvora-cli --version failed"
[ "$version" = "halvora-cli 1.0.31.6" ] || fail "halvora-cli --version printed: $version"
timeout 30 /usr/bin/halvora-cli convert >/dev/null 2>&1
[ $? -eq 2 ] || fail "halvora-cli without an input does not end with exit code 2"

echo "== installed files"
id=io.github.halvora.Halvora
[ "$(readlink -f /usr/bin/halvora)" = /usr/lib/halvora/halvora ] || fail "/usr/bin/halvora link"
[ "$(readlink -f /usr/bin/halvora-cli)" = /usr/lib/halvora/halvora-cli ] ||
    fail "/usr/bin/halvora-cli link"
[ -f /usr/share/applications/$id.desktop ] || fail "desktop entry missing"
[ -f /usr/share/metainfo/$id.metainfo.xml ] || fail "metainfo missing"
for size in 16 24 32 48 64 128 256; do
    [ -f /usr/share/icons/hicolor/${size}x${size}/apps/$id.png ] || fail "icon $size missing"
done
[ -f /usr/share/icons/hicolor/scalable/apps/$id.svg ] || fail "scalable icon missing"
[ -f /usr/share/doc/halvora/copyright ] || fail "copyright missing"
[ -f /usr/share/man/man1/halvora.1.gz ] || fail "manual page missing"
[ -f /usr/share/man/man1/halvora-cli.1.gz ] || fail "manual page of halvora-cli missing"
# Self-update is off: no helper, no links to components in the application folder.
[ "$(ls -A /usr/lib/halvora | tr '\n' ' ')" = "halvora halvora-cli " ] || fail "/usr/lib/halvora holds $(ls -A /usr/lib/halvora)"
depends=$(dpkg-query -W -f='${Depends}' halvora)
for dep in ffmpeg libvlc5 vlc-plugin-base vlc-plugin-video-output libqt6widgets6 libcurl4; do
    grep -q "\b$dep\b" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
[ "$(dpkg-query -W -f='${Section}' halvora)" = video ] || fail "section"
# What the package depends on is where the program looks.
[ -x /usr/bin/ffmpeg ] || fail "/usr/bin/ffmpeg missing after the dependencies"
[ -e /usr/lib/x86_64-linux-gnu/libvlc.so.5 ] || [ "$(dpkg --print-architecture)" != amd64 ] ||
    fail "libvlc.so.5 missing after the dependencies"

echo "== lintian"
report=$(lintian --tag-display-limit 0 --info --pedantic "$deb" 2>&1)
echo "$report"
! grep -q '^E:' <<<"$report" || fail "lintian reports errors"

echo "== dpkg -r"
dpkg -r halvora || fail "dpkg -r failed"
[ ! -e /usr/bin/halvora ] && [ ! -e /usr/lib/halvora/halvora ] || fail "files left after dpkg -r"
dpkg --purge halvora >/dev/null 2>&1 || true
echo "package OK"
