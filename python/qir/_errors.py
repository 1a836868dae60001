"""The library's result codes and the exception that carries them."""

from __future__ import annotations

import enum


class ErrorCode(enum.IntEnum):
    """Result codes of the unit client library (VXTQirError)."""

    NoError = 0
    InternalError = 1
    ControlInterfaceNotAvailable = 2
    DataInterfaceNotAvailable = 3
    ChannelNotAvailable = 4
    InvalidChannelHandle = 5
    InvalidChannelIndex = 6
    InvalidTiming = 7
    InvalidPointer = 8
    ControlSocketError = 9
    DataSocketError = 10
    Timeout = 11
    InvalidInterfaceConfig = 12
    ChannelAlreadyRegistered = 13
    DataNotAvailable = 14
    PacketFragmentation = 15


class QirError(Exception):
    """A call of the unit client library failed.

    ``code`` is the library's result code (an ErrorCode when it is a known
    one) and ``text`` the library's own text of it.
    """

    def __init__(self, code: int, text: str) -> None:
        super().__init__(code, text)
        try:
            self.code: ErrorCode | int = ErrorCode(code)
        except ValueError:
            self.code = code
        self.text = text

    def __str__(self) -> str:
        name = self.code.name if isinstance(self.code, ErrorCode) else "unknown"
        return f"{self.text} ({name}, code {int(self.code)})"
