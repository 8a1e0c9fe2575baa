#!/usr/bin/env bash
# The status page in a real browser: `shoplink run --web` serves the demo's simulated shop;
# once a machine has received a program, Debian's chromium (headless) loads / and runs its
# script, and the page it then holds must show the eight ports as tiles and that transfer.
# Skipped (77) where chromium is not installed.
#
#   scripts/browser-test.sh BUILD_DIR            the test (CTest runs it)
#   SCREENSHOTS=DIR scripts/browser-test.sh ...  also saves DIR/web-station.png and
#                                                DIR/web-activity.png (the README's pictures)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
STATION="$BUILD/app/shoplink"
SIM="$BUILD/sim/shoplink-sim"
DEMO="$ROOT/scripts/demo"

CHROMIUM=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$CHROMIUM" ]; then
  echo "browser test: chromium is not installed (make deps installs it): skipped"
  exit 77
fi
for bin in "$STATION" "$SIM"; do
  [ -x "$bin" ] || { echo "browser test: $bin is missing" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-browser.XXXXXX")
SIM_PID="" STATION_PID=""
cleanup() {
  for pid in "$STATION_PID" "$SIM_PID"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

cp "$DEMO/DNCDATA" "$DEMO"/*.NC "$DEMO"/*.BIN "$WORK/"
touch "$WORK/SYSTEM.LOG"
"$SIM" "$DEMO/demo.scn" --quiet >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
DEVICE=""
for _ in $(seq 1 100); do
  DEVICE=$(sed -n 's/^device: //p' "$WORK/sim.out" | head -n 1)
  [ -n "$DEVICE" ] && break
  sleep 0.1
done
[ -n "$DEVICE" ] || { echo "browser test: the simulator did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }

"$STATION" run --station-dir "$WORK" --map "COM1=$DEVICE" --web 127.0.0.1:0 >"$WORK/station.out" 2>&1 &
STATION_PID=$!
URL=""
for _ in $(seq 1 100); do
  URL=$(sed -n 's/^shoplink: status page on //p' "$WORK/station.out" | head -n 1)
  [ -n "$URL" ] && break
  sleep 0.1
done
[ -n "$URL" ] || { echo "browser test: no status page" >&2; cat "$WORK/station.out" >&2; exit 1; }
echo "browser test: status page on $URL"

# Until port 1 has received its program (the demo asks at 23 s) and port 4 is under way.
python3 - "$URL" <<'EOF'
import json, sys, time, urllib.request
url = sys.argv[1]
deadline = time.time() + 90
while time.time() < deadline:
    with urllib.request.urlopen(url + "api/transfers?port=1") as r:
        rows = json.load(r)["transfers"]
    if any(t["result"] == "transmitted" for t in rows):
        sys.exit(0)
    time.sleep(0.5)
sys.exit("browser test: port 1 received nothing within 90 s")
EOF

# The page once its script has shown a snapshot from the live stream (it marks which).
timeout 90 "$ROOT/scripts/browser-dom.py" "$CHROMIUM" "$WORK/chromium" "$URL" \
  "document.body.dataset.sequence" 30 >"$WORK/dom.html" 2>"$WORK/chromium.err"

FAIL=0
TILES=$(grep -o '<article class="tile' "$WORK/dom.html" | wc -l)
if [ "$TILES" -ne 8 ]; then
  echo "browser test: FAILED: $TILES tiles, expected 8"
  FAIL=1
fi
# The page's script has followed the live stream: it marks the snapshot it shows.
if ! grep -q '<body[^>]*data-sequence="[0-9]' "$WORK/dom.html"; then
  echo "browser test: FAILED: the page's script showed no snapshot from the live stream"
  FAIL=1
fi
# The transfer on port 1's tile, as the page's script leaves it.
if ! python3 - "$WORK/dom.html" <<'EOF'; then
import re, sys
dom = open(sys.argv[1], encoding="utf-8").read()
tile = re.search(r'<article[^>]*id="port-1".*?</article>', dom, re.S)
ok = tile and re.search(r'class="last-name"[^>]*>O1234\.NC<', tile.group(0)) \
    and re.search(r'class="last-result">transmitted<', tile.group(0))
sys.exit(0 if ok else 1)
EOF
  echo "browser test: FAILED: port 1's tile does not show O1234.NC transmitted"
  FAIL=1
fi
if [ "$FAIL" -ne 0 ]; then
  echo "--- DOM:"
  cat "$WORK/dom.html"
  echo "--- chromium:"
  tail -20 "$WORK/chromium.err"
  exit 1
fi
echo "browser test: 8 tiles, live, port 1 shows O1234.NC transmitted: ok"

if [ -n "${SCREENSHOTS:-}" ]; then
  mkdir -p "$SCREENSHOTS"
  # The chart of a whole day: yesterday, made up in the journal (the demo runs 90 s).
  YESTERDAY=$(date -d yesterday +%F)
  python3 "$ROOT/scripts/sample-day.py" "$WORK/JOURNAL/journal.sqlite" "$YESTERDAY"
  # Into the demo's busiest minute: port 4 held by its machine's Xoff, port 8 in binary.
  sleep "${SCREENSHOT_DELAY:-25}"
  for shot in web-station.png: "web-activity.png:activity?day=$YESTERDAY"; do
    # --no-sandbox: CI runs as root, where chromium's sandbox will not start.
    timeout 90 "$CHROMIUM" --headless --no-sandbox --disable-gpu --no-first-run \
      --user-data-dir="$WORK/chromium-shot" --window-size=1280,1000 --hide-scrollbars \
      --screenshot="$SCREENSHOTS/${shot%%:*}" "$URL${shot#*:}" 2>>"$WORK/chromium.err"
  done
  echo "browser test: screenshots in $SCREENSHOTS"
fi
