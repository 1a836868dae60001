#!/bin/bash
# bench/peers.sh - the same 1920x1080 RGB frames (1080 lines of 5760 bytes)
# on loopback through GStreamer (rtpvrawpay ! udpsink, MTU 9000 and 1500),
# ffmpeg (RTP raw video), a plain sendto loop and this project's paths (and
# the raw image converter against memcpy), in
# alternating rounds; prints each one's median frames/s and its ratio to
# GStreamer. GStreamer is installed from Debian when missing: it is a speed
# reference for this script only, never used by the build or the tests.
#
# Every datagram goes to 127.0.0.2 / 127.0.0.3; every sender is bounded by a
# frame count (and the project's programs by their own time limits).
set -u

usage() {
    cat <<EOF
usage: bench/peers.sh [--rounds N] [--build DIR]
  --rounds N   alternating rounds, 1 to 10 (default 3); the order of the
               paths is reversed every other round
  --build DIR  build directory with the benchmarks and tools (default build);
               missing programs are built there first
Runs on loopback only. Exit status: 0 measured, 1 a path failed, 2 usage,
130 interrupted.
EOF
}

ROUNDS=3
BUILD=build
while [ $# -gt 0 ]; do
    case "$1" in
    -h | --help) usage; exit 0 ;;
    --rounds)
        [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -ge 1 ] && [ "$2" -le 10 ] || {
            echo "peers.sh: --rounds wants a number from 1 to 10" >&2; exit 2; }
        ROUNDS=$2; shift 2 ;;
    --build)
        [ $# -ge 2 ] || { echo "peers.sh: --build wants a directory" >&2; exit 2; }
        BUILD=$2; shift 2 ;;
    *) echo "peers.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
    esac
done

