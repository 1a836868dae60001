#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and runs them one after the
# other. Not part of the test run.
#
#   scripts/bench.sh [BENCHMARK_PROGRAM ...]   default: every program in build-bench/bench/
set -euo pipefail
usage() {
  cat <<'TEXT'
Usage: scripts/bench.sh [-h|--help] [BENCHMARK_PROGRAM ...]
Builds the benchmarks in build-bench/ (Release, tests off) and runs the named
programs of build-bench/bench/ one after the other (default: all of them,
in name order). Not part of the test run.
Exit status: 0 all ran; 2 usage error or an unknown program; else the
failing step's status.
TEXT
}
for arg in "$@"; do
  case "$arg" in
    -h|--help) usage; exit 0 ;;
    -*) echo "bench.sh: unknown option \"$arg\" (see --help)" >&2; exit 2 ;;
    */*|"") echo "bench.sh: \"$arg\" is not a benchmark program name (see --help)" >&2; exit 2 ;;
  esac
done
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIR_BUILD_TESTS=OFF > build-bench.configure.log
cmake --build build-bench
programs=("$@")
mapfile -t known < <(find build-bench/bench -maxdepth 1 -type f -executable -printf '%f\n' | sort)
if [ ${#programs[@]} -eq 0 ]; then
  programs=("${known[@]}")
fi
for p in "${programs[@]}"; do
  if [ ! -x "build-bench/bench/$p" ]; then
    echo "bench.sh: no benchmark program \"$p\"; there are: ${known[*]}" >&2
    exit 2
  fi
done
for p in "${programs[@]}"; do
  echo "== $p =="
  ./build-bench/bench/"$p"
done
