"""Every example script runs and its output files are well formed."""
import os
import struct
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        "examples")


def test_build_parts_writes_every_part(tmp_path):
    out = subprocess.run([sys.executable, os.path.join(EXAMPLES, "build_parts.py"), str(tmp_path)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    names = [line.split()[0] for line in out.stdout.splitlines() if " volume " in line]
    assert "bracket" in names and "plate_with_holes" in names
    for name in names:
        binary = (tmp_path / f"{name}.stl").read_bytes()
        (count,) = struct.unpack_from("<I", binary, 80)
        assert count > 0 and len(binary) == 84 + 50 * count
        ascii_text = (tmp_path / f"{name}_ascii.stl").read_text()
        assert ascii_text.count("facet normal") == count
        step = (tmp_path / f"{name}.step").read_text()
        # One STEP face per triangle; the STL splits triangles at the
        # vertices on their edges into more facets.
        assert step.startswith("ISO-10303-21;") and 0 < step.count("FACE_SURFACE(") <= count
