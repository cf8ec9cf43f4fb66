"""Builds a family of parametric parts in parallel and writes each as binary STL.

Every one is a plate with a grid of round holes, in a range of sizes. Each
one is built, simplified and written on a worker; its solid, volume and STL
bytes come back to this process by pickling, and this process writes the
files, so workers need no shared file system.

Usage:
    python examples/batch_parts.py OUT_DIR [--count N] [--workers N] [--dask [ADDRESS]]

By default the parts are spread over a concurrent.futures.ProcessPoolExecutor
of --workers processes. With --dask they go to a Dask cluster instead: a
local one of --workers single-threaded processes, or the scheduler at
ADDRESS (for example tcp://10.0.0.5:8786). Parts are independent, so the
work scales with the number of workers: a cluster of N machines builds
N times as many parts in the same time.
"""
from __future__ import annotations

import argparse
import math
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from contextlib import ExitStack, contextmanager
from dataclasses import dataclass
from typing import Callable, Iterator, Optional

import quorvalind as q
import quorvalind.extras as extras
from quorvalind import Pnt, Trsf

HOLE_RADIUS = 3.0
HOLE_SEGMENTS = 48
PITCH = 12.0  # hole spacing, and plate size per hole


@dataclass(frozen=True)
class PlateDesign:
    """A plate of nx by ny hole cells, each PITCH square, `thickness` thick."""

    nx: int
    ny: int
    thickness: float

    @property
    def name(self) -> str:
        return f"plate_{self.nx}x{self.ny}_t{self.thickness:g}"

    def expected_volume(self) -> float:
        """The plate less its holes, each a regular HOLE_SEGMENTS-gon prism."""
        hole_area = HOLE_SEGMENTS / 2 * HOLE_RADIUS ** 2 * math.sin(2 * math.pi / HOLE_SEGMENTS)
        cells = self.nx * self.ny
        return (cells * PITCH ** 2 - cells * hole_area) * self.thickness


@dataclass(frozen=True)
class Plate:
    """What a worker sends back: every field travels by pickling."""

    name: str
    solid: q.Solid
    volume: float
    stl: bytes
    seconds: float


def family(count: int) -> list[PlateDesign]:
    """`count` plates: 2 to 6 holes across, 2 to 5 down, 4 to 6 thick."""
    return [PlateDesign(2 + i % 5, 2 + (i // 5) % 4, 4.0 + i % 3) for i in range(count)]


def build_plate(design: PlateDesign) -> q.Solid:
    width, depth = design.nx * PITCH, design.ny * PITCH
    plate = q.make_box(Pnt(0, 0, 0), width, depth, design.thickness)
    # Through holes: taller than the plate, fused first and cut once (one
    # boolean against the plate instead of one per hole).
    cylinder = q.make_cylinder(HOLE_RADIUS, design.thickness + 2, q.MeshParams(HOLE_SEGMENTS))
    holes = [q.transform(cylinder, Trsf.translation(Pnt((i + 0.5) * PITCH, (j + 0.5) * PITCH, -1)))
             for i in range(design.nx) for j in range(design.ny)]
    return q.cut(plate, q.fuse_all(holes))


def make_plate(design: PlateDesign) -> Plate:
    """The worker's job: build, simplify, render the STL."""
    start = time.perf_counter()
    solid = extras.simplify(build_plate(design))
    stl = q.write_binary_stl(solid.mesh())
    return Plate(design.name, solid, solid.volume(), stl, time.perf_counter() - start)


# Each runner is a context that starts its workers and yields a function
# from designs to parts, so that the timing covers the work, not the start-up.
Runner = Callable[[list[PlateDesign]], list[Plate]]


@contextmanager
def process_pool(workers: int) -> Iterator[Runner]:
    with ProcessPoolExecutor(max_workers=workers) as pool:
        yield lambda designs: list(pool.map(make_plate, designs))


@contextmanager
def dask_cluster(workers: int, address: Optional[str]) -> Iterator[Runner]:
    from dask.distributed import Client, LocalCluster

    # Dask's constructors carry no annotations, hence the ignores.
    with ExitStack() as stack:
        if address:
            client = stack.enter_context(Client(address))  # type: ignore[no-untyped-call]
        else:
            # The module holds the interpreter lock while it works, so the
            # parallelism comes from processes: one thread each.
            cluster = stack.enter_context(LocalCluster(  # type: ignore[no-untyped-call]
                n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None))
            client = stack.enter_context(Client(cluster))  # type: ignore[no-untyped-call]
        yield lambda designs: list(client.gather(client.map(make_plate, designs, pure=False)))


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--count", type=int, default=20, help="number of parts (default 20)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes (default: one per CPU)")
    parser.add_argument("--dask", nargs="?", const="", default=None, metavar="ADDRESS",
                        help="run on Dask: a local cluster, or the scheduler at ADDRESS")
    args = parser.parse_args(argv[1:])
    os.makedirs(args.out_dir, exist_ok=True)

    designs = family(args.count)
    if args.dask is None:
        runner = process_pool(args.workers)
        where = f"{args.workers} worker processes"
    else:
        runner = dask_cluster(args.workers, args.dask or None)
        where = f"Dask at {args.dask}" if args.dask else f"a local Dask cluster of {args.workers}"
    with runner as run:
        start = time.perf_counter()
        plates = run(designs)
        elapsed = time.perf_counter() - start

    for design, plate in zip(designs, plates):
        path = os.path.join(args.out_dir, plate.name + ".stl")
        with open(path, "wb") as f:
            f.write(plate.stl)
        mesh = plate.solid.mesh()
        print(f"{plate.name:18s} volume {plate.volume:12.4f} expected {design.expected_volume():12.4f}"
              f"  triangles {mesh.num_triangles:6d}  {plate.seconds:6.3f} s  -> {path}")
    print(f"{len(plates)} parts in {elapsed:.2f} s on {where}: "
          f"{len(plates) / elapsed:.2f} parts/s")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
