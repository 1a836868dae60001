"""Fixtures of the qir tests: an emulated unit on loopback and a unit and a
channel on it. Every address is loopback."""

from __future__ import annotations

import pytest

import qir


def fnv1a64(data: bytes) -> str:
    """The frame checksum (64-bit FNV-1a) as 16 lower-case hex digits."""
    h = 0xCBF29CE484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


@pytest.fixture
def emulated():
    with qir.EmulatedUnit(channels=2, fifo_entries=64) as unit:
        yield unit


@pytest.fixture
def unit(emulated):
    # A payload below one line's length, so lines are cut into datagrams.
    return qir.Unit(control=emulated.control, data=emulated.data, max_payload=1448)


@pytest.fixture
def channel(unit):
    with unit.channel(0) as ch:
        yield ch
