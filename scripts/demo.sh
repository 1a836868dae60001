#!/usr/bin/env bash
# Demonstration without hardware: streams generated test frames through the
# client library's C API (build/bin/vxqir-stream-example) into an emulated
# QIR unit (build/bin/qir-unit-sim) on loopback, then compares what the
# sender sent with what the unit verified. Exits non-zero when they differ.
#
#   scripts/demo.sh            # as root on a fresh Debian 12 machine
#
# Settings (environment): DEMO_FRAMES (30), DEMO_WIDTH (1920), DEMO_HEIGHT
# (1080), DEMO_PAYLOAD (1448 bytes per datagram), DEMO_SKIP_PING=1 to skip
# the reachability ping, QIR_DEMO_BUILD_DIR (build). Safe to run again; the
# emulator is always stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=${DEMO_FRAMES:-30}
width=${DEMO_WIDTH:-1920}
height=${DEMO_HEIGHT:-1080}
payload=${DEMO_PAYLOAD:-1448}
build=${QIR_DEMO_BUILD_DIR:-build}
control_ip=127.0.0.2
data_ip=127.0.0.3

scripts/install-deps.sh
echo "== configuring and building $build/ (qir-unit-sim, vxqir-stream-example) =="
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build.configure.log" 2>&1 || {
  cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target qir-unit-sim vxqir-stream-example

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== starting the emulated unit: control $control_ip, data $data_ip =="
"$build"/bin/qir-unit-sim --control-ip "$control_ip" --data-ip "$data_ip" \
  --ready-file "$work/ready" --summary-json "$work/summary.json" --no-live \
  > "$work/unit.out" 2> "$work/unit.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -f "$work/ready" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: the emulator ended before it was ready:" >&2
    cat "$work/unit.err" >&2
    exit 1
  fi
  sleep 0.1
done
[ -f "$work/ready" ] || { echo "demo: the emulator was not ready after 10 s" >&2; exit 1; }
ready_value() { sed -n "s/^$1=//p" "$work/ready"; }
control_port=$(ready_value control_port)
data_port=$(ready_value data_base_port)
echo "unit ready: control $control_ip:$control_port, data $data_ip:$data_port"

echo "== streaming $frames frames of $width x $height through the C API =="
ping_flag=()
[ "${DEMO_SKIP_PING:-0}" = 1 ] && ping_flag=(--skip-ping)
sender_status=0
"$build"/bin/vxqir-stream-example --control-ip "$control_ip" --control-port "$control_port" \
  --data-ip "$data_ip" --data-port "$data_port" --local-ip 127.0.0.1 --local-port 0 \
  --channel 0 --frames "$frames" --width "$width" --height "$height" --payload "$payload" \
  "${ping_flag[@]}" | tee "$work/sender.out" || sender_status=$?

kill -TERM "$sim_pid"
wait "$sim_pid" || { echo "demo: the emulator failed:" >&2; cat "$work/unit.err" >&2; exit 1; }
sim_pid=

sent_line=$(grep '^frames_sent=' "$work/sender.out" || true)
unit_line=$(grep '^channel=0 ' "$work/unit.out" || true)
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
sent_frames=$(field frames_sent "$sent_line")
sent_checksum=$(field checksum "$sent_line")
complete=$(field frames_complete "$unit_line")
incomplete=$(field frames_incomplete "$unit_line")
gaps=$(field packet_gaps "$unit_line")
bad=$(field bad_datagrams "$unit_line")
unit_checksum=$(field checksum "$unit_line")

echo "== verification =="
echo "sender:   frames_sent=${sent_frames:-?} checksum=${sent_checksum:-?}"
echo "emulator: frames_complete=${complete:-?} frames_incomplete=${incomplete:-?} packet_gaps=${gaps:-?} bad_datagrams=${bad:-?} checksum=${unit_checksum:-?}"
echo "summary:  $(grep -c '"channel"' "$work/summary.json") channel(s) in the JSON summary"

if [ "$sender_status" -ne 0 ] || [ -z "$sent_line" ]; then
  echo "FAILED: the sender did not finish (exit $sender_status)" >&2
  exit 1
fi
if [ "$sent_frames" != "$complete" ] || [ "$sent_checksum" != "$unit_checksum" ] ||
   [ "$incomplete" != 0 ] || [ "$gaps" != 0 ] || [ "$bad" != 0 ]; then
  echo "FAILED: what the unit received differs from what was sent" >&2
  exit 1
fi
echo "OK: all $sent_frames frames arrived intact; the last frame's checksum $unit_checksum matches"
