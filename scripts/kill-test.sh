#!/usr/bin/env bash
# Kill test of the program history: a real `shoplink run` is killed (SIGKILL) at many points
# of an upload that replaces a program, against the simulated shop on a pseudo-terminal:
# at moments during the reception, and (through strace's fault injection) at each write
# and sync of the journal around the replace and at the rename that puts the upload in place.
# After every kill the program must be whole (the old or the new one, byte for byte), the
# journal intact, and its history consistent: a program that is the new one has both the old
# and the new content as revisions, the newest revision a reader sees is what the program
# holds, and once the station has started again no revision is left pending.
#
# Port 6 keeps backups (/BAK): a program that is the new one must have the old one as its
# backup, and the backup is made at the replace, so a kill there is tried too.
#
#   scripts/kill-test.sh [BUILD_DIR]      (KEEP=1 keeps the work folder; QUICK=1 tries a
#                                          few kill points of each kind, as CI does)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
STATION_BIN="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
command -v strace >/dev/null || { echo "kill test: strace is not installed (skipped)"; exit 77; }
command -v python3 >/dev/null || { echo "kill test: python3 is not installed (skipped)"; exit 77; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-kill.XXXXXX")
SIM_PID="" STATION_PID=""
cleanup() {
  for pid in "$STATION_PID" "$SIM_PID"; do
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "kill test: $*" >&2
  exit 1
}

# The old program and the upload that replaces it (about 1.2 kB: 1.3 s at 9600 baud).
{
  printf '%%\r\nO5001 (OLD)\r\n'
  for i in $(seq 1 40); do printf 'G1 X%d. Y1. F100.\r\n' "$i"; done
  printf 'M30\r\n%%\r\n'
} >"$WORK/OLD.NC"
{
  printf '%%\nO5001 (NEW)\n'
  for i in $(seq 1 60); do printf 'G1 X%d. Y2. F200.\n' "$i"; done
  printf 'M30\n%%\n'
} >"$WORK/U5001.NC"
sed 's/$/\r/' "$WORK/U5001.NC" >"$WORK/NEW.NC"
cat >"$WORK/kill.scn" <<'SCN'
port 6 code even
at 7s port 6 sends RO5001
at 9s port 6 uploads file U5001.NC
run 15s
SCN

now_us() {
  echo "${EPOCHREALTIME/./}"
}

# Waits until `pid` has ended or `deadline` (microseconds) has passed.
wait_for_end() {
  local pid=$1 deadline=$2
  while kill -0 "$pid" 2>/dev/null && [ "$(now_us)" -lt "$deadline" ]; do sleep 0.02; done
}

# One trial: a fresh station directory, the station started (under `$@`, a wrapper such as
# strace, or nothing), killed `delay_ms` after its start unless the wrapper killed it first.
trial() {
  local name=$1 delay_ms=$2
  shift 2
  local dir="$WORK/$name"
  "$STATION_BIN" init "$dir/station" >/dev/null
  cp "$WORK/OLD.NC" "$dir/station/PROGRAMS/O5001.NC"
  sed -i 's/^0 DELAY=2 /0 DELAY=2 \/BAK/' "$dir/station/DNCDATA"
  grep -q '^0 DELAY=2 /BAK' "$dir/station/DNCDATA" || fail "$name: port 6 has no /BAK"
  "$SIM" "$WORK/kill.scn" --quiet >"$dir/sim.out" 2>&1 &
  SIM_PID=$!
  disown "$SIM_PID"
  local device=""
  for _ in $(seq 1 100); do
    device=$(sed -n 's/^device: //p' "$dir/sim.out" | head -n 1)
    [ -n "$device" ] && break
    sleep 0.1
  done
  [ -n "$device" ] || fail "$name: the simulator did not start"
  local start
  start=$(now_us)
  "$@" "$STATION_BIN" run --station-dir "$dir/station" --map "COM1=$device" \
    >"$dir/station.out" 2>&1 &
  STATION_PID=$!
  disown "$STATION_PID"
  wait_for_end "$STATION_PID" $((start + delay_ms * 1000))
  # The station itself, not the wrapper: a SIGKILL to the wrapper would leave it running.
  pkill -9 -P "$STATION_PID" 2>/dev/null || true
  kill -9 "$STATION_PID" 2>/dev/null || true
  wait_for_end "$STATION_PID" $(($(now_us) + 5000000))
  STATION_PID=""
  kill -9 "$SIM_PID" 2>/dev/null || true
  wait_for_end "$SIM_PID" $(($(now_us) + 5000000))
  SIM_PID=""
  check "$name" "$dir/station"
}

# The program whole, the journal intact and its history consistent; then again after the
# station has started once more (it settles what a kill left pending when the journal opens).
check() {
  local name=$1 station=$2
  local program="$station/PROGRAMS/O5001.NC"
  if cmp -s "$program" "$WORK/NEW.NC"; then
    STATE=new
    cmp -s "$station/PROGRAMS/O5001.BAK" "$WORK/OLD.NC" || fail "$name: new program, no backup of the old"
  elif cmp -s "$program" "$WORK/OLD.NC"; then
    STATE=old
  else
    fail "$name: the program is neither the old nor the new one"
  fi
  # A reader sees the history at any moment; only a journal the kill left without its tables
  # (killed while it was first made) has none to show, and then nothing was replaced.
  if ! "$STATION_BIN" history --station-dir "$station" "$program" >"$station/../history.out" 2>&1; then
    grep -q -e 'no journal' -e 'journal is empty' "$station/../history.out" && [ "$STATE" = old ] ||
      fail "$name: history failed: $(cat "$station/../history.out")"
  fi
  consistent "$name" "$station" "$program" reader
  # Started again with no line to open: the journal opens (and settles) at start-up, long
  # before the start-up scan; then the station is stopped.
  timeout -s TERM 2 "$STATION_BIN" run --station-dir "$station" --map COM1=/nonexistent/line \
    >"$station/../restart.out" 2>&1 || true
  consistent "$name" "$station" "$program" restarted
  echo "kill test: $name: program $STATE, history consistent"
}

consistent() {
  python3 - "$@" "$WORK/OLD.NC" "$WORK/NEW.NC" <<'PY' || fail "$1 ($4): $(cat "$2/../consistent.out")"
import os, sqlite3, sys
name, station, program, when, old_path, new_path = sys.argv[1:7]
out = open(os.path.join(station, "..", "consistent.out"), "w")
def bad(text):
    out.write(text + "\n"); sys.exit(1)
db_path = os.path.join(station, "JOURNAL", "journal.sqlite")
current = open(program, "rb").read()
old, new = open(old_path, "rb").read(), open(new_path, "rb").read()
if not os.path.exists(db_path):
    if current != old: bad("no journal, yet the program was replaced")
    sys.exit(0)
db = sqlite3.connect("file:" + db_path + "?mode=ro", uri=True)
if db.execute("PRAGMA integrity_check").fetchone()[0] != "ok": bad("journal damaged")
if db.execute("PRAGMA user_version").fetchone()[0] == 0:
    # Killed while the journal was first made: its schema was rolled back whole.
    if db.execute("SELECT count(*) FROM sqlite_master").fetchone()[0]: bad("a schema made in part")
    if current != old: bad("no history, yet the program was replaced")
    sys.exit(0)
if db.execute("SELECT count(*) FROM revisions WHERE blob NOT IN (SELECT id FROM blobs)").fetchone()[0]:
    bad("a revision without its content")
rows = db.execute("SELECT number, pending, data FROM revisions JOIN blobs ON blobs.id = blob "
                  "WHERE program = ? ORDER BY number DESC", (os.path.normpath(program),)).fetchall()
visible = [(n, p, d) for n, p, d in rows if not p or d == current]
contents = [d for _, _, d in visible]
if current == new and not (new in contents and old in contents):
    bad("the program is the new one but the history lacks the old or the new content")
if visible and visible[0][2] != current:
    bad("the newest revision a reader sees is not what the program holds")
if when == "restarted" and db.execute("SELECT count(*) FROM revisions WHERE pending = 1").fetchone()[0]:
    bad("a revision is still pending after a restart")
PY
}

# A dry run under strace records the order of the journal's writes and syncs and of the
# rename, so that the kills below fall on each of them around the replace (20 s: the upload
# ends at about 12.3 s, and a loaded machine may run late).
trial dry 20000 strace -f -qq -o "$WORK/dry.trace" -e trace=pwrite64,fsync,fdatasync,rename,renameat,renameat2
[ "$STATE" = new ] || fail "dry run: the upload did not replace the program"
read -r WRITES SYNCS RENAME_WRITES < <(python3 - "$WORK/dry.trace" <<'PY'
import sys
# Counted as strace counts them for `when=`: every call of the kind, whatever it writes.
writes = syncs = 0
rename_at = None
for line in open(sys.argv[1]):
    if "pwrite64(" in line: writes += 1
    elif "fsync(" in line or "fdatasync(" in line: syncs += 1
    elif "rename" in line and "O5001.NC" in line and rename_at is None: rename_at = writes
print(writes, syncs, rename_at if rename_at is not None else writes)
PY
)
echo "kill test: dry run: $WRITES journal writes, $SYNCS syncs, the upload's rename after write $RENAME_WRITES"

# Moments during the reception (the upload runs from about 9 s to 10.3 s of the station's time
# and ends 2 s after its last character).
MOMENTS="9400 9800 10200 11000 12200 12600"
[ "${QUICK:-0}" = 1 ] && MOMENTS="9800 12200"
for ms in $MOMENTS; do trial "at-${ms}ms" "$ms"; done
# The backup: a second name for the old program, made just before the rename.
trial link 15000 strace -f -qq -o /dev/null -e trace=link,linkat \
  -e inject=link,linkat:signal=KILL:when=1
# The rename itself, then each journal write from ten before the rename (the revisions kept
# before it) to four after it (the revision settled, the transfer's row), and each sync.
trial rename 15000 strace -f -qq -o /dev/null -e trace=rename,renameat,renameat2 \
  -e inject=rename,renameat,renameat2:signal=KILL:when=1
first=$((RENAME_WRITES > 10 ? RENAME_WRITES - 9 : 1))
last=$((RENAME_WRITES + 4 < WRITES ? RENAME_WRITES + 4 : WRITES))
WRITE_POINTS=$(seq "$first" "$last")
SYNC_POINTS=$(seq 1 "$SYNCS")
if [ "${QUICK:-0}" = 1 ]; then
  WRITE_POINTS="$first $RENAME_WRITES $last"
  SYNC_POINTS="1 $SYNCS"
fi
for n in $WRITE_POINTS; do
  trial "write-$n" 15000 strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=KILL:when="$n"
done
for n in $SYNC_POINTS; do
  trial "sync-$n" 15000 strace -f -qq -o /dev/null -e trace=fsync,fdatasync \
    -e inject=fsync,fdatasync:signal=KILL:when="$n"
done
echo "kill test: every kill left the program whole and its history consistent"
