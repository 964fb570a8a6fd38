"""The device: a context manager over the library's slot-0 device, with one
method per operation and dataclasses for what comes back."""

import ctypes
import math
import os
import threading
import time
from ctypes import byref, c_uint8, c_uint16, c_uint32
from dataclasses import dataclass
from datetime import datetime, timezone
from types import TracebackType
from typing import TYPE_CHECKING, Callable, FrozenSet, Iterator, List, Optional, Tuple, Type, Union

from . import errors
from ._library import Library, StrPath, default_library, fspath
from .records import CAN_MAX_DATA, LIVE_RECORD_SIZE, SECTOR_SIZE, BusSetup, CanMessage
from .records import Connection, DeviceInfo

if TYPE_CHECKING:
    import can  # python-can, only for CanFrame's conversions

# Called with (bytes done, bytes expected); returning False stops a transfer
# that can be stopped.
Progress = Callable[[int, int], Optional[bool]]

_U32 = 0xFFFFFFFF

# Library codes of the calls that also return the device's status byte; the
# other results of these calls are the device's.
_EXCHANGE_CODES = frozenset((6, 7, 11))
_LOG_FILE_CODES = frozenset((6, 7, 9, 10))  # 2 is a null path, never passed from here


def _check_range(name: str, value: int, limit: int) -> int:
    if not 0 <= value <= limit:
        raise ValueError(f"{name} must be 0 to {limit}, not {value}")
    return value


def _text(buffer: "ctypes.Array[ctypes.c_char]") -> str:
    return buffer.raw.split(b"\0", 1)[0].decode("latin-1")


@dataclass(frozen=True)
class FirmwareVersion:
    word: int
    bytes: Tuple[int, int, int]


@dataclass(frozen=True)
class MaltorInfo:
    info_byte: int
    value: int


@dataclass(frozen=True)
class ConfigInfo:
    tag: bytes
    size: int


@dataclass(frozen=True)
class LogInfo:
    """One log info record. ``words`` are in the library's output order (its
    word_1 to word_7: the record's fifth word comes last)."""

    index: int
    partition: Optional[int]
    words: Tuple[int, ...]
    block_16: bytes
    block_255: bytes
    trailing: int


@dataclass(frozen=True)
class CanFrame:
    """One CAN frame. ``returned_word`` is the device's word for the frame."""

    id: int
    data: bytes = b""
    bus: int = 0
    attribute: int = 0
    returned_word: int = 0

    def to_message(self) -> "can.Message":
        """The frame as a python-can Message (python-can must be installed)."""
        import can

        return can.Message(arbitration_id=self.id, data=self.data, channel=self.bus,
                           is_extended_id=self.id > 0x7FF, is_fd=len(self.data) > 8)

    @classmethod
    def from_message(cls, message: "can.Message", bus: int = 0) -> "CanFrame":
        """A python-can Message as a frame for `bus`."""
        return cls(int(message.arbitration_id), bytes(message.data), bus)

    def __post_init__(self) -> None:
        _check_range("CAN identifier", self.id, _U32)
        _check_range("CAN data length", len(self.data), CAN_MAX_DATA)
        _check_range("CAN bus", self.bus, 0xFF)
        _check_range("CAN attribute", self.attribute, 0xFF)


@dataclass(frozen=True)
class ListedDevice:
    """A present device as MaltorListDevices reports it."""

    kind: int
    in_use: int
    vendor_id: int
    product_id: int
    serial: str
    location: str
    path: str


def list_devices(library: Optional[Library] = None) -> List[ListedDevice]:
    """The present devices, in discovery order, without claiming any."""
    lib = library or default_library()
    count = lib.dll.MaltorListDevices(None, 0)
    records = (DeviceInfo * max(count, 1))()
    count = min(count, lib.dll.MaltorListDevices(records, len(records)))

    def text(field: bytes) -> str:
        return field.decode("utf-8", "replace")

    return [ListedDevice(r.kind, r.in_use, r.vendor_id, r.product_id, text(r.serial),
                         text(r.location), text(r.path)) for r in records[:count]]


def image_version(path: StrPath, library: Optional[Library] = None) -> str:
    """The version text inside the firmware image file at `path`."""
    lib = library or default_library()
    text = ctypes.create_string_buffer(14)
    if lib.dll.GetFileNameFirmwareVersion(fspath(path), text) != 1:
        raise errors.FileOpenError("GetFileNameFirmwareVersion", None,
                                   f"{os.fspath(path)} is not a readable firmware image")
    return _text(text)


