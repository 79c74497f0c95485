#!/usr/bin/env bash
# Soak of the status log: the real window under Xvfb with the status view open
# (Alt+D) and a dimmer that never settles (short answers read as 0, so the
# monitor re-sends for ever); prints memory, CPU and the size of status.log.
#   bash bench/log_soak.sh build/default/kelvane [seconds] [sample-seconds]
set -u
exe="$1" total="${2:-600}" step="${3:-30}"
work=$(mktemp -d)
# The program writes its settings while it ends: wait for it before the clean-up.
trap 'kill $app $xvfb 2>/dev/null; wait $app 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset 3>"$work/display" >/dev/null 2>&1 & xvfb=$!
sleep 1
export DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$work/run"
"$exe" --simulator --sim-short 2 >"$work/app.out" 2>&1 & app=$!
sleep 3
win=$(xdotool search --sync --onlyvisible --name "Lumetra Kelvane" | head -n 1)
xdotool windowfocus --sync "$win"
xdotool keydown alt keydown d keyup d keyup alt  # D released while Alt is held
log="$work/config/Kelvane/status.log"
echo "seconds rss_kb cpu_s status_log_bytes"
for ((t = 0; t <= total; t += step)); do
  kill -0 $app 2>/dev/null || { wait $app; echo "kelvane ended with $?:"; cat "$work/app.out"; exit 1; }
  rss=$(awk '/VmRSS/ {print $2}' /proc/$app/status)
  cpu=$(awk '{printf "%.1f", ($14 + $15) / 100}' /proc/$app/stat)
  echo "$t $rss $cpu $(stat -c %s "$log" 2>/dev/null || echo 0)"
  if [ $t -lt $total ]; then sleep "$step"; fi
done
