"""Firmware updates on the library's update thread: progress, stop and wait,
and a refusal turned into an exception."""

import os
import threading
from pathlib import Path
from typing import List

import pytest

import maltor
from maltor.sim import Frame, Image, UpdateAction


@pytest.fixture
def image(tmp_path: Path) -> Path:
    path = tmp_path / "firmware.bin"
    path.write_bytes(os.urandom(40000))
    return path


@pytest.mark.parametrize("gateway", [False, True])
def test_update_runs_to_the_end(device, logger, image, tmp_path, gateway):
    seen: List[int] = []
    threads = set()

    def progress(value: int) -> None:
        seen.append(value)
        threads.add(threading.get_ident())

    update = device.update_firmware(image, tmp_path / "update.log", gateway=gateway,
                                    progress=progress)
    assert update.wait() is True
    assert update.succeeded and not update.running
    assert seen[-1] == 100 == update.progress and seen == sorted(seen)
    assert threads and threading.get_ident() not in threads
    assert logger.image(Image.FIRMWARE) == image.read_bytes()


@pytest.mark.parametrize("stop_by", ["return", "raise"])
def test_update_stopped_and_waited_for(device, logger, image, tmp_path, stop_by):
    def progress(value: int) -> bool:
        if stop_by == "raise":
            raise KeyError("from the callback")
        return False

    update = device.update_firmware(image, tmp_path / "update.log", progress=progress)
    if stop_by == "raise":
        with pytest.raises(KeyError, match="from the callback"):
            update.wait()
    else:
        assert update.wait() is True  # stopped on request: no exception
    assert update.stopped and not update.succeeded and not update.running
    assert 0 < logger.image_info(Image.FIRMWARE).received < 40000


def test_wait_times_out_while_the_update_is_held(device, bus, image, tmp_path):
    with bus.clock.manual():  # holds the update at its first wait
        update = device.update_firmware(image, tmp_path / "update.log")
        with pytest.raises(maltor.UpdateRunningError) as caught:
            device.update_firmware(image, tmp_path / "second.log")
        assert caught.value.result == 1
        with pytest.raises(maltor.UpdateRunningError):
            device.send_gateway_configuration(b"config")
        bounded = update.running  # False where the library's wait cannot time out
        if bounded:
            assert update.wait(timeout=0) is False
        update.stop()
    assert update.wait() is True and not update.running
    if not bounded:
        pytest.skip("this library's MaltorWaitForUpdate does not report a running update")


def test_refused_block_fails_the_update(device, logger, image, tmp_path):
    logger.update_fault(Frame.LOGGER_DATA, UpdateAction.REFUSE, nth=3)
    update = device.update_firmware(image, tmp_path / "update.log")
    with pytest.raises(maltor.UpdateFailedError, match="update.log"):
        update.wait()
    assert not update.succeeded and update.progress < 100


@pytest.mark.parametrize("firmware, log, error, result", [
    ("", "update.log", maltor.PathError, 2),
    ("missing.bin", "update.log", maltor.FileOpenError, 3),
    ("firmware.bin", "no/update.log", maltor.FileOpenError, 3),
])
def test_start_failures(device, image, tmp_path, firmware, log, error, result):
    with pytest.raises(error) as caught:
        device.update_firmware(str(tmp_path / firmware) if firmware else "", tmp_path / log)
    assert caught.value.result == result
