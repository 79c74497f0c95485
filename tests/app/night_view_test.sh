#!/usr/bin/env bash
# The night view as a person meets it: the real program on a display of its
# own (Xvfb), driven with xdotool, every window it can open photographed with
# import. No pixel may have green or blue above its red by more than 8, none
# a channel above 160 (night::kBrightest), and each window must show text.
set -u
exe="$1"
for tool in Xvfb xdotool import convert; do
  command -v $tool >/dev/null || { echo "$tool missing (scripts/install-deps)"; exit 77; }
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
Xvfb -displayfd 3 -screen 0 1024x768x24 -br -noreset -nolisten tcp 3>"$work/display" 2>/dev/null &
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
ini="$work/config/Kelvane/Kelvane.ini"
px() { echo $(($1 / 15)); }  # twips to pixels on Xvfb's 96 dpi
# Without a window manager nobody gives the main window the keyboard back.
at() { xdotool windowfocus --sync "$main" mousemove "$(px "$1")" "$(px "$2")" click "${3:-1}"; sleep 0.5; }
window() {  # win: the program's visible window of this title, within 5 s
  for _ in $(seq 50); do
    for win in $(xdotool search --onlyvisible --class kelvane 2>/dev/null | tac); do
      [[ "$(xdotool getwindowname "$win")" =~ ^$1$ ]] && return
    done
    sleep 0.1
  done
  fail "no window \"$1\""
}
# Brightest channel, and how far green or blue rise above red, over the shot.
measure() {
  timeout 10 import -window "$1" "$work/shot.png" || fail "no screenshot of $1"
  convert "$work/shot.png" \( +clone -color-matrix '-1 1 0  -1 0 1  0 0 0' \) \
          -format '%[fx:round(255*maxima)] ' info:
}
checked=0
check() {  # what, window id; twice: a text cursor blinks
  for _ in 1 2; do
    read -r top over <<<"$(measure "$2")"
    [ "$top" -gt 60 ] && [ "$top" -le 160 ] && [ "$over" -le 8 ] ||
      fail "$1: brightest channel $top (60..160), green or blue above red by $over (<= 8)"
    sleep 0.6
  done
  checked=$((checked + 1))
}

"$exe" --simulator --night --sim-trace "$work/trace" 2>/dev/null &
program=$!
window "Lumetra Kelvane.*"; main=$win
at 4560 640                             # into the brightness box: its cursor
check "main window" "$main"
xdotool keydown Alt_L; sleep 0.2; xdotool key d; sleep 0.2; xdotool keyup Alt_L; sleep 0.5
[ "$(xdotool getwindowgeometry "$main" | grep -o 'x[0-9]*$')" = "x$(px 8820)" ] || fail "status view not open"
check "status view" "$main"
at 4560 640 3; window Kelvane; check "context menu" "$win"; xdotool key Escape
at 1150 760; window Kelvane; check "list" "$win"; xdotool key Escape
xdotool key End; window Kelvane; check "input box" "$win"; xdotool key Escape
at 4560 1680; window "Confirm Preset"; check "message box" "$win"; xdotool key Escape
xdotool windowfocus --sync "$main" mousemove 200 100 sleep 0.3 mousemove 201 100; sleep 1
window Kelvane; check "tooltip" "$win"  # pop-ups carry the program's name
at 4560 640; xdotool key ctrl+a type 2000; xdotool key Tab
window "Range error"; check "range error" "$win"; xdotool key Return

# Ctrl+N: day and back, remembered, nothing sent; the day must fail the check.
sent=$(grep -c '^>' "$work/trace")
xdotool windowfocus --sync "$main" key ctrl+n; sleep 0.5
grep -q '^NightView=0' "$ini" || fail "day view not remembered"
read -r top over <<<"$(measure "$main")"
[ "$over" -gt 8 ] || fail "the day view passes the night view's check"
xdotool key ctrl+n; sleep 0.5
grep -q '^NightView=1' "$ini" || fail "night view not remembered"
[ "$(grep -c '^>' "$work/trace")" = "$sent" ] || fail "switching the view sent to the dimmer"
at 5700 2700; window "Kelvane Help"; check "help window" "$win"
kill $program; wait $program

# The settings alone (no --night) before the first window: the error dialog.
sed -i 's/^PresetIndex1=[0-9]*/PresetIndex1=99/' "$ini"
"$exe" --simulator 2>/dev/null &
window "Error 380 in ReadSettings"; check "error dialog" "$win"
xdotool key space                       # Copy, the first button
window "Copy to Clipboard Successful"; check "copy notice" "$win"
echo "night view: $checked windows checked"