cd "$(dirname "$0")/.." || exit 1
WORK=$(mktemp -d /tmp/qir-peers.XXXXXX)
CHILDREN=()
cleanup() {
    for pid in "${CHILDREN[@]}"; do kill "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'echo "peers.sh: interrupted; nothing was summarised" >&2; exit 130' INT TERM

CONTROL_IP=127.0.0.2
DATA_IP=127.0.0.3
WIDTH=1920
HEIGHT=1080
FRAME_BYTES=$((WIDTH * HEIGHT * 3))

# Programs of this tree, built when missing.
PROGRAMS=(bench/bench_pipeline bench/unit_api_stream_benchmark bench/unit_client_benchmark bin/qir-replay
    bin/qir-unit-sim bin/qir-gen bench/bench_image_converter)
TARGETS=()
for p in "${PROGRAMS[@]}"; do [ -x "$BUILD/$p" ] || TARGETS+=("$(basename "$p")"); done
if [ ${#TARGETS[@]} -gt 0 ]; then
    echo "building ${TARGETS[*]} in $BUILD"
    cmake --build "$BUILD" --target "${TARGETS[@]}" > "$WORK/build.log" 2>&1 || {
        echo "peers.sh: the build failed (see $BUILD); configure it first: cmake -S . -B $BUILD -G Ninja" >&2
        tail -20 "$WORK/build.log" >&2; exit 1; }
fi

# GStreamer from Debian when missing (benchmarks only).
if ! command -v gst-launch-1.0 > /dev/null || ! gst-inspect-1.0 rtpvrawpay > /dev/null 2>&1; then
    echo "installing GStreamer from Debian (gstreamer1.0-tools, -plugins-base, -plugins-good)"
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends gstreamer1.0-tools gstreamer1.0-plugins-base \
            gstreamer1.0-plugins-good > "$WORK/apt.log" 2>&1
    else
        sudo apt-get install -y --no-install-recommends gstreamer1.0-tools gstreamer1.0-plugins-base \
            gstreamer1.0-plugins-good > "$WORK/apt.log" 2>&1
    fi || { echo "peers.sh: GStreamer could not be installed; it is the reference, so nothing is measured" >&2
        tail -5 "$WORK/apt.log" >&2; exit 1; }
fi
HAVE_FFMPEG=0
command -v ffmpeg > /dev/null && HAVE_FFMPEG=1

cc -O2 -Wall -Wextra -Werror -o "$WORK/udp_drain" bench/peers/UdpDrain.c || exit 1
# One frame of noise for the peers; a directory of such frames for qir-replay.
head -c "$FRAME_BYTES" /dev/urandom > "$WORK/frame.rgb"
"$BUILD/bin/qir-gen" ppm -o "$WORK/frames" --width $WIDTH --height $HEIGHT --frames 30 --bpp 24 \
    --pattern Noise > /dev/null || exit 1

# Results: one line "PATH FPS" per measurement.
RESULTS="$WORK/results"
: > "$RESULTS"
record() {
    if [ -z "$2" ]; then fail "$1: no rate measured"; return; fi
    echo "$1 $2" >> "$RESULTS"
    echo "  $1: $2 frames/s${3:+ ($3)}"
}
fail() { echo "peers.sh: $1" >&2; FAILED=1; }
FAILED=0
PORT=47000

# drain_start: starts the draining receiver on DATA_IP:PORT and waits until it is bound.
drain_start() {
    PORT=$((PORT + 1))
    "$WORK/udp_drain" "$DATA_IP" "$PORT" 500 > "$WORK/drain.out" 2> "$WORK/drain.err" &
    DRAIN=$!
    CHILDREN+=("$DRAIN")
    for _ in $(seq 100); do grep -q ready "$WORK/drain.err" && return 0; sleep 0.05; done
    fail "the draining receiver did not start: $(cat "$WORK/drain.err")"
    return 1
}
# drain_rate NAME FRAMES: waits for the receiver (it ends 0.5 s after the
# last datagram) and records FRAMES over its first-to-last span.
drain_rate() {
    wait "$DRAIN"
    local line; line=$(cat "$WORK/drain.out")
    local seconds bytes
    seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<< "$line")
    bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<< "$line")
    if [ -z "$seconds" ] || [ "$bytes" = 0 ]; then fail "$1: nothing arrived"; return; fi
    record "$1" "$(python3 -c "print(round($2 / $seconds, 1))")" \
        "received $(python3 -c "print(round(100 * $bytes / ($2 * $FRAME_BYTES), 1))") % of the bytes sent"
}

run_gst() { # NAME MTU FRAMES
    drain_start || return
    # videotestsrc fills each buffer with one colour (a memset), the cheapest source it has.
    gst-launch-1.0 -q videotestsrc num-buffers="$3" pattern=black ! \
        "video/x-raw,format=RGB,width=$WIDTH,height=$HEIGHT,framerate=0/1" ! rtpvrawpay mtu="$2" ! \
        udpsink host=$DATA_IP port=$PORT sync=false async=false > "$WORK/gst.log" 2>&1 ||
        { fail "$1: gst-launch-1.0 failed: $(tail -2 "$WORK/gst.log")"; kill "$DRAIN"; return; }
    drain_rate "$1" "$3"
}

run_ffmpeg() { # NAME PKT_SIZE FRAMES
    drain_start || return
    ffmpeg -hide_banner -loglevel error -nostdin -stream_loop -1 -f rawvideo -pix_fmt rgb24 -s ${WIDTH}x${HEIGHT} \
        -i "$WORK/frame.rgb" -frames:v "$3" -c:v rawvideo -f rtp "rtp://$DATA_IP:$PORT?pkt_size=$2" \
        > "$WORK/ffmpeg.log" 2>&1 || { fail "$1: ffmpeg failed: $(tail -2 "$WORK/ffmpeg.log")"; kill "$DRAIN"; return; }
    drain_rate "$1" "$3"
}

# bench_pipeline: a plain sendto loop of 5784-byte datagrams and the core's
# batched send into a receiver with UDP receive offload (sender frames/s).
run_pipeline() {
    "$BUILD/bench/bench_pipeline" --frames 100 --seconds 5 > "$WORK/pipeline.out" 2>&1 ||
        { fail "bench_pipeline failed: $(tail -2 "$WORK/pipeline.out")"; return; }
    local plain batched
    plain=$(grep '^plain sendto loop' "$WORK/pipeline.out" | sed -n 's/.*sender *\([0-9.]*\) frames\/s.*/\1/p')
    batched=$(grep '^library, batched' "$WORK/pipeline.out" | sed -n 's/.*sender *\([0-9.]*\) frames\/s.*/\1/p')
    record sendto_loop "$plain" "bench_pipeline, 5784-byte datagrams"
    record core_batched_gro "$batched" "bench_pipeline, receiver with UDP GRO"
}

# unit_api_stream_benchmark: the C API one call per line and batched, at
# 8948 and at 1440 (the equal cut within a 1500-byte MTU); medians of its
# own five rounds, from its JSON output.
run_c_api() {
    "$BUILD/bench/unit_api_stream_benchmark" --benchmark_filter='^(perline|batched)/(1440|8948)/' \
        --benchmark_out="$WORK/c_api.json" --benchmark_out_format=json \
        > "$WORK/c_api.out" 2>&1 || { fail "unit_api_stream_benchmark failed: $(tail -3 "$WORK/c_api.out")"; return; }
    python3 - "$WORK/c_api.json" << 'EOF' > "$WORK/c_api.rates" || { fail "unit_api_stream_benchmark: no rates"; return; }
import json, statistics, sys
rates = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if "items_per_second" in b:
        rates.setdefault("/".join(b["run_name"].split("/")[:2]), []).append(b["items_per_second"])
for name in ("perline/8948", "batched/8948", "perline/1440", "batched/1440"):
    print("c_api_" + name.replace("/", "_"), round(statistics.median(rates[name]), 1))
EOF
    while read -r name fps; do record "$name" "$fps" "unit_api_stream_benchmark"; done < "$WORK/c_api.rates"
}

# unit_client_benchmark: VxQirUnitClient in a graph (median of its five rounds).
run_component() {
    "$BUILD/bench/unit_client_benchmark" 40 > "$WORK/component.out" 2>&1 ||
        { fail "unit_client_benchmark failed: $(tail -2 "$WORK/component.out")"; return; }
    record component "$(sed -n 's/^VxQirUnitClient: median *\([0-9.]*\) frames\/s.*/\1/p' "$WORK/component.out")" \
        "unit_client_benchmark"
}

# bench_image_converter: the raw converter against memcpy; every round's
# ratio (YUV 4:2:2 into 24-bit RGB, the conversion that is not a copy) is
# kept, the target being on the lowest.
CONVERTER_ROUNDS="$WORK/converter_rounds"
: > "$CONVERTER_ROUNDS"
run_converter() {
    "$BUILD/bench/bench_image_converter" --benchmark_out="$WORK/converter.json" --benchmark_out_format=json \
        > "$WORK/converter.out" 2>&1 || { fail "bench_image_converter failed: $(tail -3 "$WORK/converter.out")"; return; }
    python3 - "$WORK/converter.json" << 'EOF_PY' >> "$CONVERTER_ROUNDS" || { fail "bench_image_converter: no rates"; return; }
import json, sys
rates = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "aggregate" and b["name"].split("/")[1] == "yuv422_rgb24":
        rates.setdefault(b["name"].split("/")[0], []).append(b["bytes_per_second"])
for convert, copy in zip(rates["convert"], rates["memcpy"]):
    print(round(convert / copy, 3))
EOF_PY
    echo "  converter yuv422_rgb24 / memcpy, its rounds: $(tail -5 "$CONVERTER_ROUNDS" | tr '\n' ' ')"
}

# qir-replay --rate max into a separate qir-unit-sim (30 frames, ten times
# over: 300 frames, so that the unit client's one-time start, which the
# replay's rate includes, weighs little; see bench/README.md).
run_replay() {
    rm -f "$WORK/ready"
    "$BUILD/bin/qir-unit-sim" --control-ip $CONTROL_IP --data-ip $DATA_IP --ready-file "$WORK/ready" --no-live \
        --duration 120 > "$WORK/sim.out" 2>&1 &
    local sim=$!
    CHILDREN+=("$sim")
    for _ in $(seq 100); do [ -s "$WORK/ready" ] && break; sleep 0.05; done
    local control data
    control=$(sed -n 's/.*control_port=\([0-9]*\).*/\1/p' "$WORK/ready" | head -1)
    data=$(sed -n 's/.*data_base_port=\([0-9]*\).*/\1/p' "$WORK/ready" | head -1)
    if [ -z "$control" ] || [ -z "$data" ]; then fail "qir-unit-sim did not start"; kill "$sim"; return; fi
    local before; before=$(awk '{print $14 + $15}' /proc/$sim/stat)
    local t0; t0=$(date +%s.%N)
    "$BUILD/bin/qir-replay" --rate max --loop 10 --unit $CONTROL_IP:"$control" --data $DATA_IP:"$data" \
        --summary-json "$WORK/replay.json" "$WORK/frames" > "$WORK/replay.out" 2>&1
    local rc=$?
    local after; after=$(awk '{print $14 + $15}' /proc/$sim/stat)
    local t1; t1=$(date +%s.%N)
    kill -INT "$sim"; wait "$sim"
    [ $rc = 0 ] || { fail "qir-replay exit $rc: $(tail -2 "$WORK/replay.out")"; return; }
    record replay_into_unit_sim \
        "$(python3 -c "import json; print(round(json.load(open('$WORK/replay.json'))['channels'][0]['framesPerSecond'], 1))")" \
        "qir-unit-sim used $(python3 -c "print(round(($after - $before) / $(getconf CLK_TCK) / ($t1 - $t0), 2))") of a core"
}

PATHS=(gst9000 gst1500 ffmpeg pipeline c_api component replay converter)
run_path() {
    case "$1" in
    gst9000) run_gst gst_mtu9000 9000 150 ;;
    gst1500) run_gst gst_mtu1500 1500 50 ;;
    ffmpeg)
        if [ $HAVE_FFMPEG = 1 ]; then run_ffmpeg ffmpeg_rtp_9000 8972 100; else echo "  ffmpeg: not installed, skipped"; fi ;;
    pipeline) run_pipeline ;;
    c_api) run_c_api ;;
    component) run_component ;;
    replay) run_replay ;;
    converter) run_converter ;;
    esac
}

