"""Exceptions raised for the library's result codes and error detail."""

from dataclasses import dataclass
from typing import Dict, Optional, Type

# Kinds of error detail (MALTOR_DETAIL_*).
DETAIL_NONE = 0
DETAIL_FILE = 1
DETAIL_DEVICE = 2
DETAIL_USB = 3
DETAIL_ARGUMENT = 4
DETAIL_BUSY = 5
DETAIL_LIMIT = 6


@dataclass(frozen=True)
class Detail:
    """What the library knew about a failure beyond its result code."""

    kind: int = DETAIL_NONE
    os_error: int = 0
    bytes_done: int = 0
    bytes_expected: int = 0
    text: str = ""


class LibraryNotFoundError(OSError):
    """The MaltorUSBdrv library could not be found or loaded."""


class MaltorError(Exception):
    """A library call failed. ``result`` is its result code (None when the
    failure was found on the Python side), ``text`` the library's sentence
    for it and ``detail`` the calling thread's error detail."""

    code: Optional[int] = None

    def __init__(
        self, function: str, result: Optional[int], text: str, detail: Optional[Detail] = None
    ) -> None:
        self.function = function
        self.result = result
        self.text = text
        self.detail = detail if detail is not None else Detail()
        message = f"{function}: {text}"
        if result is not None:
            message = f"{function} returned {result}: {text}"
        if self.detail.text and self.detail.text != text:
            message += f" ({self.detail.text})"
        super().__init__(message)


class UpdateRunningError(MaltorError):
    """Refused because a firmware update is running (result 1)."""

    code = 1


class TransferError(MaltorError):
    """A reflash or configuration file transfer failed (result 1)."""

    code = 1


class PathError(MaltorError, ValueError):
    """A path is missing or empty (result 2)."""

    code = 2


class FileOpenError(MaltorError, OSError):
    """The firmware file or the progress log could not be opened (result 3)."""

    code = 3


class NoCallbackError(MaltorError):
    """No status callback is registered (result 5)."""

    code = 5


class ExchangeError(MaltorError):
    """The exchange failed: nothing written or read, a failed check, or a
    transfer that stopped part-way (result 6)."""

    code = 6


class NoDeviceError(MaltorError):
    """No device is open; nothing was sent (result 7)."""

    code = 7


class LogSumError(MaltorError):
    """The log file arrived whole but its sum differs from the device's (result 9)."""

    code = 9


class LogOpenError(MaltorError, OSError):
    """The log file could not be opened or written (result 10)."""

    code = 10


class ArgumentError(MaltorError, ValueError):
    """An argument was refused before anything was sent (result 11)."""

    code = 11


class DeviceStatusError(MaltorError):
    """The device answered with a status byte other than 0; ``result`` is
    that byte."""


class DataLostError(MaltorError):
    """The call reported success, but not everything reached its
    destination; ``detail`` counts what did."""


class UpdateFailedError(MaltorError):
    """A firmware update ended without every byte acknowledged."""


_BY_CODE: Dict[int, Type[MaltorError]] = {
    cls.code: cls
    for cls in (PathError, FileOpenError, NoCallbackError, ExchangeError, NoDeviceError,
                LogSumError, LogOpenError, ArgumentError)
    if cls.code is not None
}


def error_class(result: int, code_1: Type[MaltorError] = UpdateRunningError) -> Type[MaltorError]:
    """The exception class for a failed call's result. Code 1 means a
    running update for most calls and a failed transfer for the file
    transfers; the caller says which."""
    if result == 1:
        return code_1
    return _BY_CODE.get(result, DeviceStatusError)
