#!/bin/sh
# Runs a command and prints its output followed by "exit status N", so that
# a test can match the program's message and its exit status in one pattern.
#   expect_exit.sh [--interrupt-after SECONDS] COMMAND [ARGUMENT...]
# With --interrupt-after, the command gets SIGINT after that many seconds
# (and SIGKILL 30 s later should it not end).
interrupt=""
if [ "$1" = "--interrupt-after" ]; then
    interrupt=$2
    shift 2
fi
if [ -z "$interrupt" ]; then
    "$@" 2>&1
    echo "exit status $?"
    exit 0
fi
"$@" >"${TMPDIR:-/tmp}/expect_exit.$$" 2>&1 &
pid=$!
sleep "$interrupt"
kill -INT "$pid"
# Watchdog: at most 30 s for the command to end after the interrupt.
tries=0
while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
kill -KILL "$pid" 2>/dev/null
wait "$pid"
status=$?
cat "${TMPDIR:-/tmp}/expect_exit.$$"
rm -f "${TMPDIR:-/tmp}/expect_exit.$$"
echo "exit status $status"
