"""The virtual device built into MaltorUSBdrv_sim, for testing applications
without hardware: plug devices, give them content, inject faults, read the
wire trace and drive the virtual clock.

    bus = maltor.sim.VirtualBus()          # loads MaltorUSBdrv_sim
    logger = bus.plug(kind=1)
    logger.set_clock(datetime(2026, 1, 1, tzinfo=timezone.utc))
    with maltor.Device(bus.library) as device:
        assert device.read_clock().year == 2026

With pytest, the ``maltor_sim`` fixture gives a fresh VirtualBus per test.
"""

import contextlib
import ctypes
from ctypes import byref
from dataclasses import dataclass
from datetime import datetime
from enum import IntEnum
from typing import Iterator, List, Optional, Union

from ._library import Library, load
from .records import SimImageInfo, SimTraceEntry


class Speed(IntEnum):
    FULL = 1
    HIGH = 3


FOREIGN = 0  # a kind that discovery must skip


class Option(IntEnum):
    ENDPOINT_COUNT = 1
    HAS_INTERFACE = 2
    OPEN_FAILS = 3
    SPEED = 4
    STREAM_RATE = 5  # sector bytes per virtual ms; 0 unpaced
    LIVE_PERIOD = 6  # ms between live records; 0 none


class Fault(IntEnum):
    NO_REPLY = 1
    SHORT_REPLY = 2  # param: bytes kept
    WRONG_SEQUENCE = 3
    WRONG_ECHO = 4
    STATUS = 5  # param: the status byte
    WRITE_FAILS = 6
    STREAM_STALL = 7  # param: bytes sent before the stall
    UNPLUG_ON_READ = 8


ANY_COMMAND = -1


class Content(IntEnum):
    SERIAL_NUMBER = 1
    HW_SETTINGS = 2
    CLOCK = 3
    FIRMWARE_TEXT = 4
    CONFIGURATION = 5
    STREAM_DATA = 6
    FIRMWARE_VERSION = 7
    LOG_FILE_LIMIT = 8
    LOG_SUM_OFFSET = 9


class CanRxMode(IntEnum):
    QUEUE = 0
    SILENT = 1
    COUNT = 2


class Image(IntEnum):
    FIRMWARE = 1
    CONFIGURATION = 2
    REFLASH = 3
    DP_CONFIGURATION = 4


class Frame(IntEnum):
    LOGGER_START = 1
    LOGGER_DATA = 2
    LOGGER_FINISH = 3
    GATEWAY_ANNOUNCE = 4
    GATEWAY_BLOCK = 5
    CONFIG_ANNOUNCE = 6
    CONFIG_BLOCK = 7


class UpdateAction(IntEnum):
    REFUSE = 1
    SILENT = 2


class SimError(RuntimeError):
    """The virtual device refused a control call (unknown id, item, or a
    full queue)."""


@dataclass(frozen=True)
class ImageInfo:
    announced: int
    received: int
    blocks: int
    finished: int
    reconnects: int
    errors: int
    hash: int


@dataclass(frozen=True)
class Transfer:
    """One transfer of the wire trace. ``data`` holds the bytes kept (the
    first 64 of stream transfers), ``length`` the bytes moved."""

    device: int
    pipe: int
    direction: int  # 0 host to device, 1 device to host
    length: int
    data: bytes


def _ok(value: int, what: str) -> int:
    if value < 0:
        raise SimError(f"the virtual device refused {what}")
    return value


class VirtualDevice:
    """One plugged virtual device."""

    def __init__(self, library: Library, device_id: int) -> None:
        self._dll = library.dll
        self.id = device_id

    def unplug(self) -> None:
        _ok(self._dll.MaltorSim_Unplug(self.id), "the unplug")

    def replug(self) -> None:
        _ok(self._dll.MaltorSim_Replug(self.id), "the replug")

    def set_option(self, option: Option, value: int) -> None:
        _ok(self._dll.MaltorSim_SetOption(self.id, option, value), f"option {option!r}")

    def inject_fault(self, fault: Fault, command: int = ANY_COMMAND, nth: int = 1,
                     param: int = 0) -> None:
        """Arms `fault` for the nth frame (1 the next) with command code
        `command`; it clears itself once it struck."""
        _ok(self._dll.MaltorSim_InjectFault(self.id, fault, command, nth, param), f"{fault!r}")

    def clear_faults(self) -> None:
        _ok(self._dll.MaltorSim_ClearFaults(self.id), "clearing faults")

    def set_content(self, item: Content, data: bytes) -> None:
        _ok(self._dll.MaltorSim_SetContent(self.id, item, data, len(data)), f"{item!r}")

    def content(self, item: Content) -> bytes:
        size = _ok(self._dll.MaltorSim_GetContent(self.id, item, None, 0), f"{item!r}")
        buffer = ctypes.create_string_buffer(max(size, 1))
        size = min(size, _ok(self._dll.MaltorSim_GetContent(self.id, item, buffer, size),
                             f"{item!r}"))
        return buffer.raw[:size]

    def set_clock(self, when: Union[datetime, int]) -> None:
        """Sets the device clock (an aware datetime or a raw value)."""
        value = int(when.timestamp()) if isinstance(when, datetime) else when
        self.set_content(Content.CLOCK, value.to_bytes(4, "little"))

    def clock_value(self) -> int:
        return int.from_bytes(self.content(Content.CLOCK), "little")

    def send_live_data(self, packet: bytes) -> None:
        """Queues a packet (1 to 512 bytes) on the stream IN pipe."""
        _ok(self._dll.MaltorSim_SendLiveData(self.id, packet, len(packet)), "the packet")

    def can_deliver(self, bus: int, identifier: int, data: bytes = b"") -> None:
        """Queues a frame on a bus's receive queue, as if it came from the bus."""
        _ok(self._dll.MaltorSim_CanDeliver(self.id, bus, identifier, data, len(data)), "the frame")

    def can_rx_mode(self, mode: CanRxMode, count: int = 0) -> None:
        _ok(self._dll.MaltorSim_CanRxMode(self.id, mode, count), f"{mode!r}")

    def image_info(self, image: Image) -> ImageInfo:
        record = SimImageInfo()
        _ok(self._dll.MaltorSim_ImageInfo(self.id, image, byref(record)), f"{image!r}")
        return ImageInfo(record.announced, record.received, record.blocks, record.finished,
                         record.reconnects, record.errors, record.hash)

    def image(self, image: Image, capacity: int = 262144) -> bytes:
        """The image's first bytes as the device took them."""
        buffer = ctypes.create_string_buffer(capacity)
        size = _ok(self._dll.MaltorSim_ImageGet(self.id, image, buffer, capacity), f"{image!r}")
        return buffer.raw[: min(size, capacity)]

    def update_fault(self, frame: Frame, action: UpdateAction, nth: int = 1) -> None:
        _ok(self._dll.MaltorSim_UpdateFault(self.id, frame, nth, action), f"{frame!r}")

    def set_restart_time(self, milliseconds: int) -> None:
        _ok(self._dll.MaltorSim_SetRestartTime(self.id, milliseconds), "the restart time")


