"""A pytest suite that drives a QIR unit: here an emulated one on loopback.

Run it with the package on the path (after building, or after
`pip install build/python/dist/qir-*.whl`):

    PYTHONPATH=build/python python3 -m pytest examples/python/test_replay.py

On a rig, make the `unit` fixture return qir.Unit(control=..., data=...) of
the real unit instead, and give qir.replay its addresses (unit=..., data=...).
The replay test writes its recording with qir-gen (on PATH, or in
QIR_BIN_DIR).
"""

import os
import shutil
import subprocess

import numpy as np
import pytest

import qir

WIDTH, HEIGHT = 640, 48  # YUV 4:2:2: two bytes a pixel
FRAME_PERIOD_NS = 33_333_333


@pytest.fixture
def emulated():
    with qir.EmulatedUnit(channels=1, fifo_entries=2048, playout="timestamps") as unit:
        yield unit


@pytest.fixture
def unit(emulated):
    return qir.Unit(control=emulated.control, data=emulated.data)


def test_frames_are_delivered(emulated, unit):
    frames = [np.full((HEIGHT, 2 * WIDTH), n, dtype=np.uint8) for n in range(5)]
    with unit.channel(0) as channel:
        channel.init(WIDTH, HEIGHT)
        for n, frame in enumerate(frames):
            channel.send_frame(frame, frame=n, timestamp=n * FRAME_PERIOD_NS)

        assert emulated.wait_for_frames(len(frames))
        summary = emulated.summary()[0]
        assert summary.frames_complete == len(frames)
        assert summary.frames_incomplete == 0
        assert channel.progress().frames_sent == len(frames)


@pytest.fixture(scope="session")
def recording(tmp_path_factory):
    search = os.pathsep.join(filter(None, [os.environ.get("QIR_BIN_DIR"), os.environ.get("PATH")]))
    gen = shutil.which("qir-gen", path=search)
    if gen is None:
        pytest.skip("qir-gen is not on PATH")
    path = tmp_path_factory.mktemp("recordings") / "front.grab"
    subprocess.run([gen, "grabber", "--width", "320", "--height", "32", "--frames", "30", "--fps", "30", "-o", path],
                   check=True, capture_output=True)
    return path


def test_a_recording_is_delivered(recording):
    # Into the embedded emulated unit, which checks every frame against the
    # recording; as fast as the unit's flow control allows.
    summary = qir.replay(recording, rate="max", lead=0.2)
    assert summary.delivered, summary.failures
    assert summary.channels[0]["framesComplete"] == 30
