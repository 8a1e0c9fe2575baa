#!/usr/bin/env bash
# Commissioning end to end: `shoplink init` makes a station directory, the demo's programs go
# into its PROGRAMS folder, `shoplink check` must find it clean against the simulated shop's
# pseudo-terminal, and `shoplink run` must serve scripts/demo/commissioning.scn unchanged
# (every machine receives exactly its program, the upload is stored byte for byte). A copy
# whose line 1 names no COM port must end `run` with status 2 (no restart by the service).
# Bounded: the scenario runs 58 s and every wait has a limit.
#
#   scripts/commissioning-e2e.sh [BUILD_DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
STATION_BIN="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
DEMO="$ROOT/scripts/demo"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-e2e.XXXXXX")
SIM_PID="" STATION_PID=""
cleanup() {
  for pid in "$STATION_PID" "$SIM_PID"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "commissioning e2e: $*" >&2
  for f in init.out check.out station.out sim.out; do
    [ -f "$WORK/$f" ] && { echo "== $f" >&2; cat "$WORK/$f" >&2; }
  done
  exit 1
}

STATION="$WORK/station"
"$STATION_BIN" init "$STATION" >"$WORK/init.out" || fail "init failed"
cp "$DEMO"/O*.NC "$STATION/PROGRAMS/"

BROKEN="$WORK/broken"
cp -r "$STATION" "$BROKEN"
sed -i '1s/^COM1:/COMX:/' "$BROKEN/DNCDATA"
set +e
timeout 20 "$STATION_BIN" run --station-dir "$BROKEN" >"$WORK/broken.out" 2>&1
BROKEN_STATUS=$?
set -e
[ "$BROKEN_STATUS" -eq 2 ] ||
  fail "run with a broken line 1 ended with status $BROKEN_STATUS, not 2: $(cat "$WORK/broken.out")"

"$SIM" "$DEMO/commissioning.scn" --quiet >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 1 100); do
  DEVICE=$(sed -n 's/^device: //p' "$WORK/sim.out" | head -n 1)
  [ -n "$DEVICE" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || break
  sleep 0.1
done
[ -n "$DEVICE" ] || fail "the simulator did not start"

"$STATION_BIN" check --station-dir "$STATION" --map "COM1=$DEVICE" >"$WORK/check.out" ||
  fail "check found problems in a fresh init directory"

timeout 75 "$STATION_BIN" run --station-dir "$STATION" --map "COM1=$DEVICE" \
  >"$WORK/station.out" 2>&1 &
STATION_PID=$!

set +e
timeout 70 tail --pid="$SIM_PID" -f /dev/null
kill "$SIM_PID" 2>/dev/null  # still running after 70 s: stopped, and the test fails
wait "$SIM_PID"
SIM_STATUS=$?
set -e
SIM_PID=""
kill "$STATION_PID" 2>/dev/null || true
set +e
wait "$STATION_PID"
STATION_STATUS=$?
set -e
STATION_PID=""

[ "$SIM_STATUS" -eq 0 ] || fail "the simulated shop's checks failed (status $SIM_STATUS)"
[ "$STATION_STATUS" -eq 0 ] || fail "the station did not stop cleanly (status $STATION_STATUS)"
cmp -s "$DEMO/U5001.NC" "$STATION/PROGRAMS/O5001.NC" || fail "the upload was not stored exactly"
echo "commissioning e2e: init, check and run served the shop"
