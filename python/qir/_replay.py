"""Replays of recordings, as the program qir-replay runs them."""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Union

from . import _qir

PathText = Union[str, "os.PathLike[str]"]


@dataclass(frozen=True)
class ReplaySummary:
    """The end of a replay: the same summary as ``qir-replay --summary-json``.

    delivered is True when the replay's verdict passed (every frame
    acknowledged by the unit and played out of its FIFO and, with the
    embedded emulated unit, complete with the recording's checksums);
    exit_code is the program's exit status for the same run (0 delivered,
    1 failed, 2 bad input, 130 interrupted). channels holds one dict per
    channel with the program's JSON fields; json is the whole JSON object.
    output and errors are the lines the program would have printed.
    """

    delivered: bool
    exit_code: int
    interrupted: bool
    failures: tuple[str, ...]
    channels: tuple[dict[str, Any], ...]
    json: dict[str, Any] = field(repr=False)
    output: str = field(repr=False)
    errors: str = field(repr=False)


def _texts(value: PathText | Sequence[PathText] | None) -> list[str]:
    if value is None:
        return []
    if isinstance(value, (str, os.PathLike)):
        return [os.fspath(value)]
    return [os.fspath(v) for v in value]


def replay(
    recordings: PathText | Sequence[PathText] = (),
    unit: str | Sequence[str] | None = None,
    data: str | Sequence[str] | None = None,
    rate: float | str = 1.0,
    lead: float = 1.0,
    loop: int = 1,
    map: Mapping[PathText, int | str] | Sequence[str] | None = None,
) -> ReplaySummary:
    """Replays recordings into a unit in this process, as qir-replay does.

    recordings: one or more files; the i-th goes to channel i. map: more
    recordings on chosen channels, as {file: channel} (channel "N" or
    "N@UNIT") or as "FILE=CHANNEL[@UNIT]" texts. unit, data: the control
    and data address ("IP[:PORT]") of each unit; without them the replay
    goes to the embedded emulated unit on 127.0.0.2 / 127.0.0.3, which
    checks every frame. rate: playout speed, or "max". lead: seconds from
    the unit's time to the replay start. loop: passes over the recordings.

    Raises ValueError for options the program would refuse before reading
    anything; a recording it cannot replay ends in a summary whose
    exit_code is 2. Ctrl-C stops the replay as the program's would and then
    raises KeyboardInterrupt. Releases the GIL while the replay runs.
    """
    maps: list[str] = []
    if isinstance(map, Mapping):
        maps = [f"{os.fspath(k)}={v}" for k, v in map.items()]
    elif map is not None:
        maps = [str(m) for m in map]
    if isinstance(rate, str):
        if rate != "max":
            raise ValueError(f'replay: rate {rate!r}: give a factor between 0.01 and 1000, or "max"')
        rate = 0.0
    units, datas = _texts(unit), _texts(data)
    if datas and not units:
        raise ValueError("replay: data needs unit")
    import json

    text, output, errors = _qir._replay(_texts(recordings), maps, units, datas, float(rate), float(lead), int(loop))
    summary = json.loads(text)
    return ReplaySummary(
        delivered=summary["exitCode"] == 0,
        exit_code=summary["exitCode"],
        interrupted=summary["interrupted"],
        failures=tuple(summary["failures"]),
        channels=tuple(summary["channels"]),
        json=summary,
        output=output,
        errors=errors,
    )
