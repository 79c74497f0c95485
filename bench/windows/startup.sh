#!/usr/bin/env bash
# Start-up of the installed-layout kelvane.exe to its mapped window, against a
# bare Qt Widgets program built with the same Qt, both under wine on Xvfb.
# Prints the median of each and their ratio (the goal is 1.3 or less).
#   bench/windows/startup.sh [RUNS]      after scripts/test-windows has built build/windows-app
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
runs=${1:-9}
app=$root/build/windows-app
bare=$root/build/windows-bench
qt=$(bash scripts/build-qt-windows --prefix) || { echo "Qt for Windows is not built: run scripts/build-qt-windows"; exit 1; }
[ -f "$app/kelvane.exe" ] || { echo "build/windows-app has no kelvane.exe: run scripts/test-windows"; exit 1; }

cmake -S bench/windows -B "$bare" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKELVANE_QT_PREFIX="$qt" >/dev/null
cmake --build "$bare" >/dev/null
# The same folder layout as kelvane.exe's: its DLLs and plugins beside it.
cp -u "$app"/*.dll "$bare/"
cp -ru "$app/platforms" "$app/styles" "$bare/"

export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all
unset WINEDLLOVERRIDES
work=$(mktemp -d)
: >"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.2; done
export DISPLAY=:$(head -1 "$work/display")
wineserver -p
wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1   # the session is up before timing

# Seconds from the start to the mapped window, then the program is closed.
time_to_window() {  # title exe args...
  local title=$1; shift
  local t0 t1 pid
  t0=$(date +%s.%N)
  wine "$@" >/dev/null 2>&1 &
  pid=$!
  # xdotool's own --sync looks every half second: too coarse for a start-up.
  for _ in $(seq 6000); do
    xdotool search --onlyvisible --name "$title" >/dev/null 2>&1 && break
    sleep 0.02
  done
  t1=$(date +%s.%N)
  wine taskkill /IM "$(basename "$1")" >/dev/null 2>&1 || true
  wait "$pid" 2>/dev/null || true
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Taken in turns, so that a change in the machine's load falls on both.
for _ in $(seq "$runs"); do
  time_to_window '^Bare Qt Widgets' "$bare/bare_widgets.exe" >>"$work/bare"
  time_to_window '^Lumetra Kelvane' "$app/kelvane.exe" --simulator >>"$work/kelvane"
done
b=$(median <"$work/bare"); k=$(median <"$work/kelvane")
printf 'bare Qt Widgets %.3f s, kelvane.exe %.3f s (medians of %d), ratio %.2f\n' "$b" "$k" "$runs" "$(awk -v k="$k" -v b="$b" 'BEGIN {print k / b}')"
