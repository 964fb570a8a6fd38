"""Finding and loading the library, the prototype of every export used, and
the one call path that turns result codes and error detail into
exceptions."""

import contextlib
import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import POINTER, c_char_p, c_int32, c_int64, c_uint8, c_uint16, c_uint32, c_uint64
from ctypes import c_void_p
from pathlib import Path
from typing import Any, Callable, Dict, FrozenSet, Iterator, List, Optional, Tuple, Type, Union

from . import errors
from .records import BusSetup, CanMessage, Connection, DeviceInfo, ErrorDetail
from .records import SimImageInfo, SimTraceEntry

StrPath = Union[str, "os.PathLike[str]"]

if sys.platform == "win32":
    _LOADER: Any = ctypes.WinDLL
    _FUNCTYPE: Any = ctypes.WINFUNCTYPE
    _FILE_NAMES = {False: "MaltorUSBdrv.dll", True: "MaltorUSBdrv_sim.dll"}
elif sys.platform == "darwin":
    _LOADER = ctypes.CDLL
    _FUNCTYPE = ctypes.CFUNCTYPE
    _FILE_NAMES = {False: "libMaltorUSBdrv.dylib", True: "libMaltorUSBdrv_sim.dylib"}
else:
    _LOADER = ctypes.CDLL
    _FUNCTYPE = ctypes.CFUNCTYPE
    _FILE_NAMES = {False: "libMaltorUSBdrv.so", True: "libMaltorUSBdrv_sim.so"}

StatusCallback = _FUNCTYPE(None, c_uint32)

_u8p, _u16p, _u32p = POINTER(c_uint8), POINTER(c_uint16), POINTER(c_uint32)
_p = c_void_p  # byte buffers, in and out
_s = c_char_p  # paths
_LOG_INFO = [_u32p] * 7 + [_p, _p, _p]

