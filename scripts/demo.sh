#!/usr/bin/env bash
# The ShopLink demo: the station serves a simulated shop of eight machines over a
# pseudo-terminal. Shows the system log live and ends with the simulator's summary: what each
# machine received and whether it decoded to the stored program, and whether the two
# uploaded programs were stored byte for byte. Exit status 0 only when every check passed.
#
#   scripts/demo.sh [BUILD_DIR]      (default: build; `make demo` builds first)
#   KEEP=1 scripts/demo.sh           keeps the station directory for a look afterwards
#   When mosquitto is installed, the station also publishes to a broker of its own on a
#   free loopback port (the plant publisher), and a few of the messages are shown at the end
#   (PLANT=0: not).
#   WEB=127.0.0.1:8081 scripts/demo.sh  the status page there (default 127.0.0.1:8080;
#                                    WEB=off: none)
#   NET=1 scripts/demo.sh            the same over the network path: the simulated shop
#                                    behind a loopback TCP device server (NET=rfc2217: with
#                                    Telnet COM Port Control)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
STATION="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
DEMO="$ROOT/scripts/demo"

for bin in "$STATION" "$SIM"; do
  if [ ! -x "$bin" ]; then
    echo "demo: $bin is missing; run 'make demo' (it builds first)" >&2
    exit 2
  fi
done

SIM_ARGS=()
case "${NET:-0}" in
  0 | "") ;;
  1 | tcp) SIM_ARGS=(--listen 127.0.0.1:0) ;;
  rfc2217) SIM_ARGS=(--listen 127.0.0.1:0 --rfc2217) ;;
  *)
    echo "demo: NET=$NET: expected 1, tcp or rfc2217" >&2
    exit 2
    ;;
esac

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-demo.XXXXXX")
SIM_PID="" STATION_PID="" TAIL_PID="" BROKER_PID="" SUB_PID=""
cleanup() {
  for pid in "$TAIL_PID" "$STATION_PID" "$SIM_PID" "$SUB_PID" "$BROKER_PID"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ "${KEEP:-0}" = 1 ]; then
    echo "demo: station directory kept in $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The station directory: configuration and the programs the machines will ask for.
