#!/usr/bin/env bash
# Both actions of the unit client typed on pck-host's standard input while a
# graph replays into an emulated unit on loopback; the unit counts the
# requests and the run ends with "stop". Bounded: 60 s at most. The unit's
# replies may take long on a loaded machine: the graph waits up to 2 s for each
# (the default 50 ms is for a unit on a quiet link).
#   actions_through_commands.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

timeout 60 "$build"/bin/qir-unit-sim --control-ip 127.0.0.2 --data-ip 127.0.0.3 --ready-file "$work/ready" \
  --no-live > "$work/unit.out" 2> "$work/unit.err" &
sim_pid=$!
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.1; done
[ -f "$work/ready" ] || { echo "the emulator was not ready"; exit 1; }
control_port=$(sed -n 's/^control_port=//p' "$work/ready")
data_port=$(sed -n 's/^data_base_port=//p' "$work/ready")

cat > "$work/graph.toml" <<GRAPH
packages = ["host_test_components.pck", "tavrik_qir_varnel.pck"]
[run]
until = "interrupt"
duration = "30s"
[[component]]
name = "camera"
model = "HostPatternSource"
properties = { Width = 64, Height = 8, PeriodUs = 20000 }
[[component]]
name = "offset"
model = "HostInt64Source"
properties = { Mode = "Constant", Value = 1000, PeriodUs = 100000, Count = 5 }
[[component]]
name = "unit"
model = "VxQirUnitClient"
properties = { QirControlIP = "127.0.0.2", QirControlPort = $control_port, SensorDataIP = "127.0.0.3", SensorDataBasePort = $data_port, LocalControlIP = "127.0.0.1", LocalControlPort = 0, StatusUpdatePeriod = 50000, TimeoutGet = 2000000 }
[[connection]]
from = "camera.Image"
to = "unit.SensorDataIn"
[[connection]]
from = "offset.Value"
to = "unit.LoggingStartTime"
GRAPH

status=0
{ sleep 2; echo "action unit ClearStatusFlags"; echo "action unit ResetChannel"; sleep 1; echo stop; } |
  timeout 40 "$build"/bin/pck-host run "$work/graph.toml" --package-dir "$build" --commands \
  > "$work/host.out" 2>&1 || status=$?
cat "$work/host.out" | grep -v '^\[Debug\]'
kill -TERM "$sim_pid"; wait "$sim_pid" || true; sim_pid=
cat "$work/unit.out"
[ "$status" -eq 0 ] || { echo "pck-host ended with $status"; exit 1; }
if grep -q -e "Resetting QIR Channel failed" -e "refuses" -e "WARN.*pck-host" "$work/host.out"; then
  echo "an action was refused or failed"; exit 1
fi
grep -q "\[Death\] UnregisterOutputChannel" "$work/host.out" || { echo "the channel was not released"; exit 1; }
echo "both actions reached the unit"
