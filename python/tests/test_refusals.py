"""send_frame and send_line refuse buffers they cannot send as they are,
before anything is sent."""

from __future__ import annotations

import time

import numpy as np
import pytest

import qir

HEIGHT = 8
WIDTH = 32


@pytest.mark.parametrize(
    "make, message",
    [
        pytest.param(lambda: np.zeros((HEIGHT, 2 * WIDTH), np.uint8)[:, ::2], "C-contiguous", id="every other column"),
        pytest.param(lambda: np.zeros((2 * WIDTH, HEIGHT), np.uint8).T, "C-contiguous", id="transposed"),
        pytest.param(lambda: np.zeros((HEIGHT, WIDTH), np.uint8, order="F"), "C-contiguous", id="Fortran order"),
        pytest.param(lambda: np.zeros((HEIGHT + 1, WIDTH), np.uint8), "first dimension", id="one row too many"),
        pytest.param(lambda: np.zeros((HEIGHT // 2, 2 * WIDTH), np.uint8), "first dimension", id="rows of two lines"),
        pytest.param(lambda: np.zeros(HEIGHT * WIDTH + 1, np.uint8), "equal lines", id="flat, one byte too many"),
        pytest.param(lambda: b"", "empty", id="empty"),
        pytest.param(lambda: 12345, "C-contiguous", id="not a buffer"),
        pytest.param(lambda: np.zeros((HEIGHT, 65536), np.uint8), "65535", id="lines too long"),
    ],
)
def test_send_frame_refuses_a_buffer_before_sending(emulated, channel, make, message):
    channel.init(WIDTH, HEIGHT)
    with pytest.raises(ValueError, match=message):
        channel.send_frame(make(), frame=0)
    assert channel.progress().datagrams_sent == 0
    assert emulated.summary()[0].datagrams == 0


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"frame": 65536}, "frame 65536"),
        ({"frame": -1}, "frame -1"),
    ],
)
def test_send_frame_refuses_numbers_out_of_range(channel, kwargs, message):
    channel.init(WIDTH, HEIGHT)
    with pytest.raises(ValueError, match=message):
        channel.send_frame(np.zeros((HEIGHT, WIDTH), np.uint8), **kwargs)
    assert channel.progress().datagrams_sent == 0


@pytest.mark.parametrize(
    "data, kwargs, message",
    [
        (b"x" * 65536, {}, "65535"),
        (np.zeros((4, 8), np.uint8)[:, ::2], {}, "C-contiguous"),
        (b"12345678", {"line": 65536}, "line 65536"),
        (b"12345678", {"stream": 256}, "stream 256"),
    ],
)
def test_send_line_refuses_what_a_block_cannot_carry(channel, data, kwargs, message):
    channel.init(WIDTH, HEIGHT)
    args = {"frame": 0, "line": 0, **kwargs}
    with pytest.raises(ValueError, match=message):
        channel.send_line(data, **args)
    assert channel.progress().datagrams_sent == 0


def test_send_frame_needs_the_height_from_init(channel):
    with pytest.raises(ValueError, match="init"):
        channel.send_frame(np.zeros((HEIGHT, WIDTH), np.uint8), frame=0)


def test_the_emulated_unit_serves_only_loopback():
    with pytest.raises(ValueError, match="loopback"):
        qir.EmulatedUnit(control_ip="10.0.0.1")
    with pytest.raises(ValueError, match="playout"):
        qir.EmulatedUnit(playout="sometimes")


def test_a_second_thread_cannot_send_on_a_channel_while_a_send_waits(emulated, channel):
    import threading

    emulated.freeze_fifo(0)
    channel.init(WIDTH, 64)
    frame = np.zeros((64, WIDTH), np.uint8)
    outcome = []

    def send():
        try:
            channel.send_frame(frame, frame=0)
        except qir.QirError as error:
            outcome.append(error.code)

    # The first send fills the held FIFO and waits (2 s before Timeout).
    first = threading.Thread(target=send)
    first.start()
    deadline = time.monotonic() + 10
    while channel.progress().datagrams_sent == 0 and time.monotonic() < deadline:
        time.sleep(0.01)
    with pytest.raises(RuntimeError, match="another thread is sending"):
        channel.send_line(b"12345678", frame=1, line=0)
    emulated.release_fifo(0)
    first.join(timeout=30)
    assert not first.is_alive() and outcome == []