class VirtualClock:
    """The virtual millisecond clock every library wait runs on."""

    def __init__(self, library: Library) -> None:
        self._dll = library.dll

    @property
    def now(self) -> int:
        """Milliseconds since the library was loaded."""
        return int(self._dll.MaltorSim_ClockNow())

    def advance(self, milliseconds: int) -> None:
        self._dll.MaltorSim_ClockAdvance(milliseconds)

    @property
    def waiters(self) -> int:
        """Threads blocked on the clock (manual mode)."""
        return int(self._dll.MaltorSim_ClockWaiters())

    def set_manual(self, manual: bool) -> None:
        self._dll.MaltorSim_ClockMode(1 if manual else 0)

    @contextlib.contextmanager
    def manual(self) -> Iterator["VirtualClock"]:
        """Manual mode inside the block: waits end only when advance()
        reaches their deadline."""
        self.set_manual(True)
        try:
            yield self
        finally:
            self.set_manual(False)

    def set_origin(self, unix_seconds: int, tick: int = 0) -> None:
        self._dll.MaltorSim_ClockSetOrigin(unix_seconds, tick)


class VirtualBus:
    """The virtual USB bus of a MaltorUSBdrv_sim library. Creating one, or
    entering it as a context manager, starts from an empty bus; leaving
    empties it again."""

    def __init__(self, library: Optional[Library] = None) -> None:
        self.library = library or load(sim=True)
        if not self.library.has_sim:
            raise SimError(f"{self.library.path} has no virtual device")
        self._dll = self.library.dll
        self.clock = VirtualClock(self.library)
        self.reset()

    def reset(self) -> None:
        """Ends a running update, then unplugs and forgets every device,
        clears faults, trace and debug texts and closes the library's
        device."""
        self.library.register_status_callback()  # so that a stop is accepted
        self._dll.StopFirmwareUpdate()
        self._dll.MaltorSim_ClockMode(0)
        while self._dll.MaltorWaitForUpdate(1000) != 0:
            pass
        self._dll.MaltorSim_Reset()
        self._dll.CloseDevice()

    def __enter__(self) -> "VirtualBus":
        return self

    def __exit__(self, *exc: object) -> None:
        self.reset()

    def plug(self, kind: int = 1, speed: Speed = Speed.HIGH, position: int = -1) -> VirtualDevice:
        """Plugs a device of kind 1, 2, 3 or 5 (FOREIGN for one discovery
        skips); `position` is its place in the enumeration order (-1 last)."""
        return VirtualDevice(self.library, _ok(self._dll.MaltorSim_Plug(kind, speed, position),
                                               f"a kind-{kind} device"))

    def trace(self) -> List[Transfer]:
        """Every transfer since the last clear (the latest 4,096)."""
        out = []
        buffer = ctypes.create_string_buffer(65536)
        for index in range(self._dll.MaltorSim_TraceCount()):
            entry = SimTraceEntry()
            stored = self._dll.MaltorSim_TraceGet(index, byref(entry), buffer, len(buffer))
            if stored >= 0:
                out.append(Transfer(entry.device, entry.pipe, entry.direction, entry.length,
                                    buffer.raw[:stored]))
        return out

    def frames_written(self) -> List[bytes]:
        """The frames written on the command OUT pipe, in order."""
        return [t.data for t in self.trace() if t.pipe == 0x02]

    def clear_trace(self) -> None:
        self._dll.MaltorSim_TraceClear()

    def debug_texts(self) -> List[str]:
        out = []
        buffer = ctypes.create_string_buffer(1024)
        for index in range(self._dll.MaltorSim_DebugCount()):
            if self._dll.MaltorSim_DebugGet(index, buffer, len(buffer)) >= 0:
                out.append(buffer.value.decode("utf-8", "replace"))
        return out

    def clear_debug(self) -> None:
        self._dll.MaltorSim_DebugClear()
