#!/usr/bin/env bash
# The desktop station under Xvfb against the simulated shop: waits for the station to scan,
# takes a screenshot one second into the first transfer and checks it is not blank. Used by
# the smoke test (ctest) and to make the README's picture:
#
#   scripts/gui-screenshot.sh BUILD_DIR OUT.png
#
# Exit 0 when the station scanned, the screenshot has more than a handful of colours and the
# window's events never waited 100 ms during the transfer; with a window manager (openbox) and
# xdotool it also operates the window as an operator would: Mode > Receive file from the
# keyboard, a name, Enter, then Esc must give up the wait ("RX aborted..."), and Alt+F4 (the
# close box) in the middle of the transfer must log it aborted, never transmitted.
# 77 (skipped) without Xvfb or the desktop station.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
OUT=${2:-shoplink-gui.png}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
case "$OUT" in /*) ;; *) OUT="$PWD/$OUT" ;; esac
GUI="$BUILD/app/gui/shoplink-gui"
STATION="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
if [ ! -x "$GUI" ] || ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
  echo "gui-screenshot: no desktop station or no Xvfb: skipped" >&2
  exit 77
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-gui.XXXXXX")
SIM_PID="" GUI_PID=""
cleanup() {
  # The desktop station runs in a session of its own with its X server: the whole group goes,
  # or the station and Xvfb outlive xvfb-run's shell.
  [ -n "$GUI_PID" ] && kill -TERM -- "-$GUI_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

cp "$ROOT/scripts/demo/DNCDATA" "$ROOT"/scripts/demo/*.NC "$WORK/"
touch "$WORK/SYSTEM.LOG"
# A program long enough (about 15 s at 9600 baud) to be caught in the middle.
{
  printf '%%\r\nO1234 (SHOPLINK DESKTOP STATION)\r\n'
  for i in $(seq 1 1500); do printf 'N%d G01 X%d.500 Y-%d.250 F300\r\n' "$i" "$i" "$i"; done
  printf 'M30\r\n%%\r\n'
} >"$WORK/O1234.NC"
# Port 1 asks for its program once the operator has tried a manual receive; before it, port 3
# asks for one that is not there, so that the picture has a second tile lit (failed).
OPERATE=0
command -v xdotool >/dev/null && command -v openbox >/dev/null && OPERATE=1
MISSING_AT=3s REQUEST_AT=10s
[ "$OPERATE" = 1 ] && MISSING_AT=16s REQUEST_AT=24s
cat >"$WORK/shot.scn" <<SCN
port 1 code even xon after 1s
port 3 code even xon after 1s
at $MISSING_AT port 3 sends TO9999
at $REQUEST_AT port 1 sends TO1234
expect port 1 receives file O1234.NC
run 60s
SCN
"$SIM" "$WORK/shot.scn" --quiet >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 1 100); do
  DEVICE=$(sed -n 's/^device: //p' "$WORK/sim.out" | head -n 1)
  [ -n "$DEVICE" ] && break
  sleep 0.1
done
[ -n "$DEVICE" ] || { echo "gui-screenshot: the simulator did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }

rm -f "$OUT"
# The station, with a window manager when there is one; the display's name for xdotool.
cat >"$WORK/session.sh" <<'SH'
#!/bin/sh
echo "$DISPLAY" >"$1/display"
echo "${XAUTHORITY:-}" >"$1/xauthority"
shift
command -v openbox >/dev/null && { openbox >/dev/null 2>&1 & }
exec "$@"
SH
chmod +x "$WORK/session.sh"
setsid xvfb-run -a -s "-screen 0 1280x900x24" "$WORK/session.sh" "$WORK" \
  "$STATION" gui --station-dir "$WORK" --map "COM1=$DEVICE" --screenshot "$OUT" --print-status \
  >"$WORK/gui.out" 2>&1 &
GUI_PID=$!

# Waits up to $2 tenths of a second for the pattern $1 in the station's output.
await() {
  for _ in $(seq 1 "$2"); do
    grep -q "$1" "$WORK/gui.out" 2>/dev/null && return 0
    kill -0 "$GUI_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
operated="no window manager or xdotool: not operated"
if [ "$OPERATE" = 1 ]; then
  await "^status:  Scanning... " 200 || { cat "$WORK/gui.out"; echo "gui-screenshot: FAILED: no scanning" >&2; exit 1; }
  DISPLAY=$(cat "$WORK/display")
  XAUTHORITY=$(cat "$WORK/xauthority")
  export DISPLAY XAUTHORITY
  # The first match; reading all of them, so that xdotool never writes into a closed pipe.
  WIN=$(xdotool search --sync --name "SHOPLINK 8 port" | sed -n 1p)
  # The window manager may still be starting: activate until the window has the keyboard.
  for _ in $(seq 1 50); do
    xdotool windowactivate "$WIN" >/dev/null 2>&1 || xdotool windowfocus "$WIN" >/dev/null 2>&1 || true
    [ "$(xdotool getwindowfocus 2>/dev/null || true)" = "$WIN" ] && break
    sleep 0.2
  done
  sleep 0.5
  xdotool key alt+m && sleep 0.5 && xdotool key r
  # The dialog names the port it receives from; type into it once it is there.
  DIALOG=$(timeout 20 xdotool search --sync --name "Receive a program from port" | sed -n 1p || true)
  [ -n "$DIALOG" ] || { cat "$WORK/gui.out"; echo "gui-screenshot: FAILED: no Receive file dialog" >&2; exit 1; }
  xdotool windowactivate --sync "$DIALOG" 2>/dev/null || true
  sleep 0.5
  xdotool type --delay 40 "MANUAL.NC" && xdotool key Return
  if ! await "^status:  Receiving file... " 50; then
    cat "$WORK/gui.out"; echo "gui-screenshot: FAILED: Receive file did not wait for data" >&2; exit 1
  fi
  sleep 0.5
  xdotool key Escape
  if ! await "^status: RX aborted..." 30; then
    cat "$WORK/gui.out"; echo "gui-screenshot: FAILED: Esc did not give up the manual receive" >&2; exit 1
  fi
  operated="Esc gave up a manual receive"
fi

scanned=0
for _ in $(seq 1 500); do
  grep -q "Request for file" "$WORK/SYSTEM.LOG" 2>/dev/null && scanned=1
  grep -q "^screenshot:" "$WORK/gui.out" 2>/dev/null && break
  kill -0 "$GUI_PID" 2>/dev/null || break
  sleep 0.1
done
if [ "$OPERATE" = 1 ] && grep -q "^screenshot:" "$WORK/gui.out"; then
  # The close box in the middle of the transfer: the window manager's Alt+F4.
  xdotool windowactivate --sync "$WIN" 2>/dev/null || true
  xdotool key alt+F4
  for _ in $(seq 1 100); do
    grep -q "SHOPLINK stopped" "$WORK/SYSTEM.LOG" && break
    sleep 0.1
  done
  if ! grep -q "SHOPLINK stopping - transmission of .*O1234.NC aborted" "$WORK/SYSTEM.LOG" ||
    grep -q "O1234.NC transmitted" "$WORK/SYSTEM.LOG" ||
    ! tail -n 1 "$WORK/SYSTEM.LOG" | grep -q "SHOPLINK stopped"; then
    cat "$WORK/SYSTEM.LOG"
    echo "gui-screenshot: FAILED: closing mid-transfer did not end it as aborted" >&2
    exit 1
  fi
  operated="$operated; the close box ended the transfer as aborted"
fi
cat "$WORK/gui.out"
echo "--- system log"
cat "$WORK/SYSTEM.LOG"
colours=$(sed -n 's/^screenshot: saved .*, \([0-9]*\) colours.*/\1/p' "$WORK/gui.out")
if [ -z "$colours" ] || [ ! -s "$OUT" ]; then
  echo "gui-screenshot: FAILED: no screenshot" >&2
  exit 1
fi
if [ "$scanned" != 1 ]; then
  echo "gui-screenshot: FAILED: the station never served the request (no scanning)" >&2
  exit 1
fi
if [ "$colours" -lt 8 ]; then
  echo "gui-screenshot: FAILED: the screenshot is blank ($colours colours)" >&2
  exit 1
fi
# The window stays responsive in the middle of the transfer: its events never wait 100 ms.
pause=$(sed -n 's/^window: longest pause of its events during the transfer \([0-9]*\) ms$/\1/p' "$WORK/gui.out")
if [ -z "$pause" ] || [ "$pause" -ge 100 ]; then
  echo "gui-screenshot: FAILED: the window froze for ${pause:-?} ms during the transfer" >&2
  exit 1
fi
echo "gui-screenshot: $OUT ($colours colours, scanned=$scanned, longest pause ${pause} ms; $operated)"
