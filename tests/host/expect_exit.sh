#!/bin/sh
# Runs a command and prints its output followed by "exit status N", so that
# a test can match the program's message and its exit status in one pattern.
#   expect_exit.sh [--interrupt-when TEXT] COMMAND [ARGUMENT...]
# With --interrupt-when, the command gets SIGINT once its output contains
# TEXT (at most 30 s after it started), and SIGKILL should it not end within
# 30 s after that.
text=""
if [ "$1" = "--interrupt-when" ]; then
    text=$2
    shift 2
fi
if [ -z "$text" ]; then
    "$@" 2>&1
    echo "exit status $?"
    exit 0
fi
out=$(mktemp)
"$@" >"$out" 2>&1 &
pid=$!
tries=0
while ! grep -qF -- "$text" "$out" && kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
kill -INT "$pid" 2>/dev/null
tries=0
while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
kill -KILL "$pid" 2>/dev/null
wait "$pid"
status=$?
cat "$out"
rm -f "$out"
echo "exit status $status"
