"""Column-typed atom lines of extended-XYZ files."""

from collections.abc import Sequence
from typing import SupportsIndex, TypedDict

import numpy as np
from numpy.typing import NDArray

__all__ = ["write_atoms_rs", "read_atom_lines_rs"]

class PanicException(BaseException):
    """A broken invariant caught at the call boundary (e.g. too few columns)."""

class _AtomColumns(TypedDict):
    floats: NDArray[np.float64]
    ints: NDArray[np.int64]
    bools: NDArray[np.uint8]
    strs: list[list[str]]

# Column-type codes: 102 (b"f") float, 105 (b"i") int, 98 (b"b") bool,
# 115 (b"s") string/symbol; any other value 0..255 skips a token (reader)
# or writes nothing (writer).
_ColTypes = bytes | bytearray | Sequence[SupportsIndex]

def write_atoms_rs(
    sym_codepoints: NDArray[np.uint32],
    sym_width: SupportsIndex,
    float_mat: NDArray[np.float64],
    int_mat: NDArray[np.int64],
    bool_mat: NDArray[np.uint8],
    col_types: _ColTypes,
) -> str: ...
def read_atom_lines_rs(lines: Sequence[str], col_types: _ColTypes) -> _AtomColumns: ...
