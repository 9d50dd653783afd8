"""_cellgeom cases.

* minkowski_reduce_rs, one call, on an ordinary cell (a face-centred cubic
  primitive cell) and on skewed cells (short cells hidden behind a random
  unimodular operator, so the reduction has real work to do), against the
  pure-Python transcription in tests/minkowski_reference.py (same results,
  checked).
* make_supercell_positions_rs at n output rows, against NumPy broadcasting,
  (P[None] + T[:, None]).reshape(-1, 3) for cell-major order and
  (P[:, None] + T[None]).reshape(-1, 3) for atom-major order (same bits,
  checked); its floor is one fill of a new array of the output's size.
"""

from __future__ import annotations

import numpy as np

import _cellgeom as cg

from bench.common import Case, ensure_paths, path_rivals, same, same_array

ensure_paths()
import minkowski_reference as ref  # noqa: E402

N_PRIM = 8
FCC = np.array([[0.0, 2.0, 2.0], [2.0, 0.0, 2.0], [2.0, 2.0, 0.0]])


def skewed_cell(seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    while True:
        q, _ = np.linalg.qr(rng.normal(size=(3, 3)))
        op = rng.integers(-4, 5, (3, 3))
        if round(abs(np.linalg.det(op))) == 1:
            return op @ (np.diag(rng.uniform(2.0, 6.0, 3)) @ q)


def minkowski_cases(before=None) -> list[Case]:
    def agree(name, ours, theirs):
        same(ours[0].tolist(), [list(r) for r in theirs[0]], "rcell")
        same(ours[1].tolist(), [list(r) for r in theirs[1]], "op")

    out = []
    for variant, cell in (("ordinary cell", FCC), ("skewed cell", skewed_cell(7))):
        plain = cell.tolist()
        case = Case("minkowski_reduce_rs", 1, lambda cell=cell: cg.minkowski_reduce_rs(cell),
                    rivals={"python transcription": lambda plain=plain: ref.minkowski_reduce(plain)},
                    agree=agree, variant=variant)
        if before is not None:
            case.rivals["before"] = lambda cell=cell: before.minkowski_reduce_rs(cell)
        out.append(case)
    return out


# What writing the output once costs from Python: an array of its size, filled.
FILL = "numpy empty+fill"


def filled(shape) -> np.ndarray:
    out = np.empty(shape)
    out.fill(0.0)
    return out


def supercell_cases(n: int, floor, before=None) -> list[Case]:
    rng = np.random.default_rng(1)
    prim = rng.uniform(0.0, 5.0, (N_PRIM, 3))
    points = rng.integers(0, 40, (max(n // N_PRIM, 1), 3)).astype(np.float64) * 5.0
    rows = len(prim) * len(points)
    out = []
    for cell_major, variant, numpy_fn in (
            (True, "cell-major", lambda: (prim[None] + points[:, None]).reshape(-1, 3)),
            (False, "atom-major", lambda: (prim[:, None] + points[None]).reshape(-1, 3))):
        def agree(name, ours, theirs):
            if name.startswith("floor") or name == FILL:
                same(ours.shape, theirs.shape, "shapes")
            else:
                same_array(ours, theirs, "positions")

        case = Case("make_supercell_positions_rs", rows,
                    lambda cm=cell_major: cg.make_supercell_positions_rs(prim, points, cm),
                    floors={"one fill": lambda: floor.fill(rows)},
                    rivals={"numpy broadcast": numpy_fn, FILL: lambda: filled((rows, 3))},
                    agree=agree, variant=variant)
        case.rivals.update(path_rivals(floor, lambda path, cm=cell_major: floor.supercell_on(path, prim, points, cm)))
        if before is not None:
            case.rivals["before"] = lambda cm=cell_major: before.make_supercell_positions_rs(prim, points, cm)
        out.append(case)
    return out