echo "1920x1080 RGB frames ($FRAME_BYTES bytes, 5760-byte lines) on loopback, $ROUNDS rounds"
for round in $(seq "$ROUNDS"); do
    echo "round $round"
    order=("${PATHS[@]}")
    if [ $((round % 2)) = 0 ]; then
        order=(); for ((i = ${#PATHS[@]} - 1; i >= 0; i--)); do order+=("${PATHS[$i]}"); done
    fi
    for p in "${order[@]}"; do run_path "$p"; done
done

python3 - "$RESULTS" "$CONVERTER_ROUNDS" << 'EOF'
import statistics, sys
rates = {}
for line in open(sys.argv[1]):
    name, fps = line.split()
    if fps:
        rates.setdefault(name, []).append(float(fps))
med = {name: statistics.median(v) for name, v in rates.items()}
g9, g15 = med.get("gst_mtu9000"), med.get("gst_mtu1500")
rows = [
    ("gst_mtu9000", "GStreamer rtpvrawpay ! udpsink, mtu 9000"),
    ("gst_mtu1500", "GStreamer rtpvrawpay ! udpsink, mtu 1500"),
    ("ffmpeg_rtp_9000", "ffmpeg -f rtp raw video, pkt_size 8972"),
    ("sendto_loop", "plain sendto loop, 5784-byte datagrams"),
    ("c_api_perline_8948", "C API, VXQIR_ReplayStreamData per line, 8948"),
    ("c_api_batched_8948", "C API, VXQIR_ReplayStreamBlocks per frame, 8948"),
    ("c_api_perline_1440", "C API per line, 1440 (equal cut, MTU 1500)"),
    ("c_api_batched_1440", "C API batched, 1440 (equal cut, MTU 1500)"),
    ("component", "VxQirUnitClient (unit_client_benchmark)"),
    ("core_batched_gro", "core batched send, GRO receiver (bench_pipeline)"),
    ("replay_into_unit_sim", "qir-replay --rate max into qir-unit-sim"),
]
print("\nmedians over the rounds (frames/s) and ratios against GStreamer mtu 9000 / mtu 1500")
print("%-50s %9s %8s %8s  %s" % ("path", "frames/s", "/gst9000", "/gst1500", "rounds"))
for key, text in rows:
    if key not in med:
        continue
    r9 = "%.2f" % (med[key] / g9) if g9 else "-"
    r15 = "%.2f" % (med[key] / g15) if g15 else "-"
    print("%-50s %9.1f %8s %8s  %s" % (text, med[key], r9, r15, " ".join("%.1f" % v for v in rates[key])))
def target(text, key, against, factor):
    if key in med and against:
        ratio = med[key] / against
        print("target: %-60s %.2f (%s)" % (text, ratio, "met" if ratio >= factor else "NOT met"))
print()
target("C API batched >= 2x GStreamer at mtu 9000:", "c_api_batched_8948", g9, 2)
target("C API batched (1440, equal datagrams) >= 4x GStreamer at mtu 1500:", "c_api_batched_1440", g15, 4)
target("component path into a GRO receiver >= 4x GStreamer at mtu 9000:", "component", g9, 4)
target("core batched send into a GRO receiver >= 4x GStreamer at mtu 9000:", "core_batched_gro", g9, 4)
target("qir-replay --rate max into qir-unit-sim >= 1.5x GStreamer at mtu 9000:", "replay_into_unit_sim", g9, 1.5)
converter = [float(line) for line in open(sys.argv[2]) if line.strip()]
if converter:
    print("target: %-60s %.2f (%s; rounds %s)" % ("raw converter >= 0.6 of memcpy in every round (lowest):", min(converter),
          "met" if min(converter) >= 0.6 else "NOT met", " ".join("%.2f" % r for r in converter)))
EOF
[ $FAILED = 0 ] || exit 1
exit 0
