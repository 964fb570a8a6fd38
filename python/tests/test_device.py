"""Identity, versions, clock, settings and the log catalogue, checked against
what the virtual device holds."""

from datetime import datetime, timedelta, timezone

import pytest

import maltor
from maltor.sim import Content


@pytest.mark.parametrize("kind", [1, 2, 3, 5])
def test_open_reports_the_kind(bus, kind):
    bus.plug(kind=kind)
    with maltor.Device(bus.library) as device:
        assert device.kind == kind


def test_identity_is_the_devices(device, logger):
    logger.set_content(Content.FIRMWARE_VERSION, bytes([0x34, 0x12, 7, 8, 9]))
    logger.set_content(Content.SERIAL_NUMBER, b"SN-0042".ljust(128, b"\0"))
    assert device.firmware_version() == maltor.FirmwareVersion(0x1234, (7, 8, 9))
    assert device.serial_number() == b"SN-0042".ljust(128, b"\0")
    device.set_serial_number(b"NEW-7")
    assert logger.content(Content.SERIAL_NUMBER).startswith(b"NEW-7")


def test_firmware_text_and_image_version(device, logger, bus, tmp_path):
    assert device.firmware_text() == logger.content(Content.FIRMWARE_TEXT).decode()[:5]
    image = bytearray(524288)
    image[16368:16373] = b"V1.23"
    image[524280:524286] = b"240101"
    (tmp_path / "fw.bin").write_bytes(image)
    assert maltor.image_version(tmp_path / "fw.bin", bus.library) == "V1.23_240101"
    with pytest.raises(maltor.FileOpenError):
        maltor.image_version(tmp_path / "missing.bin", bus.library)


def test_clock_is_utc_seconds(device, logger):
    when = datetime(2026, 3, 1, 12, 30, 5, tzinfo=timezone(timedelta(hours=2)))
    device.set_clock(when)
    assert logger.clock_value() == int(when.timestamp())
    assert device.read_clock() == when
    assert device.read_clock().tzinfo is timezone.utc
    device.set_clock(0xFFFFFFFF)
    assert device.read_clock() == datetime(2106, 2, 7, 6, 28, 15, tzinfo=timezone.utc)


@pytest.mark.parametrize("bad", [
    datetime(2026, 1, 1),                         # no time zone
    datetime(1969, 12, 31, tzinfo=timezone.utc),  # before the clock's range
    1 << 32,
])
def test_clock_refuses_what_it_cannot_hold(device, bus, bad):
    with pytest.raises(ValueError):
        device.set_clock(bad)  # type: ignore[arg-type]
    assert bus.frames_written() == []


def test_settings_round_trip(device, logger):
    device.write_hw_settings(bytes(range(10, 20)))
    assert device.hw_settings()[:10] == bytes(range(10, 20))
    device.set_setting(5, 0xBEEF)
    assert device.setting(5) == 0xBEEF
    assert device.hw_settings()[10:12] == b"\xef\xbe"  # setting n is block bytes 2n, 2n+1
    device.store_settings()


def test_catalogue(device):
    logs = device.logs()
    assert len(logs) == device.log_count() > 0
    assert [log.index for log in logs] == list(range(len(logs)))
    assert all(len(log.words) == 7 and len(log.block_255) == 255 for log in logs)
    partition = device.logs(partition=0)
    assert partition and all(log.partition == 0 for log in partition)


def test_partition_format_sends_the_layout(device, bus):
    device.format_card(0x0102, partitions=b"\x01\x02\x03")
    frame = bus.frames_written()[-1]
    assert frame[3] == 0x28 and frame[5:11] == b"\x02\x01\x03\x01\x02\x03"


def test_mirel_queries(device, bus):
    assert len(device.mirel_log_counts()) == 2
    assert len(device.mirel_first_section()) == 2
    assert len(device.mirel_active_section()) == 4
    device.mirel_descriptor(2)
    assert bus.frames_written()[-1] == bytes.fromhex("000000000D00040002000000 06")
