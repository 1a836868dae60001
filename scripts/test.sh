#!/usr/bin/env bash
# Builds everything and runs every test:
#   0. the format check (scripts/check-format.sh);
#   1. AddressSanitizer + UndefinedBehaviorSanitizer build, all tests;
#   2. ThreadSanitizer build, the tests labelled "concurrency";
#   3. clang build of the fuzz targets (build-fuzz-check/): compiled and
#      linked, not run, so that scripts/fuzz.sh keeps building;
#   4. the normal build (build/): every program, package and benchmark, and
#      the tests a sanitizer build cannot show (end-to-end programs at the speed
#      of optimised code, the Python and Debian packages, the installed tree);
#      the rest ran in step 1. Its ctest summary is the last line.
# Safe to run again: builds are incremental.
#
#   scripts/test.sh [-h|--help]     takes no other arguments
set -euo pipefail
usage() {
  cat <<'TEXT'
Usage: scripts/test.sh [-h|--help]
Builds everything and runs every test, as CI does:
  0. scripts/check-format.sh: every C/C++ file formatted as .clang-format says;
  1. build-asan/: AddressSanitizer + UndefinedBehaviorSanitizer (Debug, -O0,
     unity build), all tests;
  2. build-tsan/: ThreadSanitizer (Debug, -O1, unity build), the tests
     labelled "concurrency";
  3. build-fuzz-check/: the fuzz targets built with clang and libFuzzer (-O0, no
     debug info), not run: scripts/fuzz.sh keeps building;
  4. build/: the normal build (RelWithDebInfo, unity build): every program,
     package and benchmark, and the tests a sanitizer build cannot show
     (end-to-end programs, the Python and Debian packages, the installed
     tree); the others ran in step 1. ctest's summary is the last line.
Installs missing Debian packages first (scripts/apt-packages.txt, as root).
Jobs: all cores (nproc) for building, twice as many for tests. No options besides -h/--help.
Exit status: 0 all passed, non-zero otherwise; 2 on a usage error.
TEXT
}
case "${1-}" in
  -h|--help) usage; exit 0 ;;
  "") ;;
  *) echo "test.sh: unexpected argument \"$1\"; it takes none (see --help)" >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "test.sh: unexpected arguments; it takes none (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== Format check =="
scripts/check-format.sh

jobs=$(nproc)
# Most tests wait on sockets, timers and the programs they start rather than
# compute: twice as many tests as cores keep the cores busy (a quarter less
# time for the ASan tests, a third for the ThreadSanitizer and the end-to-end
# ones, on two cores).
test_jobs=$((2 * jobs))
# The sanitizer and normal builds are unity builds: each target's sources
# are compiled a few to a file, so the headers they share (the standard
# library, GoogleTest, JSON, FFmpeg) are parsed once per file, not once per
# source. That takes about a third off their compile time. A plain
# "cmake -B build" still compiles every source on its own (so does the clang
# build of the fuzz targets here, for what they link), which shows a source
# that leans on the includes of the one before it.
configure() { # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"; return 1; }
}

# Sanitizer runtimes refuse to start when the address space layout is
# randomised more than they expect; run the sanitizer test programs with
# randomisation off for the process tree.
norandom() { if setarch "$(uname -m)" -R true 2>/dev/null; then setarch "$(uname -m)" -R "$@"; else "$@"; fi; }

echo "== ASan+UBSan build =="
mkdir -p build-asan
# Sanitizer builds are unoptimised debug builds (assertions on, line tables
# only): they compile about three times faster than optimised ones and the
# tests spend their time waiting on sockets, not computing.
configure build-asan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_C_FLAGS_DEBUG=-O0 -g1" \
  "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1" -DQIR_SANITIZE=ON -DQIR_BUILD_BENCH=OFF -DCMAKE_UNITY_BUILD=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  norandom ctest --test-dir build-asan --output-on-failure -j "$test_jobs"

echo "== ThreadSanitizer build (concurrency tests) =="
mkdir -p build-tsan
configure build-tsan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" \
  "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DQIR_TSAN=ON -DQIR_BUILD_BENCH=OFF -DCMAKE_UNITY_BUILD=ON
cmake --build build-tsan -j "$jobs" --target qir_concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  norandom ctest --test-dir build-tsan --output-on-failure -j "$test_jobs" -L concurrency

echo "== Fuzz targets with clang (built, not run) =="
# Only the fuzz targets and what they link, at -O0 without debug info and
# without sanitizers: it catches what clang alone refuses (its own warnings
# under -Werror, libFuzzer linking) at the least compile time. scripts/fuzz.sh
# builds the same targets with ASan and UBSan to run them.
mkdir -p build-fuzz-check
configure build-fuzz-check -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "-DCMAKE_C_FLAGS_RELEASE=-O0" "-DCMAKE_CXX_FLAGS_RELEASE=-O0" -DQIR_FUZZ=ON -DQIR_BUILD_BENCH=OFF
mapfile -t fuzz_targets < <(cmake --build build-fuzz-check --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p')
[ ${#fuzz_targets[@]} -gt 0 ] || { echo "test.sh: no fuzz targets in build-fuzz-check" >&2; exit 1; }
cmake --build build-fuzz-check -j "$jobs" --target "${fuzz_targets[@]}"

echo "== Normal build =="
mkdir -p build
# Every test ran under AddressSanitizer above; this build runs those whose
# outcome depends on optimised code or on what only it makes. A plain
# "cmake -B build" without this setting builds and runs every test.
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_TESTS_SCOPE=unsanitized -DCMAKE_UNITY_BUILD=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$test_jobs"
