#!/usr/bin/env bash
# The desktop station against the simulated shop of `make demo`: the window shows the ports
# being scanned and the programs going out and coming in. Close the window (or Mode > Exit)
# to end; the simulator's summary follows.
#
#   scripts/demo-gui.sh [BUILD_DIR]     (default: build; `make demo-gui` builds first)
# Without a display ($DISPLAY / $WAYLAND_DISPLAY) it runs under Xvfb and only prints.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
GUI="$BUILD/app/gui/shoplink-gui"
SIM="$BUILD/sim/shoplink-sim"
for bin in "$GUI" "$SIM"; do
  [ -x "$bin" ] || { echo "demo-gui: $bin is missing; run 'make demo-gui'" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-demo-gui.XXXXXX")
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
cp "$ROOT/scripts/demo/DNCDATA" "$ROOT"/scripts/demo/*.NC "$WORK/"
touch "$WORK/SYSTEM.LOG"

"$SIM" "$ROOT/scripts/demo/demo.scn" --quiet >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 1 100); do
  DEVICE=$(sed -n 's/^device: //p' "$WORK/sim.out" | head -n 1)
  [ -n "$DEVICE" ] && break
  sleep 0.1
done
[ -n "$DEVICE" ] || { echo "demo-gui: the simulator did not start" >&2; exit 2; }
echo "== simulated shop on $DEVICE; station directory $WORK"

RUN=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "== no display: running under Xvfb for the length of the demo"
  RUN=(timeout 75 xvfb-run -a -s "-screen 0 1280x900x24")
fi
set +e
"${RUN[@]}" "$GUI" --station-dir "$WORK" --map "COM1=$DEVICE"
set -e
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=""
echo "== simulator summary"
sed '/^device: /d' "$WORK/sim.out"