# name: (result type, argument types)
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    # connection
    "GetConnected": (c_uint8, [POINTER(Connection)]),
    "DeviceIsReady": (c_uint8, []),
    "CloseDevice": (None, []),
    # identity, versions, clock, settings
    "SCGetFirmwareVersion": (c_uint8, [_u16p, _u8p, _u8p, _u8p]),
    "GetFirmwareVersion": (c_uint8, [_p]),
    "SCGetSerialNumber": (c_uint8, [_p]),
    "SCSetSerialNumber": (c_uint8, [c_uint8, _p]),
    "GetMicroType": (c_uint8, [_u8p]),
    "GetMaltorInfo": (c_uint8, [_u8p, _u32p]),
    "SCGetMMCInfo": (c_uint8, [_p]),
    "SCUSBGetConfigInfo": (c_uint8, [_p, _u32p]),
    "GetConfigurationInfo": (c_uint8, [_p]),
    "GetEEPROMPageFormat": (c_uint8, [c_uint8, _p]),
    "GetFileNameFirmwareVersion": (c_uint8, [_s, _p]),
    "SCGetDateTime": (c_uint8, [_u32p]),
    "SCSetDateTime": (c_uint8, [c_uint32]),
    "SCGetHWSettings": (c_uint8, [_p]),
    "SCSetHWSettings": (c_uint8, [c_uint8, c_uint8, c_uint8, _p]),
    "GetSingleHWSetting": (c_uint8, [c_uint16, _u16p]),
    "SetSingleHWSetting": (c_uint8, [c_uint16, c_uint16]),
    "StoreEEPROMHWSettings": (c_uint8, [c_uint8, c_uint8]),
    # storage
    "SCSDLogCount": (c_uint8, [_u16p]),
    "SCSDLogInfo": (c_uint8, [c_uint16] + _LOG_INFO),
    "SCPartitionLogCount": (c_uint8, [c_uint8, _u16p]),
    "SCPartitionLogInfo": (c_uint8, [c_uint8, c_uint16] + _LOG_INFO),
    "SCSDCurrentSector": (c_uint8, [_u32p]),
    "SCSDFormat": (c_uint8, [c_uint16, _u16p]),
    "SCPartitionFormat": (c_uint8, [c_uint16, c_uint8, _p, _u16p]),
    "MirelGetLogCount": (c_uint8, [_u16p, _u16p]),
    "MirelGetFirstLogSection": (c_uint8, [_u32p, _u32p]),
    "MirelGetActiveLogSection": (c_uint8, [_u32p] * 4),
    "MirelGetDescriptorInfo": (c_uint8, [c_uint32, _p]),
    "SCSDRequestSendData": (c_uint8, [_s, c_uint32, c_uint32]),
    "SCSDStopSendData": (c_uint8, []),
    "MirelGetFirstLogFile": (c_uint8, [c_uint32, c_uint32, _s]),
    # live data and streams
    "SCUSBStartLiveData": (c_uint8, [c_uint8]),
    "SCUSBStopLiveData": (c_uint8, [c_uint8]),
    "SCUSBGetLiveData": (c_uint8, [c_uint8, _p]),
    "SCUSBStartProcessData": (c_uint8, []),
    "SCUSBStopProcessData": (c_uint8, []),
    "SCUSBSendStreamData": (c_uint8, [c_uint8, _p, c_uint32]),
    # CAN
    "InitBus": (c_uint8, [BusSetup]),
    "DeInitBus": (c_uint8, []),
    "CANInterfaceEnable": (c_uint8, [_u32p]),
    "CANInterfaceDisable": (c_uint8, [_u32p]),
    "CANBusCount": (c_uint8, [_u8p]),
    "CANBusOpen": (c_uint8, [_u32p, c_uint16, c_uint8]),
    "CANBusClose": (c_uint8, [_u32p, c_uint16]),
    "CANBusOn": (c_uint8, [_u32p, c_uint16]),
    "CANBusOff": (c_uint8, [_u32p, c_uint16]),
    "CANParameterSet": (c_uint8, [_u32p, c_uint16, c_uint32] + [c_uint8] * 4),
    "CANDataParameterSet": (c_uint8, [_u32p, c_uint16, c_uint32] + [c_uint8] * 4),
    "CANBlockUIDGet": (c_uint8, [_u32p, c_uint16, c_uint8]),
    "CANTx": (c_uint8, [POINTER(CanMessage)]),
    "CANRx": (c_uint8, [_u16p, POINTER(CanMessage)]),
    # firmware updates, reflash, configuration
    "ReflashStatusCallBack": (None, [StatusCallback]),
    "UpdateFirmware": (c_uint8, [_s, _s]),
    "UpdateLoggerFirmware": (c_uint8, [_s, _s]),
    "StopFirmwareUpdate": (c_uint8, []),
    "SCReflashFile": (c_uint8, [_s]),
    "SendTaloqConfiguration": (c_uint8, [_p, c_uint32, _p]),
    "SCReconfigureFile": (c_uint8, [_s, _u16p]),
    "SCConfigFileData": (c_uint8, [_s]),
    # library services
    "MaltorGetVersion": (c_uint32, []),
    "MaltorResultText": (c_char_p, [c_uint8]),
    "MaltorGetLastError": (c_uint8, [POINTER(ErrorDetail)]),
    "MaltorWaitForUpdate": (c_uint8, [c_uint32]),
    "MaltorListDevices": (c_uint32, [POINTER(DeviceInfo), c_uint32]),
    "MaltorSelectDevice": (c_uint8, [_s]),
    "MaltorTraceStart": (c_uint8, [_s]),
    "MaltorTraceStop": (None, []),
}

