#!/usr/bin/env bash
# Starts the real program on the simulated dimmer for a few seconds and checks
# from outside, through the dimmer's trace, what it sent.
set -u
exe="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
timeout 3 "$exe" --simulator --sim-trace "$work/trace.txt" >/dev/null 2>&1
rc=$?
[ "$rc" -eq 124 ] || { echo "kelvane ended early with $rc"; exit 1; }
first=$(head -n 1 "$work/trace.txt")
[ "$first" = "> 00 20 64 00 00 00 00 00 00" ] || { echo "first report: '$first'"; exit 1; }
grep -qx "> 00 30 01 00 00 00 00 00 00" "$work/trace.txt" || { echo "no step change sent"; exit 1; }
grep -qx "< 00 21 64 00 00 00 00 00 00" "$work/trace.txt" || { echo "the monitor never saw 100"; exit 1; }
[ -f "$work/config/Kelvane/Kelvane.ini" ] || { echo "settings not written after start-up"; exit 1; }
echo "simulator smoke: $(wc -l < "$work/trace.txt") trace lines"
