#!/usr/bin/env bash
# cmake --install into a staging folder: every file at its place, the desktop entry and the
# AppStream metainfo accepted by their validators.
# usage: install_tree.sh BUILD_DIR STAGE_DIR
set -euo pipefail
build=$1
stage=$2
id=io.github.halvora.Halvora

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

rm -rf "$stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --component desktop >/dev/null
root=$stage/usr

[ -x "$root/lib/halvora/halvora" ] || fail "lib/halvora/halvora missing"
[ -x "$root/lib/halvora/updater" ] || fail "lib/halvora/updater missing"
[ -L "$root/bin/halvora" ] || fail "bin/halvora is not a link"
[ "$(readlink "$root/bin/halvora")" = "../lib/halvora/halvora" ] ||
    fail "bin/halvora points at $(readlink "$root/bin/halvora")"
[ "$(readlink -f "$root/bin/halvora")" = "$(readlink -f "$root/lib/halvora/halvora")" ] ||
    fail "bin/halvora does not resolve to the program"
[ -x "$root/lib/halvora/halvora-cli" ] || fail "lib/halvora/halvora-cli missing"
[ "$(readlink "$root/bin/halvora-cli")" = "../lib/halvora/halvora-cli" ] ||
    fail "bin/halvora-cli points at $(readlink "$root/bin/halvora-cli")"
# Runs through the link where there is no display, and links no widgets.
env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/halvora-cli" --version | grep -q '^halvora-cli ' ||
    fail "bin/halvora-cli --version"
! readelf -d "$root/lib/halvora/halvora-cli" | grep -q 'Qt6Widgets' ||
    fail "halvora-cli links QtWidgets"

desktop=$root/share/applications/$id.desktop
metainfo=$root/share/metainfo/$id.metainfo.xml
[ -f "$desktop" ] || fail "desktop entry missing"
[ -f "$metainfo" ] || fail "metainfo missing"
grep -qx 'Exec=halvora %U' "$desktop" || fail "desktop entry: Exec"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry: Icon"

# Each hicolor PNG is an image of the size its folder names (width and height from IHDR).
png_size() { od -An -tu4 --endian=big -j16 -N8 "$1" | awk '{print $1 "x" $2}'; }
for size in 16 24 32 48 64 128 256; do
    icon=$root/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$icon" ] || fail "icon ${size}x${size} missing"
    [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "icon ${size}x${size} is $(png_size "$icon")"
done
grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "scalable icon missing"

out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

# No errors and no warnings; pedantic notes are listed for the record.
report=$(appstreamcli validate --no-net --pedantic --no-color "$metainfo" 2>&1) ||
    fail "appstreamcli validate: $report"
echo "$report"
! grep -q '^[EW]:' <<<"$report" || fail "appstreamcli validate found errors or warnings"

echo "install tree OK"
