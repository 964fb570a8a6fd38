"""Every test runs against MaltorUSBdrv_sim, found as maltor.load finds it
(CI sets MALTOR_LIBRARY), on a fresh virtual bus from the package's own
``maltor_sim`` fixture."""

from typing import Iterator

import pytest

import maltor
import maltor.sim


@pytest.fixture
def bus(maltor_sim: maltor.sim.VirtualBus) -> maltor.sim.VirtualBus:
    return maltor_sim


@pytest.fixture
def logger(bus: maltor.sim.VirtualBus) -> maltor.sim.VirtualDevice:
    return bus.plug(kind=1)


@pytest.fixture
def device(bus: maltor.sim.VirtualBus,
           logger: maltor.sim.VirtualDevice) -> Iterator[maltor.Device]:
    with maltor.Device(bus.library) as opened:
        bus.clear_trace()
        yield opened
