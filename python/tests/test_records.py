"""The ctypes records against the C compiler's layout of the headers."""

import ctypes
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from maltor.records import C_NAMES

INCLUDE = Path(__file__).resolve().parents[2] / "include"


@pytest.fixture(scope="module")
def c_layout(tmp_path_factory: pytest.TempPathFactory) -> dict:
    """{"Type": size, "Type.field": offset} as a C compiler lays them out."""
    compiler = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if compiler is None or not (INCLUDE / "MaltorUSBdrv_sim.h").exists():
        pytest.skip("needs a C compiler and the repository's headers")
    lines = []
    for structure, c_name in C_NAMES.items():
        lines.append(f'printf("{c_name} %zu\\n", sizeof({c_name}));')
        for field in structure._fields_:
            lines.append(f'printf("{c_name}.{field[0]} %zu\\n", offsetof({c_name}, {field[0]}));')
    folder = tmp_path_factory.mktemp("layout")
    source = folder / "layout.c"
    source.write_text('#include <stdio.h>\n#include <stddef.h>\n#include "MaltorUSBdrv_sim.h"\n'
                      "int main(void) {\n" + "\n".join(lines) + "\nreturn 0;\n}\n")
    program = folder / "layout"
    subprocess.run([compiler, "-std=c11", f"-I{INCLUDE}", str(source), "-o", str(program)],
                   check=True)
    output = subprocess.run([str(program)], check=True, capture_output=True, text=True).stdout
    return {name: int(value) for name, value in (line.split() for line in output.splitlines())}


@pytest.mark.parametrize("structure", list(C_NAMES), ids=lambda s: C_NAMES[s])
def test_layout_matches_the_header(structure, c_layout):
    c_name = C_NAMES[structure]
    assert ctypes.sizeof(structure) == c_layout[c_name]
    for field in structure._fields_:
        assert getattr(structure, field[0]).offset == c_layout[f"{c_name}.{field[0]}"], field[0]
