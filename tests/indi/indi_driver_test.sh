#!/usr/bin/env bash
# Runs indi_kelvane under the real indiserver beside INDI's wheel simulator
# (ekos: and the CCD simulator, driven by CLIENT), else driven by INDI's own
# clients: the simulated dimmer, HOME in a scratch folder, a free port.
#   indi_driver_test.sh DRIVER connect|intensity|faults|ekos [CLIENT]
set -u
driver=$1 case=$2
work=$(mktemp -d)
export HOME=$work KELVANE_SIM_TRACE=$work/trace.txt
unset XDG_CONFIG_HOME INDIDEV
server="" watcher=""
trap '[ -n "$watcher" ] && kill $watcher 2>/dev/null; [ -n "$server" ] && kill $server 2>/dev/null; wait; rm -rf "$work"' EXIT

fail() { echo "FAIL ($case): $*"; exit 1; }
get() { indi_getprop -p "$port" -1 "$1"; }
put() { indi_setprop -p "$port" "$1" || fail "indi_setprop $1"; }
holds() { indi_eval -p "$port" -t "${2:-5}" -w "$1" >/dev/null || fail "never held: $1"; }
intensity='"Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE"'
state='"Kelvane.FLAT_LIGHT_INTENSITY._STATE"'
restsAt() { holds "$state==1 && $intensity==$1" 8; }
sent() { grep -c "^> 00 20 $1" "$work/trace.txt"; }   # SetPanelValue reports with these bytes
messages() { grep -o 'message="[^"]*"' "$work/stream.xml"; }

for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 20000))
  # -u: a socket of its own (the default one is shared by every server); -r 0: a
  # driver that dies stays dead and fails the test.
  indiserver -p "$port" -u "$work/indiserver.sock" -r 0 "$driver" indi_simulator_wheel \
    ${3:+indi_simulator_ccd} >"$work/server.log" 2>&1 &
  server=$!
  for _ in $(seq 50); do
    kill -0 $server 2>/dev/null || break
    get "Kelvane.CONNECTION.CONNECT" >/dev/null 2>&1 && break 2
    sleep 0.1
  done
  kill $server 2>/dev/null; wait $server 2>/dev/null; server=""
done
[ -n "$server" ] || fail "indiserver did not start: $(tail -3 "$work/server.log")"
# Everything the server sends to a client, messages included.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '<getProperties version="1.7"/>\n' >&3
cat <&3 >"$work/stream.xml" &
watcher=$!

connect() {
  put "Kelvane.SIMULATION.ENABLE=On"
  put "Kelvane.CONNECTION.CONNECT=On"
  holds '"Kelvane.CONNECTION.CONNECT"==1'
}

case $case in
connect)
  [ "$(get Kelvane.DRIVER_INFO.DRIVER_INTERFACE) $(get Kelvane.DRIVER_INFO.DRIVER_EXEC)" = "33792 indi_kelvane" ] ||
    fail "not the AUX | LIGHTBOX driver indi_kelvane"
  put "Kelvane.SIMULATION.ENABLE=On"
  put "Kelvane.SIMULATED_FAULTS.SIM_HELD=On"
  put "Kelvane.CONNECTION.CONNECT=On"
  holds '"Kelvane.CONNECTION._STATE"==3'
  [ "$(get Kelvane.CONNECTION.CONNECT)" = Off ] || fail "connected to a dimmer another program holds"
  messages | grep -q "in use by another program" || fail "no word of the other program"
  put "Kelvane.SIMULATED_FAULTS.SIM_HELD=Off"
  connect
  put "Kelvane.SIMULATION.DISABLE=On"
  holds '"Kelvane.SIMULATION._STATE"==3'
  [ "$(get Kelvane.SIMULATION.ENABLE)" = On ] || fail "simulation switched off while connected"
  ;;
intensity)
  mkdir -p "$HOME/.config/Kelvane"
  printf '[Initialization]\r\nLastBrightness=321\r\n' >"$HOME/.config/Kelvane/Kelvane.ini"
  connect
  put "Kelvane.FLAT_LIGHT_CONTROL.FLAT_LIGHT_ON=On"
  restsAt 321   # the window's last brightness
  put "Kelvane.DEBUG.ENABLE=On"
  put "Kelvane.DEBUG_LEVEL.DBG_DEBUG=On"
  put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=450"
  restsAt 450
  # state:value of each update (the stream may lag behind indi_eval); while
  # Busy the panel's reading on its way.
  states() { grep -A2 'name="FLAT_LIGHT_INTENSITY" state=' "$work/stream.xml" |
             awk -F'"' '/state=/ { s = $6 } /^[0-9]+$/ { printf "%s:%s ", s, $0 }'; }
  want='Ok:321 Busy:321 (Busy:(3[2-9][0-9]|4[0-5][0-9]) )+Ok:450 $'
  for _ in $(seq 20); do [[ "$(states)" =~ $want ]] && break; sleep 0.1; done
  [[ "$(states)" =~ $want ]] || fail "states on the way to 450: $(states)"
  # One line per exchange, in words.
  messages | grep -q "DEBUG\] SetPanelValue 450: acknowledged" || fail "no exchange in the debug log"
  [ "$(messages | grep -c DEBUG)" -lt 80 ] || fail "debug log flooded: $(messages | grep -c DEBUG) lines"
  [ "$(sent "C2 01")" = 1 ] || fail "450 sent $(sent "C2 01") times"
  before=$(wc -l <"$work/trace.txt"); sleep 0.5
  [ "$(wc -l <"$work/trace.txt")" = "$before" ] || fail "the panel is polled at rest"
  put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=2000"
  holds "$state==3"
  [ "$(get "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE")" = 450 ] || fail "450 not kept"
  messages | grep -q "Brightness 2000 refused" || fail "no word of the refusal"
  [ "$(sent "D0 07")$(sent "FF 03")" = 00 ] || fail "an out-of-range value reached the dimmer"
  ;;
ekos)
  if ! "$3" "$port" "$KELVANE_SIM_TRACE"; then
    # Which wheel the box followed and what it said, for whoever reads a failure.
    grep -A4 '"Kelvane" name="ACTIVE_DEVICES"\|"Kelvane" name="FLAT_LIGHT_FILTER_INTENSITY"' "$work/stream.xml" | tail -60
    messages | tail -30
    fail "the Ekos flat sequence"
  fi
  ;;
faults)
  connect
  put "Kelvane.FLAT_LIGHT_CONTROL.FLAT_LIGHT_ON=On"
  put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=200"
  restsAt 200
  for fault in SIM_SILENT:310 SIM_UNPLUGGED:320; do
    put "Kelvane.SIMULATED_FAULTS.${fault%:*}=On"
    put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=300"
    holds "$state==3"
    put "Kelvane.SIMULATED_FAULTS.${fault%:*}=Off"
    put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=${fault#*:}"
    restsAt "${fault#*:}"
  done
  [ "$(messages | grep -c "stopped answering")" = 2 ] || fail "silence and unplug not both reported"
  # A connection shows what the panel holds, not the request that failed.
  put "Kelvane.SIMULATED_FAULTS.SIM_UNPLUGGED=On"
  put "Kelvane.FLAT_LIGHT_INTENSITY.FLAT_LIGHT_INTENSITY_VALUE=500"
  holds "$state==3 && $intensity==500"
  put "Kelvane.SIMULATED_FAULTS.SIM_UNPLUGGED=Off"
  put "Kelvane.CONNECTION.DISCONNECT=On"
  connect
  restsAt 320
  ;;
*) fail "unknown case" ;;
esac
echo "indi_kelvane $case: ok"
