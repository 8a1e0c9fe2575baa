#!/usr/bin/env bash
# The plant publisher against the real broker: Debian's mosquitto on a free loopback port,
# a real `shoplink run` against the simulated shop on a pseudo-terminal, and a subscriber
# that keeps what it gets. Checks: the retained status and port states after the start, an
# event and a transfer from the shop, the outbox (broker stopped, three events, broker
# started again: the three arrive in order, exactly once), the last will when the station is
# killed; then the same station over TLS with a login.
#
#   scripts/plant-test.sh [BUILD_DIR]      (KEEP=1 keeps the work folder)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
STATION_BIN="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
for tool in mosquitto mosquitto_sub mosquitto_passwd openssl python3; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
    { echo "plant test: $tool is not installed (skipped)"; exit 77; }
done
BROKER=$(command -v mosquitto || echo /usr/sbin/mosquitto)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-plant.XXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] && echo "plant test: kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "plant test: FAILED: $*" >&2
  for f in "$WORK"/*.out "$WORK"/*.log; do
    [ -f "$f" ] && { echo "--- $f" >&2; tail -n 40 "$f" >&2; }
  done
  exit 1
}

# Waits up to $2 seconds for the command in $1 to succeed.
wait_for() {
  local what=$1 limit=$2 i
  for ((i = 0; i < limit * 10; i++)); do
    eval "$what" && return 0
    sleep 0.1
  done
  return 1
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

PORT=$(free_port)
TLS_PORT=$(free_port)
TOPIC=shoplink/plant-test

# The broker: plain and anonymous on one port; TLS with a login on the other. Persistent,
# so that the subscriber's session (and what waits for it) outlives the broker's restart.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=plant test CA" \
  -keyout "$WORK/ca.key" -out "$WORK/ca.crt" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" \
  -keyout "$WORK/server.key" -out "$WORK/server.csr" >/dev/null 2>&1
openssl x509 -req -in "$WORK/server.csr" -CA "$WORK/ca.crt" -CAkey "$WORK/ca.key" \
  -CAcreateserial -days 2 -copy_extensions copy -out "$WORK/server.crt" >/dev/null 2>&1
touch "$WORK/passwords"
mosquitto_passwd -b "$WORK/passwords" station s3cret
chmod 0600 "$WORK/passwords"
cat >"$WORK/broker.conf" <<CONF
user $(id -un)
per_listener_settings true
persistence true
persistence_location $WORK/
log_dest file $WORK/broker.log
listener $PORT 127.0.0.1
allow_anonymous true
listener $TLS_PORT 127.0.0.1
cafile $WORK/ca.crt
certfile $WORK/server.crt
keyfile $WORK/server.key
allow_anonymous false
password_file $WORK/passwords
CONF
BROKER_PID=""
start_broker() {
  "$BROKER" -c "$WORK/broker.conf" >>"$WORK/broker.out" 2>&1 &
  BROKER_PID=$!
  PIDS+=("$BROKER_PID")
  wait_for "grep -q 'on port $PORT' '$WORK/broker.log' 2>/dev/null && mosquitto_sub -p $PORT -t x -W 1 -C 1 -E 2>/dev/null" 10 ||
    fail "the broker did not start"
}
stop_broker() {
  kill "$BROKER_PID"
  wait "$BROKER_PID" 2>/dev/null || true
}
start_broker

# The subscriber: a persistent session at QoS 1, printing "topic payload" lines.
mosquitto_sub -p "$PORT" -i plant-test-sub -c -q 1 -v -t "$TOPIC/#" >"$WORK/sub.out" 2>&1 &
PIDS+=($!)
wait_for "grep -q 'plant-test-sub' '$WORK/broker.log'" 10 || fail "the subscriber did not connect"

# The shop (the station scans from about 6 s on): a program request on port 1 (a
# transfer), cycle start on port 3 (an event); then three events while the broker is away,
# 3 s apart (a command that meets the station settling after another is discarded).
cat >"$WORK/plant.scn" <<'SCN'
port 1 code even xon after 2s
port 3 code even
port 5 code odd
at 9s port 1 sends TO0001
at 12s port 3 sends S
at 20s port 3 sends F
at 23s port 3 sends D12.5
at 26s port 5 sends S
run 60s
SCN

# Starts `shoplink run` in station directory $1 against a new simulator running $2, with
# the further arguments; sets STATION_PID.
start_station() {
  local dir=$1 scn=$2
  shift 2
  "$STATION_BIN" init "$dir" >/dev/null
  "$SIM" "$scn" --quiet >"$dir.sim.out" 2>&1 &
  PIDS+=($!)
  local device=""
  wait_for "device=\$(sed -n 's/^device: //p' '$dir.sim.out' | head -n 1); [ -n \"\$device\" ]" 10 ||
    fail "the simulator did not start"
  "$STATION_BIN" run --station-dir "$dir" --map "COM1=$device" --map STATION=plant-test "$@" \
    >"$dir.out" 2>&1 &
  STATION_PID=$!
  disown "$STATION_PID"
  PIDS+=("$STATION_PID")
}

start_station "$WORK/station" "$WORK/plant.scn" --mqtt "mqtt://127.0.0.1:$PORT"
STATION=$WORK/station
wait_for "grep -q 'Plant: publishing to' '$STATION/SHOPLINK.LOG' 2>/dev/null" 15 ||
  fail "the station did not connect to the broker"

# The transfer and the event.
wait_for "grep -q '^$TOPIC/port/3/event .*\"event\":\"cycle start\"' '$WORK/sub.out'" 15 ||
  fail "no cycle start event of port 3"
grep -q "^$TOPIC/port/1/transfer {\"seq\":[0-9]*,\"port\":1,\"machine\":\"MACHINE 1\",\"program\":\"$STATION/PROGRAMS/O0001.NC\",\"kind\":\"request\",.*\"result\":\"transmitted\"" \
  "$WORK/sub.out" || fail "no transfer of port 1"
grep -q "^$TOPIC/port/1/state .*\"state\":\"sending\"" "$WORK/sub.out" ||
  fail "port 1's state never said sending"

# Retained after the start: the status and the eight ports' states, for a late subscriber.
mosquitto_sub -p "$PORT" -v -t "$TOPIC/#" --retained-only -W 2 >"$WORK/retained.out" 2>/dev/null || true
grep -q "^$TOPIC/status {\"state\":\"online\",\"station\":\"plant-test\"" "$WORK/retained.out" ||
  fail "no retained online status"
for n in 1 2 3 4 5 6 7 8; do
  grep -q "^$TOPIC/port/$n/state {\"port\":$n,\"machine\":\"MACHINE $n\"" "$WORK/retained.out" ||
    fail "no retained state of port $n"
done

# The outbox: the broker away for the three events, then back.
stop_broker
wait_for "grep -q 'Plant: connection to .* lost' '$STATION/SHOPLINK.LOG'" 10 ||
  fail "the station did not notice the broker going"
wait_for "grep -q 'Port 5.*cycle\\|Beginning of cycle' '$STATION/SHOPLINK.LOG' && [ \$(grep -c 'cycle\\|Probed' '$STATION/SHOPLINK.LOG') -ge 4 ]" 20 ||
  fail "the shop's three events did not come"
start_broker
wait_for "grep -q 'Plant: connected to .* again' '$STATION/SHOPLINK.LOG'" 40 ||
  fail "the station did not reconnect"
wait_for "grep -q '^$TOPIC/port/5/event' '$WORK/sub.out'" 10 || fail "the outbox's events did not arrive"
sleep 1
grep "^$TOPIC/port/[35]/event" "$WORK/sub.out" | tail -n +2 >"$WORK/outbox.out"
events=$(sed -E 's/.*"seq":([0-9]+).*"event":"([^"]*)","text":"([^"]*)".*/\1 \2 \3/' "$WORK/outbox.out")
expected_kinds=$'cycle finish \nprobed dimension 12.5\ncycle start '
[ "$(cut -d' ' -f2- <<<"$events")" = "$expected_kinds" ] ||
  fail "after the outage: expected finish, probe, start once each, got: $events"
