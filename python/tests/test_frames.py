"""Frames and lines sent from Python arrive complete at the emulated unit."""

from __future__ import annotations

import time

import numpy as np
import pytest

import qir
from conftest import fnv1a64

WIDTH = 1000
HEIGHT = 48


def pattern(seed: int, shape=(HEIGHT, 2 * WIDTH), dtype=np.uint8) -> np.ndarray:
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, size=shape, dtype=np.uint8).view(dtype).reshape(shape[0], -1)


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda: pattern(1), id="uint8 rows"),
        pytest.param(lambda: pattern(2).view(np.uint16), id="uint16 rows"),
        pytest.param(lambda: pattern(3).reshape(HEIGHT, WIDTH, 2), id="three dimensions"),
        pytest.param(lambda: pattern(4).reshape(-1), id="flat array"),
        pytest.param(lambda: bytes(pattern(5)), id="bytes"),
        pytest.param(lambda: memoryview(bytearray(pattern(6))), id="memoryview"),
    ],
)
def test_a_frame_arrives_complete_with_the_checksum_of_its_bytes(emulated, channel, make):
    frame = make()
    channel.init(WIDTH, HEIGHT)
    channel.send_frame(frame, frame=7, timestamp=1_000_000)

    assert emulated.wait_for_frames(1)
    summary = emulated.summary()[0]
    assert (summary.frames_complete, summary.frames_incomplete) == (1, 0)
    assert summary.last_checksum == fnv1a64(bytes(memoryview(frame).cast("B")))
    assert summary.last_checksum_frame == 7
    assert summary.bad_datagrams == 0


def test_frames_sent_line_by_line_arrive_complete_in_order(emulated, channel):
    channel.init(WIDTH, HEIGHT)
    frames = [pattern(10 + n) for n in range(3)]
    for n, frame in enumerate(frames):
        for line in range(HEIGHT):
            channel.send_line(frame[line], frame=n, line=line, timestamp=n * 33_000_000, stream=2)

    assert emulated.wait_for_frames(3)
    summary = emulated.summary()[0]
    assert (summary.frames_complete, summary.frames_incomplete) == (3, 0)
    assert summary.last_checksum == fnv1a64(frames[-1].tobytes())
    assert summary.last_checksum_frame == 2


def test_many_frames_pass_the_flow_control_of_a_small_fifo(emulated, channel):
    # 64 FIFO entries and 48 lines a frame: the sender must wait for the
    # unit to play entries, frame after frame, under the same call.
    channel.init(WIDTH, HEIGHT)
    frame = pattern(20)
    count = 20
    for n in range(count):
        channel.send_frame(frame, frame=n, timestamp=n * 1_000_000)

    assert emulated.wait_for_frames(count)
    summary = emulated.summary()[0]
    assert (summary.frames_complete, summary.overflows) == (count, 0)
    progress = channel.progress()
    assert progress.frames_sent == count


def test_the_status_and_the_frame_size_come_from_the_unit(emulated, channel):
    channel.init(WIDTH, HEIGHT)
    assert channel.frame_size == (WIDTH, HEIGHT)
    channel.send_frame(pattern(30), frame=0)
    assert emulated.wait_for_frames(1)

    # The acknowledgement travels with the unit's next periodic status.
    deadline = time.monotonic() + 10
    while channel.progress().frames_acknowledged < 1 and time.monotonic() < deadline:
        time.sleep(0.01)
    status = channel.status
    assert isinstance(status, qir.Status)
    assert status.enabled and not status.loss
    assert status.free_fifo_entries <= 64
    assert status.rx_packet == channel.progress().datagrams_sent
    assert status.unit_time_ns > 0
    with pytest.raises(AttributeError):
        status.enabled = False  # frozen


def test_replay_times_reset_and_clear_reach_the_unit(channel):
    channel.init(WIDTH, HEIGHT)
    channel.set_replay_times(start=5_000_000, stop=9_000_000, offset=1_000)
    channel.set_replay_times(offset=2_000)
    channel.set_replay_times(stop=10_000_000)
    channel.reset()
    channel.clear_status_flags()


def test_a_closed_channel_can_be_registered_again(unit):
    with unit.channel(1) as first:
        first.init(WIDTH, HEIGHT)
    assert first.closed
    with unit.channel(1) as again:
        again.init(WIDTH, HEIGHT)
