#!/usr/bin/env bash
# The .deb as a machine would receive it: built with CPack from BUILD_DIR, unpacked with
# `dpkg-deb -x` into a scratch root, and `shoplink --help` run from there; the unit, man
# pages and README must be in it, and the unit must pass `systemd-analyze verify` where that
# tool works. Exit 77 (skipped) without dpkg-deb.
#
#   scripts/package-test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: package-test.sh BUILD_DIR}" && pwd)
command -v dpkg-deb >/dev/null || { echo "package test: no dpkg-deb, skipped"; exit 77; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/shoplink-deb.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log") ||
  { cat "$WORK/cpack.log" >&2; exit 1; }
DEB=$(ls "$WORK"/out/*.deb)
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"

for f in usr/bin/shoplink usr/bin/shoplink-sim usr/lib/systemd/system/shoplink@.service \
  usr/lib/sysusers.d/shoplink.conf usr/share/man/man1/shoplink.1 usr/share/man/man1/shoplink-sim.1 \
  usr/share/doc/shoplink/README.md; do
  [ -e "$ROOT/$f" ] || { echo "package test: $f missing from $(basename "$DEB")" >&2; exit 1; }
done
dpkg-deb -I "$DEB" postinst >/dev/null || { echo "package test: no postinst" >&2; exit 1; }

"$ROOT/usr/bin/shoplink" --help >"$WORK/help.txt"
for word in run check init; do
  grep -q "^  $word" "$WORK/help.txt" || { echo "package test: --help lacks $word" >&2; exit 1; }
done

# The unit's own checks, where systemd-analyze works here: the unit as packaged, with its
# ExecStart pointed at the unpacked binary (verify looks for the executable on this host).
if command -v systemd-analyze >/dev/null && systemd-analyze --version >/dev/null 2>&1; then
  mkdir "$WORK/unit"
  sed "s#/usr/bin/shoplink#$ROOT/usr/bin/shoplink#" "$ROOT/usr/lib/systemd/system/shoplink@.service" \
    >"$WORK/unit/shoplink@.service"
  systemd-analyze verify --man=no "$WORK/unit/shoplink@.service" ||
    { echo "package test: systemd-analyze verify failed" >&2; exit 1; }
  echo "package test: systemd-analyze verify passed"
fi
echo "package test: $(basename "$DEB") unpacks and runs"
