#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds the C example
# against the installed header and library through pkg-config.
#   install_check.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
pc=$(find "$prefix" -name vxqir.pc)
[ -n "$pc" ] || { echo "vxqir.pc not installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")
# The C API headers are the library's public headers: nothing else of it
# is installed.
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./VXQIRApi.h ./VXQIRApiBatch.h ./VXQIRApiProgress.h " ] ||
  { echo "installed headers are not VXQIRApi.h, VXQIRApiBatch.h and VXQIRApiProgress.h: $headers" >&2; exit 1; }
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Werror -o "$prefix/example" "$source/examples/stream_frames.c" \
  $(pkg-config --cflags --libs vxqir)
# Runs from the installed library; a bad option is refused with status 2.
set +e
LD_LIBRARY_PATH=$(pkg-config --variable=libdir vxqir) "$prefix/example" --frames 0 2> "$prefix/err"
status=$?
set -e
[ "$status" -eq 2 ] || { echo "example exited with $status" >&2; cat "$prefix/err" >&2; exit 1; }
grep -q -- "--frames expects a number" "$prefix/err"
echo "installed library, header and pkg-config file work"
