"""The C records as ctypes structures, laid out as in MaltorUSBdrv.h and
MaltorUSBdrv_sim.h: the byte-packed records with ``_pack_ = 1``, the others
with natural alignment."""

import ctypes

from ctypes import c_char, c_int32, c_uint8, c_uint16, c_uint32, c_uint64

CAN_MAX_DATA = 64
LIVE_RECORD_SIZE = 512
SECTOR_SIZE = 512


class Connection(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("device_kind", c_uint8),
        ("file_handle", c_uint64),
        ("reserved_word", c_uint64),
        ("reserved_half", c_uint16),
    ]


class BusSetup(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("setup_byte_1", c_uint8),
        ("setup_byte_2", c_uint8),
        ("setup_byte_3", c_uint8),
        ("setup_byte_4", c_uint8),
        ("setup_word_1", c_uint32),
        ("setup_word_2", c_uint32),
        ("setup_word_3", c_uint32),
    ]


class CanMessage(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("bus", c_uint8),
        ("attribute", c_uint8),
        ("length", c_uint8),
        ("identifier", c_uint32),
        ("returned_word", c_uint32),
        ("receive_timeout", c_uint32),
        ("data", c_uint8 * CAN_MAX_DATA),
    ]


class ErrorDetail(ctypes.Structure):
    _fields_ = [
        ("result", c_uint8),
        ("kind", c_uint8),
        ("os_error", c_int32),
        ("bytes_done", c_uint64),
        ("bytes_expected", c_uint64),
        ("text", c_char * 256),
    ]


class DeviceInfo(ctypes.Structure):
    _fields_ = [
        ("kind", c_uint8),
        ("in_use", c_uint8),
        ("vendor_id", c_uint16),
        ("product_id", c_uint16),
        ("serial", c_char * 64),
        ("location", c_char * 32),
        ("path", c_char * 400),
    ]


class SimImageInfo(ctypes.Structure):
    _fields_ = [
        ("announced", c_uint32),
        ("received", c_uint32),
        ("blocks", c_uint32),
        ("finished", c_uint32),
        ("reconnects", c_uint32),
        ("errors", c_uint32),
        ("hash", c_uint64),
    ]


class SimTraceEntry(ctypes.Structure):
    _fields_ = [
        ("device", c_int32),
        ("pipe", c_uint8),
        ("direction", c_uint8),
        ("length", c_uint32),
        ("stored", c_uint32),
    ]


# Each structure with the name of its C type.
C_NAMES = {
    Connection: "MaltorConnection",
    BusSetup: "MaltorBusSetup",
    CanMessage: "MaltorCanMessage",
    ErrorDetail: "MaltorErrorDetail",
    DeviceInfo: "MaltorDeviceInfo",
    SimImageInfo: "MaltorSimImageInfo",
    SimTraceEntry: "MaltorSimTraceEntry",
}