_SIM_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "MaltorSim_Plug": (c_int32, [c_uint8, c_uint8, c_int32]),
    "MaltorSim_Unplug": (c_int32, [c_int32]),
    "MaltorSim_Replug": (c_int32, [c_int32]),
    "MaltorSim_Reset": (None, []),
    "MaltorSim_SetOption": (c_int32, [c_int32, c_uint32, c_uint32]),
    "MaltorSim_InjectFault": (c_int32, [c_int32, c_uint32, c_int32, c_uint32, c_uint32]),
    "MaltorSim_ClearFaults": (c_int32, [c_int32]),
    "MaltorSim_SetContent": (c_int32, [c_int32, c_uint32, _p, c_uint32]),
    "MaltorSim_GetContent": (c_int32, [c_int32, c_uint32, _p, c_uint32]),
    "MaltorSim_SendLiveData": (c_int32, [c_int32, _p, c_uint32]),
    "MaltorSim_CanDeliver": (c_int32, [c_int32, c_uint8, c_uint32, _p, c_uint8]),
    "MaltorSim_CanRxMode": (c_int32, [c_int32, c_uint32, c_uint16]),
    "MaltorSim_ImageInfo": (c_int32, [c_int32, c_uint32, POINTER(SimImageInfo)]),
    "MaltorSim_ImageGet": (c_int32, [c_int32, c_uint32, _p, c_uint32]),
    "MaltorSim_UpdateFault": (c_int32, [c_int32, c_uint32, c_uint32, c_uint32]),
    "MaltorSim_SetRestartTime": (c_int32, [c_int32, c_uint32]),
    "MaltorSim_TraceCount": (c_uint32, []),
    "MaltorSim_TraceGet": (c_int32, [c_uint32, POINTER(SimTraceEntry), _p, c_uint32]),
    "MaltorSim_TraceClear": (None, []),
    "MaltorSim_DebugCount": (c_uint32, []),
    "MaltorSim_DebugGet": (c_int32, [c_uint32, _p, c_uint32]),
    "MaltorSim_DebugClear": (None, []),
    "MaltorSim_ClockMode": (None, [c_uint32]),
    "MaltorSim_ClockAdvance": (None, [c_uint32]),
    "MaltorSim_ClockNow": (c_uint64, []),
    "MaltorSim_ClockWaiters": (c_uint32, []),
    "MaltorSim_ClockSetOrigin": (None, [c_int64, c_uint32]),
}


def _bind(dll: Any, prototypes: Dict[str, Tuple[Any, List[Any]]]) -> None:
    for name, (restype, argtypes) in prototypes.items():
        try:
            function = getattr(dll, name)
        except AttributeError:
            raise errors.LibraryNotFoundError(f"it does not export {name}") from None
        function.restype = restype
        function.argtypes = argtypes


def fspath(path: StrPath) -> bytes:
    """A path as the library takes it: the file system's bytes, or on
    Windows the ANSI code page its C runtime opens files with."""
    if sys.platform != "win32":
        return os.fsencode(path)
    try:
        return os.fspath(path).encode("mbcs", "strict")
    except UnicodeEncodeError as error:
        raise ValueError(f"{os.fspath(path)!r} cannot be named in the ANSI code page") from error


