#!/usr/bin/env bash
# Demonstration without hardware: a graph of the test pattern source (and a
# constant replay offset) into the unit client component VxQirUnitClient runs
# in the engine stand-in (build/bin/pck-host) and replays its frames into an
# emulated QIR unit (build/bin/qir-unit-sim) on loopback; the emulator's
# verdict ends it.
# Exits non-zero when the unit did not get every frame whole.
#
#   scripts/demo.sh            # as root on a fresh Debian 12 machine
#   scripts/demo.sh -h         # this help
#
# Settings (environment): DEMO_FRAMES (30), DEMO_WIDTH (1920), DEMO_HEIGHT
# (1080), DEMO_PAYLOAD (8948 bytes per datagram, "MaxPayLoadSize"),
# QIR_DEMO_BUILD_DIR (build). The unit listens on 127.0.0.2 (control) and
# 127.0.0.3 (data) with ports the system picks. Safe to run again; the
# emulator is always stopped.
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
payload=${DEMO_PAYLOAD:-8948}
build=${QIR_DEMO_BUILD_DIR:-build}
control_ip=127.0.0.2
data_ip=127.0.0.3
for setting in frames width height payload; do
  [[ "${!setting}" =~ ^[0-9]+$ ]] || { echo "demo: DEMO_${setting^^} must be a whole number" >&2; exit 2; }
done

scripts/install-deps.sh
echo "== configuring and building $build/ (qir-unit-sim, pck-host, the packages) =="
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build.configure.log" 2>&1 || {
  cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target qir-unit-sim pck-host tavrik_qir_varnel host_test_components

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
trap 'echo "demo: interrupted" >&2; exit 130' INT TERM

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

cat > "$work/demo.toml" <<GRAPH
packages = ["host_test_components.pck", "tavrik_qir_varnel.pck"]
[engine]
"Engine.shutdownTimeout" = 4000000
[run]
until = "sources-end"
duration = "120s"
[[component]]
name = "camera"
model = "HostPatternSource"
properties = { Width = $width, Height = $height, Pattern = "Ramp", PeriodUs = 40000, Count = $frames }
[[component]]
name = "offset"
model = "HostInt64Source"
properties = { Mode = "Constant", Value = 1000000, PeriodUs = 100000, Count = 10 }
[[component]]
name = "unit"
model = "VxQirUnitClient"
properties = { QirControlIP = "$control_ip", QirControlPort = $control_port, SensorDataIP = "$data_ip", SensorDataBasePort = $data_port, LocalControlIP = "127.0.0.1", LocalControlPort = 0, MaxPayLoadSize = $payload, StatusUpdatePeriod = 200000 }
[[connection]]
from = "camera.Image"
to = "unit.SensorDataIn"
[[connection]]
from = "offset.Value"
to = "unit.LoggingStartTime"
GRAPH

echo "== replaying $frames pattern frames of $width x $height through VxQirUnitClient =="
host_status=0
"$build"/bin/pck-host run "$work/demo.toml" --package-dir "$build" > "$work/host.out" 2>&1 || host_status=$?
grep -v -e '^\[Debug\]' -e '^0$' "$work/host.out" || true

kill -TERM "$sim_pid"
wait "$sim_pid" || { echo "demo: the emulator failed:" >&2; cat "$work/unit.err" >&2; exit 1; }
sim_pid=

sent=$(sed -n 's/.*\[Death\]Sent \([0-9]*\) frames\..*/\1/p' "$work/host.out" | tail -1)
unit_line=$(grep '^channel=0 ' "$work/unit.out" || true)
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
complete=$(field frames_complete "$unit_line")
incomplete=$(field frames_incomplete "$unit_line")
gaps=$(field packet_gaps "$unit_line")
bad=$(field bad_datagrams "$unit_line")
overflows=$(field fifo_overflows "$unit_line")
checksum=$(field checksum "$unit_line")
played=$(field frames_played "$unit_line")
verdict=$(field verdict "$unit_line")

echo "== verdict of the emulated unit =="
echo "component: frames_sent=${sent:-?}"
echo "emulator:  frames_complete=${complete:-?} frames_incomplete=${incomplete:-?} packet_gaps=${gaps:-?} bad_datagrams=${bad:-?} fifo_overflows=${overflows:-?} frames_played=${played:-?} checksum=${checksum:-?}"
echo "emulator verdict: ${verdict:-?}"

if [ "$host_status" -ne 0 ] || [ -z "$sent" ]; then
  echo "FAILED: the graph did not run cleanly (pck-host exit $host_status)" >&2
  exit 1
fi
if [ "$sent" != "$frames" ] || [ "$complete" != "$frames" ] || [ "$incomplete" != 0 ] ||
   [ "$gaps" != 0 ] || [ "$bad" != 0 ]; then
  echo "FAILED: the unit did not receive all $frames frames whole" >&2
  exit 1
fi
if [ "$verdict" != delivered ]; then
  echo "FAILED: the frames arrived, but the unit did not play them all to the device under test (verdict ${verdict:-?})" >&2
  exit 1
fi
echo "OK: all $frames frames arrived whole at the unit; last frame checksum $checksum"
