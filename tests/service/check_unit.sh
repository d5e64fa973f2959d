#!/usr/bin/env bash
# The service's systemd unit as systemd reads it: `systemd-analyze verify` (syntax, known
# settings, an executable ExecStart) and its offline security review, which must stay low.
# The unit names the installed program; the check points it at the built one instead.
# usage: check_unit.sh UNIT BUILT_PROGRAM     (exit 77: skipped, no systemd-analyze)
set -euo pipefail
unit=${1:?usage: check_unit.sh UNIT BUILT_PROGRAM}
program=$(realpath "${2:?usage: check_unit.sh UNIT BUILT_PROGRAM}")
if ! command -v systemd-analyze >/dev/null; then
    echo "skipped: systemd-analyze is not installed (Debian package systemd, see scripts/setup)"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
copy="$tmp/$(basename "$unit")"
sed "s#^ExecStart=[^ ]*#ExecStart=$program#" "$unit" >"$copy"
grep -q "^ExecStart=$program " "$copy" || { echo "no ExecStart line in $unit" >&2; exit 1; }

echo "== systemd-analyze verify"
if ! systemd-analyze verify "$copy" 2>&1 | tee "$tmp/verify.log"; then
    echo "systemd-analyze verify failed" >&2
    exit 1
fi
# verify exits 0 on some warnings; any line it prints about the unit is a fault here.
if grep -q . "$tmp/verify.log"; then
    echo "systemd-analyze verify complained about the unit" >&2
    exit 1
fi

if systemd-analyze security --help 2>/dev/null | grep -q -- --offline; then
    echo "== systemd-analyze security --offline"
    # Exposure above 2.0 of 10 would mean a hardening setting was lost.
    if ! systemd-analyze security --offline=true --threshold=20 --no-pager "$copy" >"$tmp/security.log" 2>&1; then
        cat "$tmp/security.log"
        echo "the unit's exposure is above 2.0" >&2
        exit 1
    fi
    grep "Overall exposure" "$tmp/security.log"
else
    echo "this systemd-analyze has no offline security review; only verify ran"
fi
echo "ok"
