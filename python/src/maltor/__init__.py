"""Python interface to MaltorUSBdrv, the host-side driver library for Maltor
USB vehicle data loggers, CAN gateways and data processors.

    import maltor
    with maltor.Device() as device:
        print(device.firmware_text(), device.read_clock())

``maltor.sim`` drives the virtual device of MaltorUSBdrv_sim for tests.
"""

from ._library import Library, default_library, load
from .device import (CanFrame, ConfigInfo, Device, FirmwareUpdate, FirmwareVersion, ListedDevice,
                     LiveData, LogInfo, MaltorInfo, Progress, image_version, list_devices)
from .errors import (ArgumentError, DataLostError, Detail, DeviceStatusError, ExchangeError,
                     FileOpenError, LibraryNotFoundError, LogOpenError, LogSumError, MaltorError,
                     NoCallbackError, NoDeviceError, PathError, TransferError, UpdateFailedError,
                     UpdateRunningError)
from .records import BusSetup

__version__ = "0.2.0"

__all__ = [
    "ArgumentError", "BusSetup", "CanFrame", "ConfigInfo", "DataLostError", "Detail", "Device",
    "DeviceStatusError", "ExchangeError", "FileOpenError", "FirmwareUpdate", "FirmwareVersion",
    "Library", "LibraryNotFoundError", "ListedDevice", "LiveData", "LogInfo", "LogOpenError",
    "LogSumError", "MaltorError", "MaltorInfo", "NoCallbackError", "NoDeviceError", "PathError",
    "Progress", "TransferError", "UpdateFailedError", "UpdateRunningError", "default_library",
    "image_version", "list_devices", "load",
]
