"""Lattice reduction and supercell construction."""

import numpy as np
from numpy.typing import NDArray

__all__ = ["minkowski_reduce_rs", "make_supercell_positions_rs"]

class PanicException(BaseException):
    """A broken invariant caught at the call boundary (e.g. a degenerate cell)."""

def minkowski_reduce_rs(
    cell: NDArray[np.float64],
) -> tuple[NDArray[np.float64], NDArray[np.int64]]: ...
def make_supercell_positions_rs(
    prim_positions: NDArray[np.float64],
    lattice_points: NDArray[np.float64],
    cell_major: bool | np.bool_,
) -> NDArray[np.float64]: ...
