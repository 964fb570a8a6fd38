"""Finding the library, and what every call's failure turns into."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import maltor
import maltor.sim
from maltor import _library

HEADER = Path(__file__).resolve().parents[2] / "include" / "MaltorUSBdrv.h"


def test_version_is_the_headers(bus):
    if not HEADER.exists():
        pytest.skip("needs the repository's header")
    text = HEADER.read_text()
    expected = tuple(int(re.search(rf"VERSION_{part} (\d+)", text).group(1))
                     for part in ("MAJOR", "MINOR", "PATCH"))
    assert bus.library.version == expected


@pytest.mark.parametrize("env, where, found", [
    ("hardware-name", None, True),  # MALTOR_LIBRARY names the hardware library: its sim sibling
    ("folder", None, True),         # ... or the folder holding it
    ("missing", "folder", True),    # a wrong MALTOR_LIBRARY falls through to the caller's path
    ("missing", "missing", False),
])
def test_load_looks_in_order(bus, tmp_path, env, where, found):
    # In a fresh process: this one has the library loaded already.
    sim_file = Path(bus.library.path).resolve()
    values = {"sim": sim_file, "folder": sim_file.parent, "missing": tmp_path / "none.so",
              "hardware-name": sim_file.with_name(_library._FILE_NAMES[False])}
    script = ("import sys, maltor\n"
              "try:\n    print(maltor.load(sys.argv[1] or None, sim=True).path)\n"
              "except maltor.LibraryNotFoundError as error:\n    print(error)\n")
    environment = dict(os.environ, MALTOR_LIBRARY=str(values[env]),
                       PYTHONPATH=os.pathsep.join(sys.path))
    output = subprocess.run([sys.executable, "-c", script, str(values[where]) if where else ""],
                            env=environment, capture_output=True, text=True, check=True).stdout
    if found:
        assert Path(output.strip()).resolve() == sim_file
    else:
        tried = output.splitlines()[1:]  # MALTOR_LIBRARY, the system's path, the caller's path
        assert len(tried) == 3 and "none.so" in tried[0] and "none.so" in tried[2]



def test_success_with_lost_data_raises(bus, monkeypatch):
    # A call that returns 0 while its thread's detail reports a file error.
    lost = maltor.Detail(kind=1, os_error=28, bytes_done=100, bytes_expected=512,
                         text="wrote 100 of 512 bytes")
    monkeypatch.setattr(bus.library, "last_error", lambda: lost)
    with pytest.raises(maltor.DataLostError) as caught:
        bus.library.check("GetLogData", 0)
    assert (caught.value.result, caught.value.detail) == (0, lost)
    assert "wrote 100 of 512 bytes" in str(caught.value)