cp "$DEMO/DNCDATA" "$DEMO"/*.NC "$DEMO"/*.BIN "$WORK/"
touch "$WORK/SYSTEM.LOG"

echo "== ShopLink demo: station directory $WORK"
echo "== machines: 1 HAAS (ISO even), 2 BRIDGEPORT (EIA, 4800 baud), 3 MAZAK (asks for a"
echo "   missing program), 4 FANUC (no parity, small buffer: Xoff/Xon), 5 OKUMA (odd parity),"
echo "   6 HURCO (no parity) and 7 MORI (upload programs to the station, then ask as a Lynx"
echo "   and a Burny CLINK control), 8 PRESS BRAKE (binary)"

# The plant's MQTT broker, when mosquitto is installed: the station publishes to it. Started
# before the shop, whose clock starts with it.
MQTT_ARGS=()
BROKER=$(command -v mosquitto || { [ -x /usr/sbin/mosquitto ] && echo /usr/sbin/mosquitto; } || true)
if [ "${PLANT:-1}" != 0 ] && [ -n "$BROKER" ] && command -v mosquitto_sub >/dev/null && command -v python3 >/dev/null; then
  MQTT_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  printf 'user %s\nlistener %s 127.0.0.1\nallow_anonymous true\n' "$(id -un)" "$MQTT_PORT" \
    >"$WORK/broker.conf"
  "$BROKER" -c "$WORK/broker.conf" >"$WORK/broker.out" 2>&1 &
  BROKER_PID=$!
  for _ in $(seq 1 50); do
    mosquitto_sub -p "$MQTT_PORT" -t x -W 1 -C 1 -E 2>/dev/null && break
    sleep 0.1
  done
  mosquitto_sub -p "$MQTT_PORT" -v -t 'shoplink/#' >"$WORK/mqtt.out" 2>&1 &
  SUB_PID=$!
  MQTT_ARGS=(--mqtt "mqtt://127.0.0.1:$MQTT_PORT" --map STATION=demo)
  echo "== plant publisher: broker mosquitto on 127.0.0.1:$MQTT_PORT" \
    "(mosquitto_sub -p $MQTT_PORT -v -t 'shoplink/#')"
else
  echo "== plant publisher: off (install mosquitto and mosquitto-clients to see it)"
fi

"$SIM" "$DEMO/demo.scn" --quiet "${SIM_ARGS[@]}" >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 1 100); do
  DEVICE=$(sed -n 's/^device: //p' "$WORK/sim.out" | head -n 1)
  [ -n "$DEVICE" ] && break
  if ! kill -0 "$SIM_PID" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ -z "$DEVICE" ]; then
  echo "demo: the simulator did not start:" >&2
  cat "$WORK/sim.out" >&2
  exit 2
fi
echo "== simulated shop on $DEVICE; starting the station"

echo "== system log ($WORK/SYSTEM.LOG), live:"

WEB_ARGS=()
[ "${WEB:-}" = off ] || WEB_ARGS=(--web "${WEB:-127.0.0.1:8080}")
"$STATION" run --station-dir "$WORK" --map "COM1=$DEVICE" "${WEB_ARGS[@]}" "${MQTT_ARGS[@]}" >"$WORK/station.out" 2>&1 &
STATION_PID=$!
# The status page: its address once the station has it (or why it has none).
if [ ${#WEB_ARGS[@]} -gt 0 ]; then
  for _ in $(seq 1 50); do
    grep -q "status page" "$WORK/station.out" 2>/dev/null && break
    sleep 0.1
  done
  WEB_LINE=$(grep -m 1 "status page" "$WORK/station.out" || echo "shoplink: no status page yet")
  echo "== ${WEB_LINE#shoplink: }: open it in a browser while the demo runs"
fi
tail -n +1 -F "$WORK/SYSTEM.LOG" 2>/dev/null &
TAIL_PID=$!

set +e
wait "$SIM_PID"
SIM_STATUS=$?
set -e
SIM_PID=""
sleep 0.3  # let the last log lines show
kill "$STATION_PID" 2>/dev/null || true
wait "$STATION_PID" 2>/dev/null || true
STATION_PID=""
kill "$TAIL_PID" 2>/dev/null || true
TAIL_PID=""

echo
echo "== simulator summary"
sed '/^device: /d' "$WORK/sim.out"

if [ -n "$SUB_PID" ]; then
  kill "$SUB_PID" 2>/dev/null || true
  wait "$SUB_PID" 2>/dev/null || true
  SUB_PID=""
  echo "== published to the plant's MQTT broker: $(grep -c . "$WORK/mqtt.out") messages, among them"
  { grep -m 1 '/status {"state":"online"' "$WORK/mqtt.out" || true
    grep -m 1 '/port/4/state .*"state":"sending"' "$WORK/mqtt.out" || true
    grep '/transfer ' "$WORK/mqtt.out" | head -n 3 || true
    grep -m 1 '/status {"state":"offline"' "$WORK/mqtt.out" || true; } | cut -c1-200
fi

# The uploads: what the machines sent must be on the station's disk, byte for byte.
STATUS=$SIM_STATUS
echo "== uploads"
for upload in 6:U5001.NC:O5001.NC 7:U7002.NC:O7002.NC; do
  IFS=: read -r port sent stored <<<"$upload"
  if [ -f "$WORK/$stored" ] && cmp -s "$DEMO/$sent" "$WORK/$stored"; then
    echo "port $port: $stored stored exactly as the machine sent it ($(wc -c <"$WORK/$stored") bytes): ok"
  else
    echo "port $port: $stored FAILED: not stored, or not what the machine sent"
    STATUS=1
  fi
done

if [ "$STATUS" -eq 0 ]; then
  echo "== demo passed: every machine received exactly its program, both uploads stored exactly"
else
  echo "== demo FAILED (status $STATUS); station output: $WORK/station.out"
  KEEP=1
fi
exit "$STATUS"