class Library:
    """One loaded MaltorUSBdrv library. The library keeps one device table,
    so a process talks to one device at a time per library."""

    def __init__(self, path: str, dll: Any) -> None:
        self.path = path
        self.dll = dll
        _bind(dll, _PROTOTYPES)
        self.has_sim = hasattr(dll, "MaltorSim_Plug")
        if self.has_sim:
            _bind(dll, _SIM_PROTOTYPES)
        # The status callback the library calls from its update thread. It
        # stays alive as long as the library and hands each report to the
        # update that runs now.
        self.progress_sink: Optional[Callable[[int], None]] = None
        self._status_callback = StatusCallback(self._on_status)
        self._callback_lock = threading.Lock()
        self._callback_registered = False

    def _on_status(self, progress: int) -> None:
        sink = self.progress_sink
        if sink is not None:
            sink(int(progress))

    def register_status_callback(self) -> None:
        with self._callback_lock:
            if not self._callback_registered:
                self.dll.ReflashStatusCallBack(self._status_callback)
                self._callback_registered = True

    @property
    def version(self) -> Tuple[int, int, int]:
        """The loaded library's version as (major, minor, patch)."""
        value = self.dll.MaltorGetVersion()
        return (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF

    def result_text(self, code: int) -> str:
        text = self.dll.MaltorResultText(code)
        return text.decode("utf-8", "replace") if text else ""

    def last_error(self) -> errors.Detail:
        """The calling thread's error detail, as the last device call left it."""
        record = ErrorDetail()
        self.dll.MaltorGetLastError(ctypes.byref(record))
        return errors.Detail(
            kind=record.kind,
            os_error=record.os_error,
            bytes_done=record.bytes_done,
            bytes_expected=record.bytes_expected,
            text=record.text.decode("utf-8", "replace"),
        )

    def call(
        self,
        name: str,
        *args: Any,
        code_1: Type[errors.MaltorError] = errors.UpdateRunningError,
        own: Optional[FrozenSet[int]] = None,
    ) -> None:
        """Calls a device operation that returns a result code; see check()."""
        self.check(name, getattr(self.dll, name)(*args), code_1, own)

    def check(
        self,
        name: str,
        result: int,
        code_1: Type[errors.MaltorError] = errors.UpdateRunningError,
        own: Optional[FrozenSet[int]] = None,
    ) -> None:
        """Raises for any result but 0, and for 0 when the error detail says
        something went wrong all the same (data that did not reach its
        destination). `own` lists the library codes a call that also
        returns device status bytes can return; its other results are the
        device's. Runs on the thread that made the call: the detail is that
        thread's."""
        detail = self.last_error()
        if result != 0:
            if own is not None and result not in own:
                # The library's sentence for this number is about its own code.
                raise errors.DeviceStatusError(name, result, f"device status {result}", detail)
            cls = errors.error_class(result, code_1)
            raise cls(name, result, self.result_text(result), detail)
        if detail.kind != errors.DETAIL_NONE:
            raise errors.DataLostError(name, 0, detail.text or "data was lost", detail)

    @contextlib.contextmanager
    def usb_trace(self, path: StrPath) -> Iterator[None]:
        """Records every USB transfer the library makes inside the block
        into a pcapng file at `path`."""
        result = self.dll.MaltorTraceStart(fspath(path))
        if result != 0:
            self.fail("MaltorTraceStart", result)
        try:
            yield
        finally:
            self.dll.MaltorTraceStop()

    def fail(self, name: str, result: int, cls: Optional[Type[errors.MaltorError]] = None) -> None:
        """Raises the exception for `result` of `name`: for the Maltor*
        services, which leave the error detail alone on success, and for
        results a call judges itself."""
        detail = self.last_error()
        cls = cls or errors.error_class(result)
        raise cls(name, result, self.result_text(result), detail)


_loaded: Dict[int, Library] = {}
_default: Optional[Library] = None
_load_lock = threading.Lock()


def _candidates(sim: bool, path: Optional[StrPath]) -> List[str]:
    """Where to look, in order: MALTOR_LIBRARY, the system's library path,
    then the caller's path (a file, or a folder holding the library)."""
    name = _FILE_NAMES[sim]
    out: List[str] = []
    env = os.environ.get("MALTOR_LIBRARY")
    if env:
        given = Path(env)
        if given.is_dir():
            given = given / name
        elif sim and given.name == _FILE_NAMES[False]:
            # MALTOR_LIBRARY names the hardware library: its sibling has the sim.
            given = given.with_name(name)
        out.append(str(given))
    out.append(ctypes.util.find_library(name.split(".")[0].replace("lib", "", 1)) or name)
    if path is not None:
        given = Path(path)
        out.append(str(given / name if given.is_dir() else given))
    return out


def load(path: Optional[StrPath] = None, *, sim: bool = False) -> Library:
    """Loads MaltorUSBdrv (or, with ``sim=True``, MaltorUSBdrv_sim, the
    library with the virtual device built in) and makes it the library that
    :class:`maltor.Device` uses by default. Looks at ``MALTOR_LIBRARY``
    first, then the system's library path, then `path`. Loading the same
    file again returns the same :class:`Library`."""
    global _default
    tried: List[str] = []
    with _load_lock:
        for candidate in _candidates(sim, path):
            try:
                dll = _LOADER(candidate)
                # Loading a library again gives the handle it already has.
                library = _loaded.get(dll._handle) or Library(candidate, dll)
            except OSError as error:  # LibraryNotFoundError too: an older library
                tried.append(f"{candidate}: {error}")
                continue
            if sim and not library.has_sim:
                tried.append(f"{candidate}: has no virtual device")
                continue
            _loaded[dll._handle] = library
            _default = library
            return library
    raise errors.LibraryNotFoundError(
        "MaltorUSBdrv could not be loaded; tried:\n  " + "\n  ".join(tried)
    )


def default_library() -> Library:
    """The library :func:`load` loaded last, loading MaltorUSBdrv if none was."""
    return _default if _default is not None else load()

