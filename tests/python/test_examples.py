"""Every example script runs and its output files are well formed."""
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

from readers import check_step_with_gmsh, check_stl_with_readers

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        "examples")


def ascii_volume(text):
    corners = [tuple(map(float, line.split()[1:])) for line in text.splitlines()
               if line.lstrip().startswith("vertex ")]
    v = np.array(corners).reshape(-1, 3, 3)
    return float(np.einsum("ij,ij->i", v[:, 0], np.cross(v[:, 1], v[:, 2])).sum() / 6)


def test_build_parts_writes_every_part(tmp_path):
    out = subprocess.run([sys.executable, os.path.join(EXAMPLES, "build_parts.py"), str(tmp_path)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    volumes = {line.split()[0]: float(line.split()[2]) for line in out.stdout.splitlines()
               if " volume " in line}
    names = list(volumes)
    assert "bracket" in names and "plate_with_holes" in names
    for name in names:
        binary = (tmp_path / f"{name}.stl").read_bytes()
        (count,) = struct.unpack_from("<I", binary, 80)
        assert count > 0 and len(binary) == 84 + 50 * count
        ascii_text = (tmp_path / f"{name}_ascii.stl").read_text()
        assert ascii_text.count("facet normal") == count
        step = (tmp_path / f"{name}.step").read_text()
        assert step.startswith("ISO-10303-21;") and step.count("FACE_SURFACE(") == count
        # The ASCII file's shortest decimals read back to the solid's own
        # doubles: its volume, to the rounding of the sum, is the solid's.
        volume = ascii_volume(ascii_text)
        assert volume == pytest.approx(volumes[name], abs=5e-5)
        # Real readers take every file as one closed volume, without repairs.
        check_stl_with_readers(binary, volume, 1e-6)
        check_stl_with_readers(ascii_text, volume, 1e-6)
        check_step_with_gmsh(step, volume, 1e-6)


@pytest.mark.parametrize("executor", [[], ["--dask"]], ids=["processes", "dask"])
def test_batch_parts_writes_every_part(tmp_path, executor):
    import trimesh
    if executor:
        pytest.importorskip("dask.distributed")
    out = subprocess.run([sys.executable, os.path.join(EXAMPLES, "batch_parts.py"), str(tmp_path),
                          "--count", "5", "--workers", "2"] + executor,
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    rows = [line.split() for line in out.stdout.splitlines() if " volume " in line]
    assert len(rows) == 5 and out.stdout.splitlines()[-1].startswith("5 parts in ")
    for row in rows:
        name, volume, expected, triangles = row[0], float(row[2]), float(row[4]), int(row[6])
        # Plate less regular-polygon holes: exact up to rounding.
        assert volume == pytest.approx(expected, rel=1e-9)
        path = tmp_path / f"{name}.stl"
        binary = path.read_bytes()
        assert struct.unpack_from("<I", binary, 80) == (triangles,)
        mesh = trimesh.load(str(path), file_type="stl", process=False)
        assert len(mesh.faces) == triangles
        # Signed by the winding, so this also says the triangles face outward.
        assert mesh.volume == pytest.approx(expected, rel=1e-6)
