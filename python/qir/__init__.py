"""Drive QIR units from Python: channels, frames, replay times, status.

A QIR unit feeds sensor data to a device under test in step with its own
clock. ``qir.Unit`` describes one, ``Unit.channel(i)`` registers a channel
(a context manager), and ``qir.EmulatedUnit`` runs an emulated unit on
loopback inside this process for tests::

    with qir.EmulatedUnit() as emulated:
        unit = qir.Unit(control=emulated.control, data=emulated.data)
        with unit.channel(0) as channel:
            channel.init(640, 480)
            channel.send_frame(numpy.zeros((480, 1280), numpy.uint8), frame=0)

Every failure of the library raises ``qir.QirError``.
"""

from ._errors import ErrorCode, QirError
from ._qir import Channel, EmulatedUnit, Unit, __version__
from ._replay import ReplaySummary, replay
from ._types import ChannelSummary, Progress, Status

__all__ = [
    "Channel",
    "ChannelSummary",
    "EmulatedUnit",
    "ErrorCode",
    "Progress",
    "QirError",
    "ReplaySummary",
    "Status",
    "Unit",
    "__version__",
    "replay",
]
