#!/usr/bin/env bash
# The real program ended from outside as a session ends it (each signal; once
# with the start-up's input box open) and started twice on one settings file
# (reached through a link, with another runtime folder; then with the first
# not answering), checked through the simulated dimmer's trace and the
# settings file.
set -u
exe="$1"
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$work/run"
fail() { echo "$*"; exit 1; }
# Bounds for a loaded machine: a start with a large settings file, and the
# end that waits for its last rewrite, take seconds there.
await() {  # file, pattern: up to 30 s
  for _ in $(seq 300); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
ended() { timeout 20 tail --pid="$1" -f /dev/null; }
off="> 00 20 00 00 00 00 00 00 00"

for case in TERM INT HUP inputbox; do
  ini="$work/$case/Kelvane/Kelvane.ini"
  mkdir -p "$work/$case/Kelvane"
  # PresetIndex1=1 selects the add entry: reading the settings opens the
  # input box, before the panel or the turn-off option is known.
  printf '[Initialization]\r\nTurnOff=1\r\nLastBrightness=300\r\n' > "$ini"
  # A large file: its last rewrite takes a while, which the end must wait for.
  seq 250000 | sed 's/.*/Scope&|Mono|2x2|Red|=250\r/' >> "$ini"
  [ "$case" = inputbox ] && printf 'PresetIndex1=1\r\n' >> "$ini"
  cp "$ini" "$work/$case.before"
  XDG_CONFIG_HOME="$work/$case" "$exe" --simulator --sim-trace "$work/$case.trace" 2>/dev/null &
  pid=$!
  if [ "$case" = inputbox ]; then
    # Once it catches SIGTERM (bit 15 of SigCgt), then a moment for the box.
    for _ in $(seq 100); do
      mask=$(awk '/^SigCgt/ {print $2}' /proc/$pid/status 2>/dev/null)
      [ -n "$mask" ] && (( (16#$mask >> 14) & 1 )) && break
      sleep 0.1
    done
    sleep 1
  else
    await "$work/$case.trace" "^> 00 30" || fail "$case: never started"; sleep 0.3
  fi
  kill -"${case/inputbox/TERM}" $pid
  ended $pid || fail "$case: still running after the signal"
  wait $pid; rc=$?
  [ $rc -eq 0 ] || fail "$case: ended with $rc"
  if [ "$case" = inputbox ]; then
    [ ! -s "$work/$case.trace" ] || fail "$case: sent to the dimmer"
    cmp -s "$ini" "$work/$case.before" || fail "$case: settings written before start-up finished"
  else
    [ "$(grep '^> 00 20' "$work/$case.trace" | tail -n 1)" = "$off" ] || fail "$case: panel left on"
    grep -q "^LastBrightness=0" "$ini" || fail "$case: settings not written"
  fi
done

export XDG_CONFIG_HOME="$work/TERM"
"$exe" --simulator --sim-trace "$work/first.trace" 2>/dev/null &
first=$!
await "$work/first.trace" "^> 00 30" || fail "first start never started"
ln -s "$work/TERM" "$work/link" && mkdir -m 700 "$work/run2"
XDG_CONFIG_HOME="$work/link" XDG_RUNTIME_DIR="$work/run2" timeout 20 "$exe" --simulator --sim-trace "$work/second.trace" 2>"$work/second.err"
rc=$?
[ $rc -eq 0 ] || fail "second start ended with $rc: $(cat "$work/second.err")"
grep -q "brought its window to the front" "$work/second.err" || fail "second start: $(cat "$work/second.err")"
[ ! -s "$work/second.trace" ] || fail "second start talked to the dimmer"
kill -STOP $first  # not answering: the second start says so in a message box, which waits
timeout 25 "$exe" --simulator 2>"$work/stopped.err"; rc=$?  # its bound is 10 s
[ $rc -eq 124 ] && grep -q "does not answer" "$work/stopped.err" || fail "stopped first: $rc $(cat "$work/stopped.err")"
kill -9 $first; wait $first 2>/dev/null
"$exe" --simulator --sim-trace "$work/third.trace" 2>/dev/null &
await "$work/third.trace" "^> 00 30" || fail "no start after the first was killed"
echo "session: 4 endings and 3 starts checked"