def _destination(path: StrPath) -> bytes:
    """A path the library may delete and write anew: a device node or a
    folder there would be replaced, so only a regular file, or nothing, is
    accepted."""
    if os.path.lexists(path) and not os.path.isfile(path):
        raise ValueError(f"{os.fspath(path)} is not a regular file; it would be replaced")
    return fspath(path)


def _file_size(path: StrPath) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _run_watched(
    work: Callable[[], None],
    path: StrPath,
    total: int,
    progress: Optional[Progress],
    interval: float,
    stop: Optional[Callable[[], None]] = None,
) -> None:
    """Runs `work` (a blocking call that writes the file at `path`) on a
    worker thread, reporting the file's size to `progress` every `interval`
    seconds meanwhile. When `progress` returns False, `stop` is called once.
    The worker's exception is raised here."""
    if progress is None:
        work()
        return
    failure: List[BaseException] = []

    def run() -> None:
        try:
            work()
        except BaseException as error:  # handed to the caller's thread
            failure.append(error)

    worker = threading.Thread(target=run, name="maltor-transfer", daemon=True)
    stopping = False
    worker.start()
    try:
        while worker.is_alive():
            worker.join(interval)
            if worker.is_alive() and progress(min(_file_size(path), total), total) is False:
                if stop is not None and not stopping:
                    stopping = True
                    stop()
    except BaseException:
        # Ctrl-C, or the progress callback raised: end the transfer first.
        if stop is not None and not stopping:
            stop()
        raise
    finally:
        worker.join()
    if failure:
        raise failure[0]


class CanInterface:
    """The device's CAN interface: set-up, bus control and frames. Control
    calls return the device's reply word."""

    def __init__(self, library: Library) -> None:
        self._lib = library

    def _reply(self, name: str, *args: object) -> int:
        word = c_uint32()
        self._lib.call(name, byref(word), *args)
        return word.value

    def setup(self, setup: BusSetup) -> None:
        """Sends the bus set-up record (InitBus)."""
        self._lib.call("InitBus", setup)

    def end_setup(self) -> None:
        self._lib.call("DeInitBus")

    def enable(self) -> int:
        return self._reply("CANInterfaceEnable")

    def disable(self) -> int:
        return self._reply("CANInterfaceDisable")

    def bus_count(self) -> int:
        count = c_uint8()
        self._lib.call("CANBusCount", byref(count))
        return count.value

    def open(self, bus: int, option: int = 0) -> int:
        return self._reply("CANBusOpen", bus, option)

    def close(self, bus: int) -> int:
        return self._reply("CANBusClose", bus)

    def on(self, bus: int) -> int:
        return self._reply("CANBusOn", bus)

    def off(self, bus: int) -> int:
        return self._reply("CANBusOff", bus)

    def set_parameters(
        self, bus: int, word: int, p1: int, p2: int, p3: int, p4: int, *, data_phase: bool = False
    ) -> int:
        """Loads a bus's parameter set (the data-phase set with `data_phase`)."""
        name = "CANDataParameterSet" if data_phase else "CANParameterSet"
        return self._reply(name, bus, word, p1, p2, p3, p4)

    def block_uid(self, bus: int, option: int = 0) -> int:
        return self._reply("CANBlockUIDGet", bus, option)

    def send(self, frame: CanFrame) -> int:
        """Hands a frame to the device; returns the device's returned word.
        The library sends every frame with identifier 2016 (MaltorUSBdrv.h,
        CANTx); `frame.id` is not sent."""
        message = CanMessage(bus=frame.bus, attribute=frame.attribute, length=len(frame.data),
                             identifier=frame.id)
        ctypes.memmove(message.data, frame.data, len(frame.data))
        self._lib.call("CANTx", byref(message))
        return int(message.returned_word)

    def receive(self, bus: int = 0, timeout: float = 1.0) -> Optional[CanFrame]:
        """The next frame received on `bus`, or None when none came within
        `timeout` seconds (at least one poll is made)."""
        message = CanMessage(bus=_check_range("CAN bus", bus, 0xFF),
                             receive_timeout=min(_U32, max(0, int(timeout * 1000))))
        count = c_uint16(0)
        result = self._lib.dll.CANRx(byref(count), byref(message))
        if result == 6:
            return None  # the timeout ran out
        self._lib.check("CANRx", result)
        if count.value != 1:
            return None
        return CanFrame(int(message.identifier), bytes(message.data[: min(message.length,
                                                                         CAN_MAX_DATA)]),
                        int(message.bus), int(message.attribute), int(message.returned_word))

    def frames(self, bus: int = 0, timeout: float = 1.0) -> Iterator[CanFrame]:
        """Frames received on `bus` until none comes for `timeout` seconds."""
        while True:
            frame = self.receive(bus, timeout)
            if frame is None:
                return
            yield frame


