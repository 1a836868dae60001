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
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQIR_FUZZ=ON -DQIR_SANITIZE=ON -DQIR_BUILD_BENCH=OFF > build-fuzz.configure.log
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cmake --build build-fuzz --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p')
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets found" >&2; exit 1; }
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
