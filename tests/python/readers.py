"""Written files checked by independent readers: trimesh, numpy-stl and
admesh for STL, gmsh for STEP. Each check asserts and also returns what the
readers reported, so that tests and measurements share one code path.

    check_stl_with_readers(data, expected_volume, rel=1e-6) -> dict
    check_step_with_gmsh(text, expected_volume, rel=1e-6) -> dict
    admesh_report(path) -> dict

`data` is binary STL (bytes) or ASCII STL (str). Volumes are in the file's
units; STEP is written in metres, which gmsh reports in millimetres.
"""
import io
import os
import re
import shutil
import subprocess
import tempfile
import time

import numpy as np


def _stl_bytes(data):
    return data.encode("ascii") if isinstance(data, str) else bytes(data)


def _trimesh_report(raw):
    import trimesh
    loaded = trimesh.load(io.BytesIO(raw), file_type="stl")
    return {"trimesh_faces": len(loaded.faces), "watertight": bool(loaded.is_watertight),
            "is_volume": bool(loaded.is_volume), "trimesh_volume": float(loaded.volume)}


def _numpy_stl_report(raw, binary):
    from stl import mesh as stl_mesh
    from stl import Mode
    # The stored normals (numpy-stl would otherwise compute its own), which
    # must point the way the corners wind.
    m = stl_mesh.Mesh.from_file("part.stl", fh=io.BytesIO(raw), calculate_normals=False,
                                mode=Mode.BINARY if binary else Mode.ASCII)
    # Facets thinner than a few float32 steps of their coordinates have no
    # direction worth comparing (and below a cross product of 1e-9 the
    # writers store (0, 0, 1) for them).
    stored = np.asarray(m.normals, dtype=np.float64)
    v0, v1, v2 = (np.asarray(p, dtype=np.float64) for p in (m.v0, m.v1, m.v2))
    own = np.cross(v1 - v0, v2 - v0)
    length = np.linalg.norm(own, axis=1)
    longest = np.max([np.linalg.norm(v1 - v0, axis=1), np.linalg.norm(v2 - v1, axis=1),
                      np.linalg.norm(v0 - v2, axis=1)], axis=0)
    scale = np.max(np.abs(np.stack([v0, v1, v2])), axis=(0, 2))
    big = (length > 64 * np.finfo(np.float32).eps * np.maximum(scale, 1e-30) * longest) & (length > 2e-9)
    agree = np.einsum("ij,ij->i", stored[big], own[big] / length[big, None])
    volume, _, _ = m.get_mass_properties()
    return {"numpy_stl_facets": len(m.vectors), "numpy_stl_volume": float(volume),
            "normals_min_cos": float(agree.min()) if agree.size else 1.0,
            "thin_facets": int((~big).sum())}


_ADMESH_FIELDS = {
    "Number of facets": "facets",
    "Total disconnected facets": "disconnected",
    "Degenerate facets": "degenerate",
    "Edges fixed": "edges_fixed",
    "Facets removed": "facets_removed",
    "Facets added": "facets_added",
    "Facets reversed": "facets_reversed",
    "Backwards edges": "backwards_edges",
    "Normals fixed": "normals_fixed",
    "Number of parts": "parts",
    "Volume": "volume",
}


def admesh_report(path):
    """Runs Debian's admesh on an STL file (all checks and fixes, nothing
    written back) and parses its report. Count fields of the facet-status
    table come as (original, final) pairs."""
    exe = shutil.which("admesh")
    assert exe, "admesh is not installed (apt-get install admesh)"
    out = subprocess.run([exe, str(path)], capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stderr
    report = {}
    for line in out.stdout.splitlines():
        for label, key in _ADMESH_FIELDS.items():
            # "Volume" also ends other labels; the statistics columns hold two
            # "label : value" pairs per line.
            for m in re.finditer(r"(?:^|\s)" + re.escape(label) + r"\s*:\s*([-\d.]+)(?:\s+([-\d.]+))?",
                                 line):
                if key in report:
                    continue
                if key in ("facets", "disconnected") and m.group(2) is not None:
                    report[key] = (int(m.group(1)), int(m.group(2)))
                elif key == "volume":
                    report[key] = float(m.group(1))
                elif key not in ("facets", "disconnected"):
                    report[key] = int(m.group(1))
    missing = set(_ADMESH_FIELDS.values()) - set(report)
    assert not missing, f"admesh report without {sorted(missing)}:\n{out.stdout}"
    return report


def admesh_fixes(report):
    """The repairs admesh made to the facets (normals aside): zero for a
    file that is already a closed, consistently wound surface."""
    return (report["disconnected"][0] + report["degenerate"] + report["edges_fixed"]
            + report["facets_removed"] + report["facets_added"] + report["facets_reversed"]
            + report["backwards_edges"])


def _rel(a, b):
    return abs(a - b) / max(abs(a), abs(b), 1e-300)


def check_stl_with_readers(data, expected_volume, rel=1e-6):
    """Asserts that trimesh, numpy-stl and admesh read the STL as one closed,
    outward surface of the expected volume, with no repairs. Returns the
    readers' figures."""
    raw = _stl_bytes(data)
    binary = not isinstance(data, str)
    facets = raw.count(b"facet normal") if not binary else int.from_bytes(raw[80:84], "little")
    report = {"facets": facets}
    report.update(_trimesh_report(raw))
    report.update(_numpy_stl_report(raw, binary))
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "part.stl")
        with open(path, "wb") as f:
            f.write(raw)
        report["admesh"] = admesh_report(path)

    assert report["watertight"] and report["is_volume"], report
    assert report["trimesh_faces"] == facets, report
    assert _rel(report["trimesh_volume"], expected_volume) <= rel, report
    assert report["numpy_stl_facets"] == facets, report
    assert _rel(report["numpy_stl_volume"], expected_volume) <= rel, report
    assert report["normals_min_cos"] > 0.99, report
    ad = report["admesh"]
    # admesh also recomputes every normal and "fixes" those of facets too
    # small for a direction (the (0, 0, 1) ones); that is reported, not a fault.
    assert admesh_fixes(ad) == 0, ad
    assert ad["facets"] == (facets, facets) and ad["parts"] == 1, ad
    return report


def check_step_with_gmsh(text, expected_volume, rel=1e-6):
    """Asserts that gmsh imports the STEP text as exactly one volume whose
    mass is the expected volume (in the file's metres, reported by gmsh in
    millimetres: x 1e9). Returns the volume count, mass and import time."""
    import gmsh
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "part.step")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        # Not interruptible: gmsh would otherwise take over SIGINT. A session
        # opened by a caller is reused and left open.
        owned = not gmsh.isInitialized()
        if owned:
            gmsh.initialize(interruptible=False)
        gmsh.clear()
        try:
            gmsh.option.setNumber("General.Terminal", 0)
            t0 = time.perf_counter()
            gmsh.open(path)
            seconds = time.perf_counter() - t0
            volumes = gmsh.model.getEntities(3)
            mass = gmsh.model.occ.getMass(3, volumes[0][1]) if len(volumes) == 1 else None
        finally:
            if owned:
                gmsh.finalize()
    report = {"volumes": len(volumes), "mass": mass, "seconds": seconds}
    assert len(volumes) == 1, report
    assert _rel(mass / 1e9, expected_volume) <= rel, report
    return report
