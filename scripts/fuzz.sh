#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (plus ASan and UBSan) in
# build-fuzz/ and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET ...]
#
# Default: 60 seconds for every target in build-fuzz/fuzz/. Seeds come from
# fuzz/<folder>/corpus/<target>/ when present; new inputs are kept in
# build-fuzz/corpus/<target>/ and crashes in build-fuzz/crashes/.
set -euo pipefail
usage() {
  cat <<'TEXT'
Usage: scripts/fuzz.sh [-h|--help] [SECONDS_PER_TARGET] [TARGET ...]
Builds the fuzz targets with clang, libFuzzer, ASan and UBSan in build-fuzz/
and runs each for a bounded time.
  SECONDS_PER_TARGET  whole seconds, 1 to 86400 (default 60)
  TARGET              fuzz_... target names (default: every target)
Seeds come from fuzz/<folder>/corpus/<target>/; new inputs are kept in
build-fuzz/corpus/<target>/, crashes in build-fuzz/crashes/.
Exit status: 0 no target crashed; 2 usage error or an unknown target; else
the failing step's status.
TEXT
}
for arg in "$@"; do
  case "$arg" in
    -h|--help) usage; exit 0 ;;
    -*) echo "fuzz.sh: unknown option \"$arg\" (see --help)" >&2; exit 2 ;;
  esac
done
seconds=60
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  # More than six digits is out of range anyway, and would overflow below.
  if [ ${#1} -gt 6 ]; then
    echo "fuzz.sh: $1 seconds per target is out of range: 1 to 86400" >&2
    exit 2
  fi
  seconds=$((10#$1))
  shift
  if [ "$seconds" -lt 1 ] || [ "$seconds" -gt 86400 ]; then
    echo "fuzz.sh: $seconds seconds per target is out of range: 1 to 86400" >&2
    exit 2
  fi
fi
for t in "$@"; do
  if ! [[ "$t" =~ ^fuzz_[A-Za-z0-9_]+$ ]]; then
    echo "fuzz.sh: \"$t\" is neither a number of seconds nor a fuzz target name (fuzz_...); see --help" >&2
    exit 2
  fi
done
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQIR_FUZZ=ON -DQIR_SANITIZE=ON -DQIR_BUILD_BENCH=OFF > build-fuzz.configure.log
targets=("$@")
mapfile -t known < <(cmake --build build-fuzz --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p')
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${known[@]}")
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets found" >&2; exit 1; }
for t in "${targets[@]}"; do
  if ! printf '%s\n' "${known[@]}" | grep -qx "$t"; then
    echo "fuzz.sh: no fuzz target \"$t\"; there are: ${known[*]}" >&2
    exit 2
  fi
done
cmake --build build-fuzz --target "${targets[@]}"

mkdir -p build-fuzz/crashes
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  for seeds in fuzz/*/corpus/"$t"; do
    [ -d "$seeds" ] && cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  done
  echo "== $t: ${seconds}s =="
  setarch "$(uname -m)" -R ./build-fuzz/fuzz/"$t" -max_total_time="$seconds" \
    -artifact_prefix=build-fuzz/crashes/"$t"- -print_final_stats=1 "$work"
done
