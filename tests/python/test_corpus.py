"""Booleans on real meshes: the six operations of corpus_ops on every mesh of
../shared/corpus (beside the repository, as CI has it), normalised to 1,000
units, each mesh in a child process with a timeout, two at a time.

QUORVALIND_CORPUS_FULL=1 runs them at unit size as well (about four minutes
on two cores); there the 1e-6 weld grid is no longer small against the
parts, and volumes are held to what the grid can move instead.
"""
import json
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

import corpus_ops

FULL = os.environ.get("QUORVALIND_CORPUS_FULL") == "1"
SIZES = [1000.0, 1.0] if FULL else [1000.0]
TIMEOUT = 300  # seconds per mesh and size, six operations; the largest takes about 40
FILES = corpus_ops.corpus_files()
SIMPLIFY = corpus_ops.simplify_function() is not None
WELD_CELL = 1e-6

pytestmark = pytest.mark.skipif(
    not FILES, reason=f"no corpus meshes in {corpus_ops.CORPUS} (CI has ../shared/corpus)")

CASES = [(name, size, op) for size in SIZES for name in FILES for op in corpus_ops.OPERATIONS]


def case_id(case):
    name, size, op = case
    return f"{name}-{size:g}-{op}"


@pytest.fixture(scope="module")
def results():
    """{(name, size): {op: measures} or the reason there are none}."""
    def run(job):
        name, size = job
        cmd = [sys.executable, os.path.join(os.path.dirname(__file__), "corpus_ops.py"), name,
               repr(size)] + (["--simplified"] if SIMPLIFY else [])
        try:
            p = subprocess.run(cmd, capture_output=True, text=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return job, f"no result within {TIMEOUT} s"
        if p.returncode != 0:
            return job, f"exit status {p.returncode}: {p.stderr[-2000:]}"
        return job, {r["op"]: r for r in json.loads(p.stdout)}
    with ThreadPoolExecutor(2) as pool:
        return dict(pool.map(run, [(name, size) for size in SIZES for name in FILES]))


def measures(results, name, size, op):
    got = results[(name, size)]
    assert isinstance(got, dict), got  # a crash or a hang
    return got[op]


@pytest.mark.parametrize("case", CASES, ids=case_id)
def test_volume_agrees_with_manifold3d(results, case):
    r = measures(results, *case)
    ref = r["manifold_volume"]
    # Welding moves each vertex by at most half a cell diagonal, so the
    # volume by at most area x that; at 1,000 units this is far below 1e-7.
    weld = r["area"] * WELD_CELL * 3 ** 0.5 / 2
    assert abs(r["volume"] - ref) <= max(1e-7 * abs(ref), weld), r
    assert r["openness"] < 1e-9, r


@pytest.mark.parametrize("case", [c for c in CASES if c[2] == "cut_far"], ids=case_id)
def test_disjoint_cut_returns_the_input_volume(results, case):
    r = measures(results, *case)
    assert abs(r["volume"] - r["input_volume"]) <= 1e-9 * r["input_volume"], r


# Results that simplify does not close yet: this part comes from a
# single-precision file, and at 1,000 units this boolean result holds two
# slivers folded onto each other over one short edge of a crease, which a
# flip would mend only by leaving the surface by 1.8e-5. Strict: a case
# that starts passing, or another that starts failing, fails the run.
OPEN_AFTER_SIMPLIFY = {("908460.stl", "fuse_cylinder")}


def simplify_case(case):
    name, size, op = case
    if size == 1000.0 and (name, op) in OPEN_AFTER_SIMPLIFY:
        return pytest.param(case, marks=pytest.mark.xfail(
            strict=True, reason="slivers folded over one edge that no flip within the gap distance mends"))
    return case


@pytest.mark.skipif(not SIMPLIFY, reason="quorvalind.extras.simplify is not in this build")
@pytest.mark.parametrize("case", [simplify_case(c) for c in CASES], ids=case_id)
def test_simplified_result_is_closed_and_edge_manifold(results, case):
    assert measures(results, *case)["simplified_closed"]
