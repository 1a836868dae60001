#!/usr/bin/env bash
# Demonstration without hardware: qir-gen writes a short synthetic camera
# recording (a grabber stream of MIPI CSI-2 frames) and qir-replay replays
# it through the product's components (player, VxQirUnitClient) into an
# embedded emulated QIR unit on loopback, which plays every frame at its
# recorded time and checks it against the recording. qir-replay's summary
# and verdict end it.
# Exits non-zero when a frame did not arrive whole with its checksum.
#
#   scripts/demo.sh            # as root on a fresh Debian 12 machine
#   scripts/demo.sh -h         # this help
#
# Settings (environment): DEMO_FRAMES (30), DEMO_WIDTH (1920), DEMO_HEIGHT
# (1080), DEMO_FPS (30), QIR_DEMO_BUILD_DIR (build). The unit listens on
# 127.0.0.2 (control) and 127.0.0.3 (data) with ports the system picks.
# Safe to run again; the recording lives in a temporary folder that is
# always removed.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  -h|--help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    exit 0 ;;
  "") ;;
  *) echo "demo: unknown argument '$1' (see -h)" >&2; exit 2 ;;
esac

frames=${DEMO_FRAMES:-30}
width=${DEMO_WIDTH:-1920}
height=${DEMO_HEIGHT:-1080}
fps=${DEMO_FPS:-30}
build=${QIR_DEMO_BUILD_DIR:-build}
for setting in frames width height fps; do
  [[ "${!setting}" =~ ^[0-9]+$ ]] || { echo "demo: DEMO_${setting^^} must be a whole number" >&2; exit 2; }
done

scripts/install-deps.sh
echo "== configuring and building $build/ (qir-gen, qir-replay, the packages) =="
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build.configure.log" 2>&1 || {
  cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target qir-gen qir-replay

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'echo "demo: interrupted" >&2; exit 130' INT TERM

echo "== writing $frames synthetic frames of $width x $height at $fps fps =="
"$build"/bin/qir-gen grabber --width "$width" --height "$height" --frames "$frames" --fps "$fps" \
  -o "$work/demo.grab"

echo "== replaying them into the embedded emulated unit (control 127.0.0.2, data 127.0.0.3) =="
status=0
"$build"/bin/qir-replay "$work/demo.grab" --quiet || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAILED: qir-replay exit $status (see its verdict above)" >&2
  exit 1
fi
echo "OK: all $frames frames arrived whole at the unit with the recording's checksums"
