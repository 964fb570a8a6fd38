"""CAN set-up, bus control and frames against the virtual device, which has
buses 0 and 1 and loops every sent frame back."""

import pytest

import maltor
from maltor.sim import CanRxMode


def test_setup_record_goes_out_as_laid_out(device, bus):
    setup = maltor.BusSetup(1, 2, 3, 4, 0x11223344, 0x55667788, 0x99AABBCC)
    device.can.setup(setup)
    device.can.end_setup()
    frame = bus.frames_written()[0]
    assert frame[3] == 0x1D and frame[5:21] == bytes(setup)


@pytest.mark.parametrize("data_phase, code", [(False, 0x38), (True, 0x3A)])
def test_parameter_sets(device, bus, data_phase, code):
    device.can.set_parameters(258, 1000, 5, 6, 7, 8, data_phase=data_phase)
    frame = bus.frames_written()[-1]
    assert frame[3] == code and frame[5:15] == bytes.fromhex("0201E803000005060708")



def test_sent_frames_come_back(device):
    words = [device.can.send(maltor.CanFrame(0x7E0, bytes([n] * (n + 1)), bus=1))
             for n in range(3)]
    assert words == sorted(set(words))  # the device counts the frames
    back = list(device.can.frames(bus=1, timeout=0.01))
    assert [frame.data for frame in back] == [bytes([n] * (n + 1)) for n in range(3)]
    assert all(frame.bus == 1 and frame.id == 2016 for frame in back)  # the library's id
    assert device.can.receive(bus=0, timeout=0.01) is None


@pytest.mark.parametrize("identifier, data", [(0x123, b""), (0x1FFFFFFF, bytes(range(64)))])
def test_delivered_frames_are_received(device, logger, identifier, data):
    logger.can_deliver(0, identifier, data)
    frame = device.can.receive(bus=0, timeout=0.01)
    assert frame is not None and (frame.id, frame.data, frame.bus) == (identifier, data, 0)


def test_a_silent_device_times_out(device, logger, bus):
    logger.can_rx_mode(CanRxMode.SILENT)
    before = bus.clock.now
    assert device.can.receive(timeout=2.0) is None
    assert bus.clock.now - before >= 2000


@pytest.mark.parametrize("identifier, data, extended, fd", [
    (0x7FF, b"\x01\x02", False, False),
    (0x800, bytes(8), True, False),
    (0x10, bytes(12), False, True),
])
def test_python_can_messages(identifier, data, extended, fd):
    can = pytest.importorskip("can")
    message = maltor.CanFrame(identifier, data, bus=1).to_message()
    assert isinstance(message, can.Message)
    assert (message.is_extended_id, message.is_fd, message.dlc) == (extended, fd, len(data))
    assert maltor.CanFrame.from_message(message, bus=1) == maltor.CanFrame(identifier, data, 1)
