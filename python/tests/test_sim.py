"""The virtual device's control API as an application's tests use it."""

import threading
from typing import List, Optional

import pytest

import maltor
from maltor.sim import FOREIGN


def test_listing_shows_devices_in_discovery_order(bus):
    bus.plug(kind=3)
    bus.plug(kind=FOREIGN)
    bus.plug(kind=1, position=0)
    listed = maltor.list_devices(bus.library)
    if not listed:
        pytest.skip("this library does not list devices")
    assert [device.kind for device in listed] == [1, 3]


def test_usb_trace_is_pcapng(device, bus, tmp_path):
    try:
        with bus.library.usb_trace(tmp_path / "usb.pcapng"):
            device.read_clock()
    except maltor.FileOpenError:
        pytest.skip("this library does not record USB traces")
    assert (tmp_path / "usb.pcapng").read_bytes()[:4] == b"\x0a\x0d\x0d\x0a"


def test_trace_shows_each_exchange(device, bus):
    device.read_clock()
    trace = bus.trace()
    assert [(t.pipe, t.direction) for t in trace] == [(0x02, 0), (0x82, 1)]
    assert trace[0].data[3] == 0x11 and trace[0].length == len(trace[0].data)
    bus.clear_trace()
    assert bus.trace() == []



def test_manual_clock_acts_in_the_middle_of_a_wait(device, logger, bus):
    received: List[Optional[maltor.CanFrame]] = []
    with bus.clock.manual():
        poller = threading.Thread(target=lambda: received.append(
            device.can.receive(bus=0, timeout=60.0)))
        poller.start()
        start = bus.clock.now
        logger.can_deliver(0, 0x42, b"mid-wait")
        bus.clock.advance(5)
        poller.join(10)
    assert not poller.is_alive()
    assert received[0] is not None and received[0].data == b"mid-wait"
    assert bus.clock.now - start < 60000


@pytest.mark.parametrize("write", ["download", "log_file", "read_configuration"])
def test_no_transfer_replaces_a_folder(device, tmp_path, write):
    (tmp_path / "keep").write_text("kept")
    arguments = {"download": (tmp_path, 0, 1), "log_file": (1, 64, tmp_path),
                 "read_configuration": (tmp_path,)}[write]
    with pytest.raises(ValueError, match="not a regular file"):
        getattr(device, write)(*arguments)
    assert (tmp_path / "keep").read_text() == "kept"