class LiveData:
    """Live-data records, started on entry and stopped on exit. Iterating
    yields 512-byte records and ends once none came for `timeout` seconds
    (never, with None)."""

    def __init__(self, library: Library, parameter: int, timeout: Optional[float],
                 poll: float) -> None:
        self._lib = library
        self._parameter = _check_range("live-data parameter", parameter, 0xFF)
        self.timeout = timeout
        self._poll = poll
        self._running = False

    def start(self) -> "LiveData":
        self._lib.call("SCUSBStartLiveData", self._parameter)
        self._running = True
        return self

    def stop(self) -> None:
        if self._running:
            self._running = False
            self._lib.call("SCUSBStopLiveData", self._parameter)

    def __enter__(self) -> "LiveData":
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()

    def read(self, timeout: Optional[float] = None) -> Optional[bytes]:
        """One record, or None when none came within `timeout` seconds."""
        record = (c_uint8 * LIVE_RECORD_SIZE)()
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            result = self._lib.dll.SCUSBGetLiveData(0, record)
            if result != 6:
                self._lib.check("SCUSBGetLiveData", result)
                return bytes(record)
            if deadline is not None and time.monotonic() >= deadline:
                return None
            time.sleep(self._poll)

    def __iter__(self) -> Iterator[bytes]:
        while True:
            record = self.read(self.timeout)
            if record is None:
                return
            yield record


