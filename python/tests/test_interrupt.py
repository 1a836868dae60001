"""Ctrl-C ends a send that waits for the unit."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

BIN = Path(os.environ.get("QIR_BIN_DIR", ""))

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


# The child's helper thread sends the SIGINT once the main thread is inside
# the replay's call (it releases the GIL there) and the replay has had a
# moment to begin sending.
REPLAY_CHILD = textwrap.dedent(
    """
    import os, signal, sys, threading, time, qir

    main = threading.main_thread().ident

    def interrupt():
        while True:
            frame = sys._current_frames().get(main)
            if frame is not None and frame.f_code.co_name == "replay" and frame.f_code.co_filename.endswith("_replay.py"):
                break
            time.sleep(0.01)
        time.sleep(0.5)
        os.kill(os.getpid(), signal.SIGINT)

    threading.Thread(target=interrupt, daemon=True).start()
    try:
        qir.replay(sys.argv[1], lead=0.2)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        sys.exit(130)
    print("delivered", flush=True)
    """
)


@pytest.mark.skipif(not (BIN / "qir-gen").is_file(), reason="qir-gen is not built (QIR_BIN_DIR)")
def test_sigint_stops_a_replay_and_raises_keyboard_interrupt(tmp_path):
    # Ten seconds of frames at their recorded times.
    recording = tmp_path / "long.grab"
    subprocess.run(
        [BIN / "qir-gen", "grabber", "--width", "64", "--height", "16", "--frames", "300", "--fps", "30",
         "-o", recording],
        check=True, capture_output=True, timeout=60,
    )
    child = subprocess.Popen(
        [sys.executable, "-c", REPLAY_CHILD, str(recording)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    try:
        out, err = child.communicate(timeout=30)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert (child.returncode, out.strip()) == (130, "interrupted"), (out, err)
