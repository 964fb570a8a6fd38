"""pytest fixtures for testing applications against the virtual device.
Installed as a pytest plugin: the ``maltor_sim`` fixture is available in
every test once the package is installed."""

from typing import Iterator

import pytest

from .sim import VirtualBus


@pytest.fixture
def maltor_sim() -> Iterator[VirtualBus]:
    """An empty virtual bus (MaltorUSBdrv_sim, found as maltor.load finds
    it), emptied again after the test."""
    with VirtualBus() as bus:
        yield bus
