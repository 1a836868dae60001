#!/bin/sh
# The Debian package as a user gets it: made by cpack from the build tree,
# unpacked into a scratch folder (dpkg-deb -x, nothing installed on the
# machine), the C example built against the unpacked header and library
# once with find_package(vxqir) and once with pkg-config, and both run
# against the unpacked qir-unit-sim on loopback.
#
#   deb_package_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

echo "== cpack"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack could not make the package"; }
deb=$(ls "$scratch"/cpack/qir-varnel_*.deb)
dpkg-deb -f "$deb" Depends
dpkg-deb -f "$deb" Depends | grep -q "libc6 (>=" || fail "the package's dependencies were not computed"
# The library's reachability probe runs ping.
dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qx " *iputils-ping" || fail "the package does not depend on iputils-ping"
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root/usr
for file in include/VXQIRApi.h include/VXQIRApiProgress.h include/VXQIRApiBatch.h lib/pkgconfig/vxqir.pc lib/cmake/vxqir/vxqirConfig.cmake bin/pck-host \
            bin/qir-unit-sim lib/qir-varnel/tavrik_qir_varnel.pck share/doc/qir-varnel/README.md \
            share/doc/qir-varnel/README.qir-unit-sim.md share/doc/qir-varnel/README.qir-records.md \
            share/doc/qir-varnel/README.unit-client.md share/doc/qir-varnel/README.image-converter.md; do
    [ -e "$root/$file" ] || fail "the package has no $file"
done
example=$root/share/doc/qir-varnel/examples/stream_frames.c

echo "== the C example with pkg-config"
flags=$(PKG_CONFIG_PATH="$root/lib/pkgconfig" PKG_CONFIG_LIBDIR="$root/lib/pkgconfig" pkg-config --cflags --libs vxqir)
echo "pkg-config: $flags"
cc -std=c11 -o "$scratch/example-pkg-config" "$example" $flags || fail "the example did not build with pkg-config"

echo "== the C example with find_package"
mkdir -p "$scratch/project"
cat >"$scratch/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(example C)
find_package(vxqir 3 REQUIRED)
add_executable(example-find-package "$example")
target_link_libraries(example-find-package PRIVATE vxqir::vxqir)
CMAKE
cmake -S "$scratch/project" -B "$scratch/project/build" -DCMAKE_PREFIX_PATH="$root" \
    -DCMAKE_BUILD_TYPE=Release >"$scratch/project.log" 2>&1 &&
    cmake --build "$scratch/project/build" >>"$scratch/project.log" 2>&1 ||
    { cat "$scratch/project.log"; fail "the example did not build with find_package(vxqir)"; }
cp "$scratch/project/build/example-find-package" "$scratch/"

echo "== both against the unpacked qir-unit-sim on loopback"
"$root/bin/qir-unit-sim" --control-ip 127.0.0.2 --data-ip 127.0.0.3 --ready-file "$scratch/ready" \
    --no-live >"$scratch/unit.out" 2>"$scratch/unit.err" &
sim_pid=$!
tries=0
while [ ! -s "$scratch/ready" ] && [ "$tries" -lt 100 ]; do
    kill -0 "$sim_pid" 2>/dev/null || { cat "$scratch/unit.err"; fail "the emulator ended before it was ready"; }
    sleep 0.1
    tries=$((tries + 1))
done
[ -s "$scratch/ready" ] || fail "the emulator was not ready after 10 s"
control_port=$(sed -n 's/^control_port=//p' "$scratch/ready")
data_port=$(sed -n 's/^data_base_port=//p' "$scratch/ready")
for program in example-pkg-config example-find-package; do
    LD_LIBRARY_PATH="$root/lib" ldd "$scratch/$program" | grep -q "$root/lib/libvxqir.so.3" ||
        fail "$program does not use the unpacked libvxqir.so.3"
    LD_LIBRARY_PATH="$root/lib" timeout 60 "$scratch/$program" --control-ip 127.0.0.2 \
        --control-port "$control_port" --data-ip 127.0.0.3 --data-port "$data_port" --local-ip 127.0.0.1 \
        --local-port 0 --channel 0 --frames 3 --width 64 --height 16 >"$scratch/$program.out" 2>&1 ||
        { cat "$scratch/$program.out"; fail "$program could not stream to the emulator"; }
    grep "^frames_sent=3 " "$scratch/$program.out" || fail "$program did not send its 3 frames"
done
kill -TERM "$sim_pid"
wait "$sim_pid" || { cat "$scratch/unit.err"; fail "the emulator failed"; }
sim_pid=
grep "^channel=0 " "$scratch/unit.out" || true
echo "deb package OK"
