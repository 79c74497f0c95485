#!/usr/bin/env bash
# The server without a window, from outside: a client's brightness reaches
# the simulated dimmer, SIGTERM ends it cleanly (panel turned off and kept
# at 0 as the window keeps it, exit 0), the port given stays this run's, a
# killed write's temporary file is swept, and without a dimmer it keeps serving.
set -u
exe="$1"
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
fail() { echo "headless: $*"; exit 1; }
# One HTTP/1.1 exchange through bash's /dev/tcp; prints the body.
http() {
  exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
  printf '%s /api/v1/covercalibrator/0/%s HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s' \
    "$1" "$2" "${#3}" "$3" >&3
  sed -n '/^\r$/,$p' <&3 | tail -n +2
  exec 3<&-
}
start() {  # start ARGS...: on a free port, waits until it answers
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    "$exe" --headless --alpaca "$port" "$@" 2>"$work/err.txt" &
    pid=$!
    for _ in $(seq 50); do
      http GET connected "" >/dev/null 2>&1 && return 0
      kill -0 $pid 2>/dev/null || break
      sleep 0.1
    done
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
  done
  fail "did not start: $(cat "$work/err.txt")"
}

mkdir -p "$work/config/Kelvane" && : >"$work/config/Kelvane/.Kelvane.ini.012345.tmp"
start --simulator --sim-trace "$work/trace.txt"
http PUT calibratoron "Brightness=700" | grep -q '"ErrorNumber":0,' || fail "calibratoron refused"
for _ in $(seq 50); do
  http GET calibratorstate "" | grep -q '"Value":3,' && break
  sleep 0.1
done
http GET brightness "" | grep -q '"Value":700,' || fail "brightness did not reach 700"
kill -TERM $pid; wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "SIGTERM ended it with $rc"
tr -d "\r" <"$work/config/Kelvane/Kelvane.ini" | grep -qx "LastBrightness=0" || fail "LastBrightness not 0"
! grep -q "AlpacaPort" "$work/config/Kelvane/Kelvane.ini" || fail "the port given was stored"
[ ! -e "$work/config/Kelvane/.Kelvane.ini.012345.tmp" ] || fail "stale temporary file kept"
[ "$(grep '^> 00 20' "$work/trace.txt" | tail -n 1)" = "> 00 20 00 00 00 00 00 00 00" ] || fail "panel not turned off"

# No dimmer on the system's HID interfaces: still serving, and saying why;
# a pipe in the settings file's place is named, neither waited on nor replaced.
rm "$work/config/Kelvane/Kelvane.ini" && mkfifo "$work/config/Kelvane/Kelvane.ini"
start
http GET connected "" | grep -q '"Value":false' || fail "connected without a dimmer"
http PUT connected "Connected=true" | grep -q '"ErrorMessage":"dimmer not found' || fail "no reason given"
kill -TERM $pid; wait $pid || fail "second run did not end cleanly"
[ -p "$work/config/Kelvane/Kelvane.ini" ] || fail "the pipe was replaced"
grep -q "Kelvane.ini" "$work/err.txt" && grep -q "not a regular file" "$work/err.txt" || fail "pipe not named: $(cat "$work/err.txt")"
echo "headless: ok on ports around $port"
