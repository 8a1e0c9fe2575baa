#!/usr/bin/env bash
# The desktop station under Xvfb against the simulated shop: waits for the station to scan,
# takes a screenshot one second into the first transfer and checks it is not blank. Used by
# the smoke test (ctest) and to make the README's picture:
#
#   scripts/gui-screenshot.sh BUILD_DIR OUT.png
#
# Exit 0 when the station scanned, the screenshot has more than a handful of colours and the
# window's events never waited 100 ms during the transfer;
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
# Port 1 asks for its program soon after the scan starts.
cat >"$WORK/shot.scn" <<'SCN'
port 1 code even xon after 1s
at 6s port 1 sends TO1234
expect port 1 receives file O1234.NC
run 40s
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
setsid xvfb-run -a -s "-screen 0 1280x900x24" \
  "$STATION" gui --station-dir "$WORK" --map "COM1=$DEVICE" --screenshot "$OUT" >"$WORK/gui.out" 2>&1 &
GUI_PID=$!
scanned=0
for _ in $(seq 1 400); do
  grep -q "Request for file" "$WORK/SYSTEM.LOG" 2>/dev/null && scanned=1
  grep -q "^screenshot:" "$WORK/gui.out" 2>/dev/null && break
  kill -0 "$GUI_PID" 2>/dev/null || break
  sleep 0.1
done
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
echo "gui-screenshot: $OUT ($colours colours, scanned=$scanned, longest pause ${pause} ms)"
