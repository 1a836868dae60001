#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of
# it (.clang-format at the top of the tree), and names the files.
#
#   scripts/check-format.sh          check every tracked .c/.h/.cpp file
#   scripts/check-format.sh --fix    reformat them in place
set -euo pipefail
usage() {
  cat <<'TEXT'
Usage: scripts/check-format.sh [--fix] [-h|--help]
Checks that every tracked .c, .h and .cpp file is formatted as .clang-format
says; lists the files that are not and exits 1.
  --fix       reformat those files in place instead (exit 0)
Needs clang-format (Debian package clang-format, version 14).
Exit status: 0 all formatted, 1 some are not, 2 usage error.
TEXT
}
fix=false
case "${1-}" in
  -h|--help) usage; exit 0 ;;
  --fix) fix=true ;;
  "") ;;
  *) echo "check-format.sh: unknown argument \"$1\" (see --help)" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
command -v clang-format > /dev/null || {
  echo "check-format.sh: clang-format is not installed (apt-get install clang-format)" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp')
if $fix; then
  printf '%s\0' "${files[@]}" | xargs -0 clang-format -i
  exit 0
fi
# Files go to clang-format in batches, as many batches at a time as there
# are cores: one process per file spent a minute starting processes. Each
# place that needs formatting is reported as "FILE:LINE:COL: error: ...".
status=0
report=$(printf '%s\0' "${files[@]}" |
  xargs -0 -n 64 -P "$(nproc)" clang-format --dry-run --Werror 2>&1 > /dev/null) || status=$?
mapfile -t unformatted < <(printf '%s\n' "$report" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ $status -ne 0 ] && [ ${#unformatted[@]} -eq 0 ]; then
  # clang-format failed without naming a place: say what it said.
  printf '%s\n' "$report" >&2
  echo "check-format.sh: clang-format failed (status $status)" >&2
  exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "check-format.sh: ${#unformatted[@]} file(s) not formatted (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "check-format.sh: ${#files[@]} files formatted"
