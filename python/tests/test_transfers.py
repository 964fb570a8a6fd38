"""Downloads, the log file, live data, streams, reflash and configuration
transfers, checked byte for byte against what the virtual device sends or
took."""

from typing import List, Tuple

import pytest

import maltor
from maltor.sim import Content, Fault, Image, Option


def card_bytes(first_sector: int, sectors: int) -> bytes:
    """The virtual card's bytes from `first_sector` on."""
    start = first_sector * 512
    return bytes(((k % 512) ^ (k // 512 * 7) ^ (k // 512 >> 8)) & 0xFF
                 for k in range(start, start + sectors * 512))


def log_file_bytes(section: int, length: int) -> bytes:
    """A log-section device's log file as it reaches the disk (text mode)."""
    raw = bytes(0x0A if k % 64 == 63 else (k + section) & 0xFF for k in range(length))
    return raw.replace(b"\n", b"\r\n")


def test_download_reports_progress(device, logger, bus, tmp_path):
    # Paced on a manual clock that moves only as progress is reported, so
    # the download is seen part-way.
    logger.set_option(Option.STREAM_RATE, 64)
    seen: List[Tuple[int, int]] = []

    def progress(done: int, total: int) -> None:
        seen.append((done, total))
        bus.clock.advance(2000)

    out = tmp_path / "card.bin"
    with bus.clock.manual():
        assert device.download(out, 10, 265, progress, poll_interval=0.005) == 256 * 512
    assert out.read_bytes() == card_bytes(10, 256)
    assert seen[-1] == (256 * 512, 256 * 512)
    assert any(0 < done < 256 * 512 for done, _ in seen)
    assert [done for done, _ in seen] == sorted(done for done, _ in seen)


@pytest.mark.parametrize("stop_by", ["return", "raise"])
def test_download_stopped_from_progress_keeps_what_came(device, logger, bus, tmp_path, stop_by):
    logger.set_option(Option.STREAM_RATE, 64)

    def progress(done: int, total: int) -> bool:
        bus.clock.advance(2000)
        if done > 0 and stop_by == "raise":
            raise KeyboardInterrupt
        return done == 0

    out = tmp_path / "card.bin"
    with bus.clock.manual():
        if stop_by == "raise":
            with pytest.raises(KeyboardInterrupt):
                device.download(out, 0, 2047, progress, poll_interval=0.005)
        else:
            device.download(out, 0, 2047, progress, poll_interval=0.005)
    done = out.stat().st_size
    assert 0 < done < 2048 * 512
    assert out.read_bytes() == card_bytes(0, 2048)[:done]


def test_download_that_reaches_no_file_raises(device, tmp_path):
    with pytest.raises(maltor.DataLostError) as caught:
        device.download(tmp_path / "no" / "card.bin", 0, 3)
    assert caught.value.detail.bytes_done == 0
    assert caught.value.detail.bytes_expected == 4 * 512



def test_log_file(device, tmp_path):
    out = tmp_path / "log.txt"
    seen: List[Tuple[int, int]] = []
    device.log_file(3, 5000, out, lambda done, total: seen.append((done, total)))
    assert out.read_bytes() == log_file_bytes(3, 5000)
    assert seen[-1] == (5000, 5000)


@pytest.mark.parametrize("setup, section, path, error, result", [
    ("sum", 1, "log.txt", maltor.LogSumError, 9),
    (None, 1, "no/log.txt", maltor.LogOpenError, 10),
    (None, 64, "log.txt", maltor.DeviceStatusError, 2),  # the device refuses the section
])
def test_log_file_failures(device, logger, tmp_path, setup, section, path, error, result):
    if setup == "sum":
        logger.set_content(Content.LOG_SUM_OFFSET, (1).to_bytes(2, "little"))
    with pytest.raises(error) as caught:
        device.log_file(section, 640, tmp_path / path)
    assert caught.value.result == result


def test_live_records_come_in_order(device):
    with device.live(timeout=5) as live:
        records = [record for _, record in zip(range(3), live)]
    firsts = [record[0] for record in records]
    assert firsts == sorted(firsts) and len(set(firsts)) == 3
    for record in records:
        assert record == bytes((record[0] + i) & 0xFF for i in range(512))


def test_live_iteration_ends_when_idle(device, logger):
    logger.set_option(Option.LIVE_PERIOD, 0)
    packets = [bytes([n]) * 512 for n in (1, 2)]
    for packet in packets:
        logger.send_live_data(packet)
    with device.live(timeout=0.05) as live:
        assert list(live) == packets


def test_stream_data_goes_out(device, logger):
    device.send_stream(b"\x01\x02\x03raw")
    assert logger.content(Content.STREAM_DATA) == b"\x01\x02\x03raw"
    device.start_process_data()
    device.stop_process_data()


def test_reflash_sends_the_image(device, logger, tmp_path):
    image = bytes((i * 7) & 0xFF for i in range(300000))
    (tmp_path / "dp.bin").write_bytes(image)
    device.reflash(tmp_path / "dp.bin")
    assert logger.image(Image.REFLASH) == image[:262144]
    with pytest.raises(maltor.TransferError):
        device.reflash(tmp_path / "missing.bin")


def test_configuration_round_trip(device, logger, tmp_path):
    sent = bytes(range(256)) * 20
    (tmp_path / "sent.cfg").write_bytes(sent)
    device.send_configuration(tmp_path / "sent.cfg")
    assert device.read_configuration(tmp_path / "back.cfg") == len(sent)
    assert (tmp_path / "back.cfg").read_bytes() == sent
    logger.inject_fault(Fault.NO_REPLY, 0x1C, nth=3)  # the read-back stops part-way
    with pytest.raises(maltor.ExchangeError):
        device.read_configuration(tmp_path / "part.cfg")
    assert 0 < (tmp_path / "part.cfg").stat().st_size < len(sent)


def test_gateway_configuration(device, logger):
    data = bytes(range(200)) * 100
    device.send_gateway_configuration(data)
    assert logger.image(Image.CONFIGURATION) == data
    assert logger.image_info(Image.CONFIGURATION).finished == 1
