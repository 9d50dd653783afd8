"""_cellgeom against what a user would otherwise run.

* minkowski_reduce_rs, per call, on a batch of skewed cells: against the
  pure-Python transcription in tests/minkowski_reference.py (same results,
  checked), and against numpy.linalg.det of the same 3x3 array, the cost of
  one small NumPy call, i.e. a floor for anything that goes through NumPy.
* make_supercell_positions_rs at n output rows: against NumPy broadcasting,
  (P[None] + T[:, None]).reshape(-1, 3) for cell-major order and
  (P[:, None] + T[None]).reshape(-1, 3) for atom-major order (same bits,
  checked).

Usage: python bench/bench_cellgeom.py [n ...]   (output rows, default 10**3..10**7)
"""

from __future__ import annotations

import pathlib
import sys

import numpy as np

import _cellgeom as cg

ROOT = pathlib.Path(__file__).resolve().parents[1]
for path in (ROOT, ROOT / "tests"):
    if str(path) not in sys.path:
        sys.path.insert(0, str(path))

import minkowski_reference as ref  # noqa: E402
from bench.common import Row, compare, print_rows  # noqa: E402

N_CELLS = 50
N_PRIM = 8
SIZES = [10**3, 10**4, 10**5, 10**6, 10**7]


def skewed_cells(count: int, seed: int = 0) -> list[np.ndarray]:
    """Short orthogonal-ish cells hidden behind a random unimodular operator,
    so every reduction has real work to do."""
    rng = np.random.default_rng(seed)
    cells = []
    while len(cells) < count:
        q, _ = np.linalg.qr(rng.normal(size=(3, 3)))
        op = rng.integers(-4, 5, (3, 3))
        if round(abs(np.linalg.det(op))) != 1:
            continue
        cells.append(op @ (np.diag(rng.uniform(2.0, 6.0, 3)) @ q))
    return cells


def bench_minkowski() -> list[Row]:
    cells = skewed_cells(N_CELLS)
    nested = [c.tolist() for c in cells]
    for cell, plain in zip(cells, nested):
        rcell, op = cg.minkowski_reduce_rs(cell)
        want_rcell, want_op = ref.minkowski_reduce(plain)
        if op.tolist() != want_op or rcell.tolist() != want_rcell:
            raise AssertionError("minkowski_reduce_rs and the Python transcription disagree")

    def per_call(rows: list[Row]) -> list[Row]:
        for r in rows:
            r.ours /= N_CELLS
            r.theirs /= N_CELLS
        return rows

    return per_call(compare("minkowski_reduce_rs (per call)", 1,
                            lambda: [cg.minkowski_reduce_rs(c) for c in cells], {
                                "python transcription": lambda: [ref.minkowski_reduce(c)
                                                                 for c in nested],
                                "numpy.linalg.det (floor)": lambda: [np.linalg.det(c)
                                                                     for c in cells],
                            }))


def bench_supercell(n: int) -> list[Row]:
    rng = np.random.default_rng(1)
    prim = rng.uniform(0.0, 5.0, (N_PRIM, 3))
    points = rng.integers(0, 40, (max(n // N_PRIM, 1), 3)).astype(np.float64) * 5.0

    def cell_major_np():
        return (prim[None] + points[:, None]).reshape(-1, 3)

    def atom_major_np():
        return (prim[:, None] + points[None]).reshape(-1, 3)

    for flag, numpy_fn in ((True, cell_major_np), (False, atom_major_np)):
        if cg.make_supercell_positions_rs(prim, points, flag).tobytes() != numpy_fn().tobytes():
            raise AssertionError("make_supercell_positions_rs and NumPy broadcasting disagree")

    rows = compare("make_supercell_positions_rs(cell)", n,
                   lambda: cg.make_supercell_positions_rs(prim, points, True),
                   {"numpy broadcast, cell-major": cell_major_np})
    rows += compare("make_supercell_positions_rs(atom)", n,
                    lambda: cg.make_supercell_positions_rs(prim, points, False),
                    {"numpy broadcast, atom-major": atom_major_np})
    return rows


def run(sizes: list[int]) -> list[Row]:
    rows = bench_minkowski()
    for n in sizes:
        rows += bench_supercell(n)
    return rows


if __name__ == "__main__":
    print_rows(run([int(a) for a in sys.argv[1:]] or SIZES))
