"""Every result code of the library arrives as QirError with the library's
own text, from the calls that return it."""

from __future__ import annotations

import numpy as np
import pytest

import qir
from qir import ErrorCode

# The library's texts, word for word.
TEXTS = {
    ErrorCode.NoError: "No error",
    ErrorCode.InternalError: "Internal error",
    ErrorCode.ControlInterfaceNotAvailable: "Control interface not available",
    ErrorCode.DataInterfaceNotAvailable: "Data interface not available",
    ErrorCode.ChannelNotAvailable: "Channel not available",
    ErrorCode.InvalidChannelHandle: "Invalid channel handle",
    ErrorCode.InvalidChannelIndex: "Invalid channel index",
    ErrorCode.InvalidTiming: "Invalid timing",
    ErrorCode.InvalidPointer: "Invalid pointer",
    ErrorCode.ControlSocketError: "Error in control socket",
    ErrorCode.DataSocketError: "Error in data socket",
    ErrorCode.Timeout: "Timeout",
    ErrorCode.InvalidInterfaceConfig: "Invalid inputInterface configuration",
    ErrorCode.ChannelAlreadyRegistered: "Channel already registered",
    ErrorCode.DataNotAvailable: "Data not available",
    ErrorCode.PacketFragmentation: "Packet fragmentation, maxPayloadSize too big for MTU",
}


def test_every_code_has_a_text():
    assert set(TEXTS) == set(ErrorCode)


@pytest.mark.parametrize("code", list(ErrorCode), ids=lambda c: c.name)
def test_each_code_raises_qir_error_with_the_library_text(code):
    with pytest.raises(qir.QirError) as raised:
        qir._qir._raise_for_code(int(code))
    assert raised.value.code is code
    assert raised.value.text == TEXTS[code]
    assert raised.value.args == (int(code), TEXTS[code])
    assert TEXTS[code] in str(raised.value) and code.name in str(raised.value)


def test_an_unknown_code_keeps_its_number_and_the_library_text():
    with pytest.raises(qir.QirError) as raised:
        qir._qir._raise_for_code(99)
    assert raised.value.code == 99
    assert raised.value.text == "Invalid error code"


def expect(code, call, *args, **kwargs):
    with pytest.raises(qir.QirError) as raised:
        call(*args, **kwargs)
    assert raised.value.code is code, str(raised.value)
    assert raised.value.text == TEXTS[code]


@pytest.mark.parametrize("index", [-1, 256])
def test_a_channel_index_outside_0_to_255_is_refused(unit, index):
    expect(ErrorCode.InvalidChannelIndex, unit.channel, index)


def test_a_channel_registered_twice_is_refused(unit, channel):
    expect(ErrorCode.ChannelAlreadyRegistered, unit.channel, 0)


def test_a_closed_channel_answers_invalid_channel_handle(unit):
    ch = unit.channel(1)
    ch.close()
    expect(ErrorCode.InvalidChannelHandle, ch.init, 16, 16)
    expect(ErrorCode.InvalidChannelHandle, ch.send_line, b"12345678", frame=0, line=0)
    ch.close()  # a second close does nothing


def test_a_stop_before_the_start_is_invalid_timing(channel):
    channel.init(16, 16)
    expect(ErrorCode.InvalidTiming, channel.set_replay_times, start=2_000, stop=1_000)


def test_an_address_that_is_no_ip_is_an_invalid_configuration():
    unit = qir.Unit(control="127.0.0.256", data="127.0.0.3")
    expect(ErrorCode.InvalidInterfaceConfig, unit.channel, 0)
    expect(ErrorCode.InvalidInterfaceConfig, unit.available)


def test_the_status_before_the_first_one_is_data_not_available(channel):
    expect(ErrorCode.DataNotAvailable, lambda: channel.status)


def test_a_send_into_a_held_fifo_times_out(emulated):
    unit = qir.Unit(control=emulated.control, data=emulated.data, timeout_stream_ms=300)
    with unit.channel(0) as ch:
        ch.init(16, 64)
        emulated.freeze_fifo(0)
        expect(ErrorCode.Timeout, ch.send_frame, np.zeros((64, 16), np.uint8), frame=0)
        progress = ch.progress()
        assert (progress.frames_sent, 0 < progress.datagrams_sent < 64) == (0, True), progress
        assert progress.send_timeouts >= 1, progress  # a try per stream time-out until the send gives up


def test_a_channel_the_unit_does_not_serve_is_not_available(unit):
    # A two-channel unit answers for channel 2 that it has no such channel.
    with unit.channel(2) as ch:
        expect(ErrorCode.ChannelNotAvailable, ch.init, 16, 16)


@pytest.mark.parametrize(
    "control, data",
    [("127.0.0.2:0", "127.0.0.3"), ("127.0.0.2:65536", "127.0.0.3"), ("127.0.0.2", "127.0.0.3:x"),
     ("127.0.0.2:", "127.0.0.3")],
)
def test_a_port_outside_1_to_65535_is_refused(control, data):
    with pytest.raises(ValueError, match="port of 1 to 65535"):
        qir.Unit(control=control, data=data)


def test_ports_default_to_the_units_own():
    unit = qir.Unit(control="127.0.0.2", data="127.0.0.3:7000")
    assert (unit.control, unit.data) == ("127.0.0.2:65024", "127.0.0.3:7000")