seqs=($(cut -d' ' -f1 <<<"$events"))
[ $((seqs[1])) -eq $((seqs[0] + 1)) ] && [ $((seqs[2])) -eq $((seqs[1] + 1)) ] ||
  fail "sequence numbers not consecutive: ${seqs[*]}"
grep -q "Plant: connected to mqtt://127.0.0.1:$PORT again, 3 messages in the outbox" \
  "$STATION/SHOPLINK.LOG" || fail "the log does not say three messages waited"

# The last will: the station killed, the broker says offline for it.
kill -9 "$STATION_PID"
wait_for "grep -q '^$TOPIC/status {\"state\":\"offline\",\"station\":\"plant-test\",\"clean\":false}' '$WORK/sub.out'" 10 ||
  fail "no last will after the kill"

# TLS with a login: the station's status arrives over mqtts://.
cat >"$WORK/idle.scn" <<'SCN'
run 30s
SCN
start_station "$WORK/tls" "$WORK/idle.scn" --mqtt "mqtts://localhost:$TLS_PORT" \
  --map MQTT_USER=station --map MQTT_PASSWORD=s3cret --map "MQTT_CA=$WORK/ca.crt" \
  --map MQTT_TOPIC=shoplink/plant-tls
wait_for "grep -q 'Plant: publishing to mqtts://localhost:$TLS_PORT' '$WORK/tls/SHOPLINK.LOG' 2>/dev/null" 15 ||
  fail "no TLS connection"
mosquitto_sub -p "$TLS_PORT" -h localhost --cafile "$WORK/ca.crt" -u station -P s3cret \
  -t shoplink/plant-tls/status -C 1 -W 5 >"$WORK/tls.out" 2>&1 || true
grep -q '"state":"online"' "$WORK/tls.out" || fail "no status over TLS"
# A clean stop says offline itself.
kill "$STATION_PID"
wait_for "! kill -0 $STATION_PID 2>/dev/null" 10 || fail "the TLS station did not stop"
mosquitto_sub -p "$TLS_PORT" -h localhost --cafile "$WORK/ca.crt" -u station -P s3cret \
  -t shoplink/plant-tls/status -C 1 -W 5 >"$WORK/tls.out" 2>&1 || true
grep -q '"state":"offline",.*"clean":true' "$WORK/tls.out" || fail "no offline status at the stop"

echo "plant test: retained states, event, transfer, outbox in order once, last will, TLS: passed"
