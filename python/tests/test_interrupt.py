"""Ctrl-C ends a send that waits for the unit."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import time

# The child fills a held FIFO, so its send waits (for a minute, were it not
# interrupted); a watcher thread reports once the send is blocked.
CHILD = textwrap.dedent(
    """
    import sys, threading, numpy, qir
    with qir.EmulatedUnit(fifo_entries=16) as emulated:
        emulated.freeze_fifo()
        unit = qir.Unit(control=emulated.control, data=emulated.data, timeout_stream_ms=60000)
        with unit.channel(0) as channel:
            channel.init(16, 64)

            def watch():
                while channel.progress().datagrams_sent < 10:
                    threading.Event().wait(0.01)
                print("blocked", flush=True)

            threading.Thread(target=watch, daemon=True).start()
            try:
                channel.send_frame(numpy.zeros((64, 16), numpy.uint8), frame=0)
            except KeyboardInterrupt:
                print("interrupted after", channel.progress().datagrams_sent, flush=True)
                sys.exit(130)
    print("sent", flush=True)
    """
)


def test_sigint_ends_a_blocked_send_with_keyboard_interrupt():
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=dict(os.environ),
    )
    try:
        lines = []
        for line in child.stdout:
            lines.append(line.strip())
            if line.strip() == "blocked":
                break
        assert lines[-1:] == ["blocked"], (lines, child.stderr.read())
        interrupted_at = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        ended_after = time.monotonic() - interrupted_at
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 130, (out, err)
    assert out.startswith("interrupted after"), (out, err)
    # Far below the minute the send would otherwise wait; generous for a
    # loaded machine.
    assert ended_after < 20, ended_after
