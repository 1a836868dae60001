"""Records returned by the channel and the emulated unit."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Status:
    """A channel's latest periodic status from the unit.

    rx_packet counts the datagrams the unit acknowledged receiving since the
    channel was registered (64 bits, never going back); unit_time_ns is the
    unit's clock when it sent the status.
    """

    enabled: bool
    loss: bool
    ptp_synced: bool
    ptp_active: bool
    free_fifo_entries: int
    rx_packet: int
    unit_time_ns: int


@dataclass(frozen=True)
class Progress:
    """What was sent on a channel and what the unit acknowledged of it.

    A frame is acknowledged once the unit's status reports its last datagram
    received; ms_since_status is -1 before the first status; send_timeouts
    counts the sends that found no FIFO room within the stream time-out.
    """

    datagrams_sent: int
    datagrams_acknowledged: int
    frames_sent: int
    frames_acknowledged: int
    status_count: int
    ms_since_status: int
    fifo_entries: int
    send_timeouts: int


@dataclass(frozen=True)
class ChannelSummary:
    """What one channel of an emulated unit received.

    last_checksum is the 64-bit FNV-1a of the last frame received complete,
    as 16 lower-case hex digits (None before the first), and
    last_checksum_frame that frame's number. frames_played counts frames
    whose every line the unit played; overflows counts blocks that found
    the replay FIFO full.
    """

    channel: int
    frames_complete: int
    frames_incomplete: int
    last_checksum: str | None
    last_checksum_frame: int
    frames_played: int
    overflows: int
    datagrams: int
    bad_datagrams: int
