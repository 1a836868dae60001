#!/usr/bin/env bash
# Builds the benchmarks (Release) in build-bench/ and runs them one after the
# other. Not part of the test run.
#
#   scripts/bench.sh [BENCHMARK_PROGRAM ...]   default: every program in build-bench/bench/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIR_BUILD_TESTS=OFF > build-bench.configure.log
cmake --build build-bench
programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  mapfile -t programs < <(find build-bench/bench -maxdepth 1 -type f -executable -printf '%f\n' | sort)
fi
for p in "${programs[@]}"; do
  echo "== $p =="
  ./build-bench/bench/"$p"
done
