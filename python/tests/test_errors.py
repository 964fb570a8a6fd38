"""Faults of the virtual device, turned into the exception for each result."""

from pathlib import Path
from typing import Any, Callable

import pytest

import maltor
from maltor.sim import ANY_COMMAND, Fault

Call = Callable[[maltor.Device, Path], Any]


@pytest.mark.parametrize("fault, command, param, call, error, result", [
    (Fault.NO_REPLY, 0x11, 0, lambda d, _: d.read_clock(), maltor.ExchangeError, 6),
    (Fault.WRONG_SEQUENCE, 0x22, 0, lambda d, _: d.hw_settings(), maltor.ExchangeError, 6),
    (Fault.WRONG_ECHO, 0x21, 0, lambda d, _: d.write_hw_settings(b"x"), maltor.ExchangeError, 6),
    (Fault.WRITE_FAILS, ANY_COMMAND, 0, lambda d, _: d.micro_type(), maltor.ExchangeError, 6),
    (Fault.UNPLUG_ON_READ, 0x15, 0, lambda d, _: d.serial_number(), maltor.ExchangeError, 6),
    (Fault.STREAM_STALL, 0, 1000, lambda d, out: d.download(out / "card.bin", 0, 7),
     maltor.ExchangeError, 6),
    # Status bytes share the numbers of the library's codes, yet stay the device's.
    (Fault.STATUS, 0, 3, lambda d, _: d.mirel_log_counts(), maltor.DeviceStatusError, 3),
    (Fault.STATUS, 0x24, 2, lambda d, _: d.store_settings(), maltor.DeviceStatusError, 2),
    (Fault.SHORT_REPLY, 0x23, 8, lambda d, _: d.eeprom_page(1), maltor.DeviceStatusError, 1),
])
def test_fault_raises(device, logger, bus, tmp_path, fault, command, param, call, error, result):
    logger.inject_fault(fault, command, 1, param)
    with pytest.raises(error) as caught:
        call(device, tmp_path)
    assert caught.value.result == result
    assert isinstance(caught.value.detail, maltor.Detail)
    if error is maltor.DeviceStatusError:
        assert caught.value.text == f"device status {result}"
    else:
        assert caught.value.text == bus.library.result_text(result) in str(caught.value)


def test_unplugged_device(device, logger, bus):
    logger.unplug()
    with pytest.raises(maltor.ExchangeError):
        device.micro_type()
    device.close()
    with pytest.raises(maltor.NoDeviceError) as caught:
        device.micro_type()
    assert caught.value.result == 7 and caught.value.function == "GetMicroType"
    logger.replug()
    assert device.open().micro_type() >= 0


def test_argument_refused_before_sending(device, bus):
    with pytest.raises(maltor.ArgumentError) as caught:
        bus.library.call("SCGetSerialNumber", None)
    assert isinstance(caught.value, ValueError) and caught.value.result == 11
    assert bus.frames_written() == []