class FirmwareUpdate:
    """A firmware update running on the library's update thread."""

    _FINISHED = b"Firmware update is finished successfully."
    _TRAILER = b"Firmware update is "

    def __init__(self, library: Library, function: str, log_path: StrPath,
                 progress: Optional[Callable[[int], Optional[bool]]]) -> None:
        self._lib = library
        self._function = function
        self._log_path = log_path
        self._log_start = _file_size(log_path)
        self._user_progress = progress
        self._failure: Optional[BaseException] = None
        self.progress = 0
        self.stopped = False

    def _report(self, value: int) -> None:
        # On the update thread: an exception would be lost here, so it stops
        # the update and wait() raises it.
        self.progress = value
        if self._user_progress is None or self._failure is not None:
            return
        try:
            if self._user_progress(value) is False:
                self.stop()
        except BaseException as error:
            self._failure = error
            self.stop()

    def stop(self) -> None:
        """Asks the update to stop before its next block; wait() then
        returns without raising."""
        self.stopped = True
        self._lib.call("StopFirmwareUpdate")

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits until the update thread has ended (its tail included).
        Returns False when it still runs after `timeout` seconds. Raises
        UpdateFailedError when it ended unfinished without stop()."""
        wait = self._lib.dll.MaltorWaitForUpdate
        if timeout is None:
            # In slices, so that Ctrl-C gets through between them.
            while wait(1000) != 0:
                pass
        elif wait(min(_U32, math.ceil(max(0.0, timeout) * 1000))) != 0:
            return False
        if self._failure is not None:
            raise self._failure
        if not self.stopped and not self.succeeded:
            raise errors.UpdateFailedError(
                self._function, None,
                f"the update ended unfinished at {self.progress}%; see {os.fspath(self._log_path)}")
        return True

    @property
    def running(self) -> bool:
        return self._lib.dll.MaltorWaitForUpdate(0) != 0

    @property
    def succeeded(self) -> bool:
        """Whether this update's account in the progress log says every byte
        was acknowledged."""
        try:
            with open(self._log_path, "rb") as log:
                log.seek(self._log_start)
                account = log.read()
        except OSError:
            return False
        last = account.rfind(self._TRAILER)
        return last >= 0 and account.startswith(self._FINISHED, last)


class Device:
    """The device in the library's slot 0. Opening runs discovery (after
    choosing a device by serial, location or path with `select`); closing
    releases it.

        with maltor.Device() as device:
            print(device.firmware_text(), device.read_clock())
    """

    def __init__(self, library: Optional[Library] = None, *, select: Optional[str] = None) -> None:
        self.library = library or default_library()
        self._select = select
        self.kind = 0
        self.can = CanInterface(self.library)

    # ---- connection ----

    def open(self) -> "Device":
        lib = self.library
        if self._select is not None:
            result = lib.dll.MaltorSelectDevice(self._select.encode("utf-8"))
            if result != 0:
                lib.fail("MaltorSelectDevice", result)
        if lib.dll.DeviceIsReady() == 0:
            lib.fail("DeviceIsReady", 7)
        record = Connection()
        lib.call("GetConnected", byref(record))
        self.kind = record.device_kind
        return self

    def close(self) -> None:
        """Closes the device (the library keeps it while an update runs)."""
        self.library.dll.CloseDevice()

    def __enter__(self) -> "Device":
        return self.open()

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def _out(self, name: str, size: int, *args: object,
             own: Optional[FrozenSet[int]] = None) -> bytes:
        buffer = ctypes.create_string_buffer(size)
        self.library.call(name, *args, buffer, own=own)
        return buffer.raw

    # ---- identity and versions ----

    def firmware_version(self) -> FirmwareVersion:
        word, v1, v2, v3 = c_uint16(), c_uint8(), c_uint8(), c_uint8()
        self.library.call("SCGetFirmwareVersion", byref(word), byref(v1), byref(v2), byref(v3))
        return FirmwareVersion(word.value, (v1.value, v2.value, v3.value))

    def firmware_text(self) -> str:
        text = ctypes.create_string_buffer(14)
        self.library.call("GetFirmwareVersion", text)
        return _text(text)

    def serial_number(self) -> bytes:
        """The 128-byte serial-number block."""
        return self._out("SCGetSerialNumber", 128)

    def set_serial_number(self, block: bytes) -> None:
        self.library.call("SCSetSerialNumber", _check_range("block length", len(block), 255), block)

    def micro_type(self) -> int:
        value = c_uint8()
        self.library.call("GetMicroType", byref(value))
        return value.value

    def maltor_info(self) -> MaltorInfo:
        info_byte, value = c_uint8(), c_uint32()
        self.library.call("GetMaltorInfo", byref(info_byte), byref(value))
        return MaltorInfo(info_byte.value, value.value)

    def card_info(self) -> bytes:
        """The 17-byte memory-card information record."""
        return self._out("SCGetMMCInfo", 17)

    def config_info(self) -> ConfigInfo:
        tag, size = ctypes.create_string_buffer(16), c_uint32()
        self.library.call("SCUSBGetConfigInfo", tag, byref(size))
        return ConfigInfo(tag.raw, size.value)

    def configuration_info(self) -> bytes:
        """The 26-byte configuration info record."""
        return self._out("GetConfigurationInfo", 26)

    def eeprom_page(self, page: int) -> bytes:
        """64-byte EEPROM page `page`; DeviceStatusError when the device
        answers with a status instead."""
        return self._out("GetEEPROMPageFormat", 64, _check_range("page", page, 0xFF),
                         own=_EXCHANGE_CODES)

    # ---- clock and settings ----

    def clock_value(self) -> int:
        """The device clock's raw 32-bit value."""
        value = c_uint32()
        self.library.call("SCGetDateTime", byref(value))
        return value.value

    def read_clock(self) -> datetime:
        """The device clock, read as whole seconds since 1970-01-01 UTC."""
        return datetime.fromtimestamp(self.clock_value(), timezone.utc)

    def set_clock(self, when: Union[datetime, int, None] = None) -> None:
        """Sets the device clock to `when` (an aware datetime or a raw
        value); the host's current time when None."""
        if when is None:
            when = datetime.now(timezone.utc)
        if isinstance(when, datetime):
            if when.tzinfo is None:
                raise ValueError("give the time with a time zone, e.g. datetime.now(timezone.utc)")
            when = int(when.timestamp())
        self.library.call("SCSetDateTime", _check_range("clock value", when, _U32))

    def hw_settings(self) -> bytes:
        """The 128-byte hardware settings block."""
        return self._out("SCGetHWSettings", 128)

    def write_hw_settings(self, data: bytes, selector_1: int = 0, selector_2: int = 0) -> None:
        self.library.call("SCSetHWSettings", selector_1, selector_2,
                          _check_range("settings length", len(data), 255), data)

    def setting(self, number: int) -> int:
        value = c_uint16()
        self.library.call("GetSingleHWSetting", _check_range("setting", number, 0xFFFF),
                          byref(value))
        return value.value

    def set_setting(self, number: int, value: int) -> None:
        self.library.call("SetSingleHWSetting", _check_range("setting", number, 0xFFFF),
                          _check_range("setting value", value, 0xFFFF))

    def store_settings(self, selector_1: int = 0, selector_2: int = 0) -> None:
        """Asks the device to store its settings; DeviceStatusError when it
        answers with a status other than 0."""
        self.library.call("StoreEEPROMHWSettings", selector_1, selector_2, own=_EXCHANGE_CODES)

    # ---- log catalogue and formatting ----

    def log_count(self, partition: Optional[int] = None) -> int:
        count = c_uint16()
        if partition is None:
            self.library.call("SCSDLogCount", byref(count))
        else:
            self.library.call("SCPartitionLogCount", _check_range("partition", partition, 0xFF),
                              byref(count))
        return count.value

    def log_info(self, index: int, partition: Optional[int] = None) -> LogInfo:
        words = [c_uint32() for _ in range(7)]
        block_16, block_255, trailing = (ctypes.create_string_buffer(16),
                                         ctypes.create_string_buffer(255), c_uint8())
        outputs = [byref(w) for w in words] + [block_16, block_255, byref(trailing)]
        _check_range("log index", index, 0xFFFF)
        if partition is None:
            self.library.call("SCSDLogInfo", index, *outputs)
        else:
            self.library.call("SCPartitionLogInfo", _check_range("partition", partition, 0xFF),
                              index, *outputs)
        return LogInfo(index, partition, tuple(w.value for w in words), block_16.raw,
                       block_255.raw, trailing.value)

    def logs(self, partition: Optional[int] = None) -> List[LogInfo]:
        """The whole catalogue of the card, or of one partition."""
        return [self.log_info(i, partition) for i in range(self.log_count(partition))]

    def current_sector(self) -> int:
        sector = c_uint32()
        self.library.call("SCSDCurrentSector", byref(sector))
        return sector.value

    def format_card(self, parameter: int = 0, partitions: Optional[bytes] = None) -> int:
        """Formats the card, or lays out and formats its partitions; returns
        the device's format reply."""
        reply = c_uint16()
        if partitions is None:
            self.library.call("SCSDFormat", parameter, byref(reply))
        else:
            self.library.call("SCPartitionFormat", parameter,
                              _check_range("partition bytes", len(partitions), 255), partitions,
                              byref(reply))
        return reply.value

    def mirel_log_counts(self) -> Tuple[int, int]:
        first, second = c_uint16(), c_uint16()
        self.library.call("MirelGetLogCount", byref(first), byref(second), own=_EXCHANGE_CODES)
        return first.value, second.value

    def mirel_first_section(self) -> Tuple[int, int]:
        words = [c_uint32() for _ in range(2)]
        self.library.call("MirelGetFirstLogSection", *map(byref, words), own=_EXCHANGE_CODES)
        return words[0].value, words[1].value

    def mirel_active_section(self) -> Tuple[int, int, int, int]:
        words = [c_uint32() for _ in range(4)]
        self.library.call("MirelGetActiveLogSection", *map(byref, words), own=_EXCHANGE_CODES)
        return words[0].value, words[1].value, words[2].value, words[3].value

    def mirel_descriptor(self, index: int) -> bytes:
        """The 32-byte record of descriptor `index`."""
        return self._out("MirelGetDescriptorInfo", 32, _check_range("descriptor", index, _U32),
                         own=_EXCHANGE_CODES)

    # ---- downloads ----

    def download(self, path: StrPath, first_sector: int, last_sector: int,
                 progress: Optional[Progress] = None, *, poll_interval: float = 0.05) -> int:
        """Downloads card sectors `first_sector` to `last_sector` (both
        included) into the file at `path` (deleted and written anew) and
        returns the bytes written.
        `progress(done, total)` is called every `poll_interval` seconds as
        the file grows, and once at the end; returning False stops the
        download, which then keeps what arrived. Raises DataLostError when
        the call reports success but the file does not hold every byte."""
        _check_range("first sector", first_sector, _U32)
        _check_range("last sector", last_sector, _U32)
        if last_sector < first_sector:
            raise ValueError("the last sector comes before the first")
        total = (last_sector - first_sector + 1) * SECTOR_SIZE
        if total > _U32:
            raise ValueError("a download moves at most 4 GiB - 1 bytes")
        destination = _destination(path)
        lib = self.library
        stopped = threading.Event()
        stop_failures: List[BaseException] = []

        def work() -> None:
            try:
                lib.call("SCSDRequestSendData", destination, first_sector, last_sector)
            except errors.DataLostError:
                if not stopped.is_set():  # a stopped download is short by request
                    raise

        def stop() -> None:
            stopped.set()
            try:
                lib.call("SCSDStopSendData")
            except errors.MaltorError as error:
                stop_failures.append(error)

        _run_watched(work, path, total, progress, poll_interval, stop)
        if stop_failures:
            raise stop_failures[0]
        done = _file_size(path)
        if not stopped.is_set() and done != total:
            text = f"{done} of {total} bytes reached {os.fspath(path)}"
            raise errors.DataLostError("SCSDRequestSendData", 0, text,
                                       errors.Detail(errors.DETAIL_FILE, 0, done, total, text))
        if progress is not None:
            progress(done, total)
        return done

    def log_file(self, section: int, length: int, path: StrPath,
                 progress: Optional[Progress] = None, *, poll_interval: float = 0.05) -> None:
        """Copies `length` bytes of a log-section device's log file into the
        file at `path` (line feeds become CR LF on disk). Progress counts the
        bytes on disk, at most `length`; it cannot be stopped."""
        _check_range("section", section, _U32)
        _check_range("length", length, _U32)
        destination = _destination(path)
        _run_watched(lambda: self.library.call("MirelGetFirstLogFile", section, length, destination,
                                               own=_LOG_FILE_CODES),
                     path, length, progress, poll_interval)
        if progress is not None:
            progress(length, length)

    # ---- live data and streams ----

    def live(self, parameter: int = 0, *, timeout: Optional[float] = 1.0,
             poll: float = 0.001) -> LiveData:
        """Live data: ``with device.live() as records: for record in records: ...``"""
        return LiveData(self.library, parameter, timeout, poll)

    def start_process_data(self) -> None:
        self.library.call("SCUSBStartProcessData")

    def stop_process_data(self) -> None:
        self.library.call("SCUSBStopProcessData")

    def send_stream(self, data: bytes) -> None:
        """Writes `data` as it is on the stream OUT pipe."""
        self.library.call("SCUSBSendStreamData", 0, data, _check_range("length", len(data), _U32))

    # ---- firmware updates, reflash and configuration ----

    def update_firmware(self, image: StrPath, log: StrPath, *, gateway: bool = False,
                        progress: Optional[Callable[[int], Optional[bool]]] = None
                        ) -> FirmwareUpdate:
        """Starts the logger (or, with `gateway`, the gateway) firmware update
        of the image file `image`, appending to the progress log `log`.
        `progress(percent)` is called on the library's update thread after
        every block the device acknowledged; returning False stops the
        update. An exception it raises stops the update too, and wait()
        raises it."""
        lib = self.library
        lib.register_status_callback()
        name = "UpdateFirmware" if gateway else "UpdateLoggerFirmware"
        update = FirmwareUpdate(lib, name, log, progress)
        lib.progress_sink = update._report
        lib.call(name, fspath(image), fspath(log))
        return update

    def reflash(self, image: StrPath) -> None:
        """Reflashes the data processor with the image file `image`."""
        self.library.call("SCReflashFile", fspath(image), code_1=errors.TransferError)

    def send_gateway_configuration(self, data: bytes) -> None:
        self.library.call("SendTaloqConfiguration", None, len(data), data)

    def send_configuration(self, path: StrPath) -> None:
        """Sends the data processor's configuration file at `path`. Raises
        DeviceStatusError when the device's status word is not 0."""
        status = c_uint16()
        self.library.call("SCReconfigureFile", fspath(path), byref(status),
                          code_1=errors.TransferError)
        if status.value != 0:
            raise errors.DeviceStatusError("SCReconfigureFile", status.value,
                                           f"the device refused the configuration "
                                           f"(status {status.value})")

    def read_configuration(self, path: StrPath) -> int:
        """Reads the data processor's configuration into the file at `path`
        and returns its size. Raises ExchangeError unless the file holds as
        many bytes as the device announced."""
        lib = self.library
        destination = _destination(path)
        expected = self.config_info().size
        if expected == 0:
            return 0  # nothing to read; the file is left alone
        result = lib.dll.SCConfigFileData(destination)
        if result != 6:  # 6 also after a complete download: the file tells
            lib.check("SCConfigFileData", result)
        done = _file_size(path)
        if done != expected:
            lib.fail("SCConfigFileData", 6 if result == 0 else result)
        return done
