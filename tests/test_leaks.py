"""Reference and memory hygiene of `_atomlines` and `_cellgeom`, and of the
call boundary's failure paths shared by all three modules: every exported
function is called many times, on success and on each way it can fail, and
the reference counts of the arguments, the traced allocations and the
resident size must stay flat. (`_coordtext`'s own success and failure paths
are covered in test_frame.py.)"""

import gc
import sys

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import _atomlines
import _cellgeom
import _coordtext
from leakcheck import assert_no_leaks, rss_bytes, run_calls

A, C, X = _atomlines, _cellgeom, _coordtext
# Each module creates its own PanicException class.
APanic, CPanic = A.PanicException, C.PanicException
N = 2000


def _broadcast(rows, cols, dtype=np.float64):
    base = np.zeros(max(cols, 1), dtype)
    return as_strided(base, shape=(rows, cols), strides=(0, base.itemsize))


# Arguments shared by the calls below; all are watched for reference leaks.
good_lines = [f"Fe{i % 7} {i}.5 -{i} T 1e-3 tail" for i in range(N)]
codes = b"sfibf"
bad_last = good_lines[:-1] + ["Fe 1.0 2 T x"]          # float column, last row
bad_int = good_lines[:-1] + ["Fe 1.0 99999999999999999999 T 1"]
bad_bool = good_lines[:-1] + ["Fe 1.0 2 yes 1"]
short_last = good_lines[:-1] + ["Fe 1.0"]
bytes_item = good_lines[:-1] + [b"Fe 1 2 T 3"]
surrogate = good_lines[:-1] + ["Fe\udc80 1 2 T 3"]
sym = np.array([list(map(ord, "Fe")) + [0, 0]] * N, dtype=np.uint32)
floats = np.random.default_rng(1).normal(size=(N, 3)) * 100
ints = np.arange(2 * N, dtype=np.int64).reshape(N, 2)
bools = (np.arange(N, dtype=np.uint8) % 3).reshape(N, 1)
narrow = floats[:, :1].copy()
cell = np.array([[1.0, 0, 0], [5, 1, 0], [3, 7, 1]])
zero_row = np.array([[1.0, 0, 0], [0, 0, 0], [0, 0, 1]])
nan_cell = np.array([[1.0, 0, 0], [0, np.nan, 0], [0, 0, 1]])
prim = np.random.default_rng(2).normal(size=(40, 3))
lattice = np.random.default_rng(3).normal(size=(50, 4))
huge_prim = _broadcast(2**40, 3)
huge_lattice = _broadcast(2**40, 3)
col_list = [115, 102, 105, 98, 102]
big_width = 2**40

WATCHED = [good_lines, codes, bad_last, bad_int, bad_bool, short_last, bytes_item, surrogate, sym, floats, ints,
           bools, narrow, cell, zero_row, nan_cell, prim, lattice, huge_prim, huge_lattice, col_list, big_width,
           good_lines[-1], bad_last[-1], bytes_item[-1], surrogate[-1]]

# (function, args, kwargs, expected exception or None)
CALLS = [
    # _atomlines reader: success, each failure kind in the last row, argument errors
    (A.read_atom_lines_rs, (good_lines, codes), {}, None),
    (A.read_atom_lines_rs, (good_lines,), {"col_types": col_list}, None),
    (A.read_atom_lines_rs, (bad_last, codes), {}, ValueError),
    (A.read_atom_lines_rs, (bad_int, codes), {}, ValueError),
    (A.read_atom_lines_rs, (bad_bool, codes), {}, ValueError),
    (A.read_atom_lines_rs, (short_last, codes), {}, ValueError),
    (A.read_atom_lines_rs, (bytes_item, codes), {}, TypeError),
    (A.read_atom_lines_rs, (surrogate, codes), {}, UnicodeEncodeError),
    (A.read_atom_lines_rs, (good_lines, col_list + [256]), {}, OverflowError),
    (A.read_atom_lines_rs, (good_lines, col_list + [2**70]), {}, OverflowError),
    (A.read_atom_lines_rs, (good_lines, col_list + [1.5]), {}, TypeError),
    (A.read_atom_lines_rs, (good_lines, "sfibf"), {}, TypeError),
    (A.read_atom_lines_rs, (iter(good_lines), codes), {}, TypeError),
    # _atomlines writer
    (A.write_atoms_rs, (sym, 2, floats, ints, bools, codes), {}, None),
    (A.write_atoms_rs, (sym, 2, floats, ints, bools, b"sffffibf"), {}, APanic),  # 4th float column
    (A.write_atoms_rs, (sym, big_width, floats, ints, bools, codes), {}, APanic),
    (A.write_atoms_rs, (sym, 2, narrow, ints, bools, b"sff"), {}, APanic),
    (A.write_atoms_rs, (sym.astype(np.int32), 2, floats, ints, bools, codes), {}, TypeError),
    (A.write_atoms_rs, (sym, -1, floats, ints, bools, codes), {}, OverflowError),
    (A.write_atoms_rs, (sym, 2.0, floats, ints, bools, codes), {}, TypeError),
    (A.write_atoms_rs, (sym, 2, floats, ints.astype(np.int32), bools, codes), {}, TypeError),
    (A.write_atoms_rs, (sym, 2, floats, ints, bools.astype(bool), codes), {}, TypeError),
    (A.write_atoms_rs, (sym, 2, floats, ints, bools, col_list + [-1]), {}, OverflowError),
    # _cellgeom
    (C.minkowski_reduce_rs, (cell,), {}, None),
    (C.minkowski_reduce_rs, (), {"cell": cell.T}, None),
    (C.minkowski_reduce_rs, (zero_row,), {}, CPanic),
    (C.minkowski_reduce_rs, (nan_cell,), {}, CPanic),
    (C.minkowski_reduce_rs, (cell[:2],), {}, ValueError),
    (C.minkowski_reduce_rs, (cell.ravel(),), {}, TypeError),
    (C.minkowski_reduce_rs, (cell.tolist(),), {}, TypeError),
    (C.make_supercell_positions_rs, (prim, lattice, True), {}, None),
    (C.make_supercell_positions_rs, (lattice[::-2], prim.T.copy().T), {"cell_major": np.False_}, None),
    (C.make_supercell_positions_rs, (narrow, lattice, True), {}, CPanic),
    (C.make_supercell_positions_rs, (huge_prim, huge_lattice, True), {}, CPanic),  # size panic
    (C.make_supercell_positions_rs, (huge_prim[: 2**30], huge_lattice[: 2**30], False), {}, CPanic),
    (C.make_supercell_positions_rs, (prim, lattice, 1), {}, TypeError),
    (C.make_supercell_positions_rs, (prim, lattice.astype(np.float32), True), {}, TypeError),
    # binding failures at the shared call boundary, every module
    (A.read_atom_lines_rs, (good_lines, codes, None), {}, TypeError),
    (A.read_atom_lines_rs, (good_lines,), {"col_type": codes}, TypeError),
    (A.read_atom_lines_rs, (good_lines,), {"lines": good_lines, "col_types": codes}, TypeError),
    (A.write_atoms_rs, (sym, 2), {}, TypeError),
    (C.minkowski_reduce_rs, (), {}, TypeError),
    (C.make_supercell_positions_rs, (prim,), {"cell_major": True, "bogus": 1}, TypeError),
    (X.parse_xyz_block_rs, (good_lines,), {"lines": good_lines}, TypeError),
    (X.format_poscar_positions_rs, (floats, None, None), {}, TypeError),
    (X.format_xyz_block_rs, (), {"symbols": ["H"], "position": floats}, TypeError),
]


def test_every_call_raises_what_is_expected():
    # Makes the leak test below meaningful: each failure path is the one meant.
    run_calls(CALLS, 1)


def test_no_leaks_on_success_and_failure_paths():
    # Flat when nothing leaks: one small object (an int, an exception, a
    # message) leaked by any one call over 30 rounds is more than 1 kB; every
    # round builds several hundred kB of results, so a leaked native buffer
    # shows in RSS.
    assert_no_leaks(CALLS, WATCHED, traced_limit=1024, rss_limit=24 * 2**20)


@pytest.mark.parametrize("fn, args, exc", [
    (A.read_atom_lines_rs, (bad_last, codes), ValueError),
    (A.write_atoms_rs, (sym, 2, narrow, ints, bools, b"sff"), APanic),
    (C.minkowski_reduce_rs, (nan_cell,), CPanic),
    (C.make_supercell_positions_rs, (huge_prim, huge_lattice, True), CPanic),
    (A.read_atom_lines_rs, (good_lines,), TypeError),
])
def test_failures_do_not_keep_frames_or_arguments_alive(fn, args, exc):
    # The raised exception must not hold the arguments (through a traceback of
    # a frame it made up, or a cached reference): once it is gone, so are they.
    counts = [sys.getrefcount(a) for a in args]
    for _ in range(50):
        with pytest.raises(exc) as info:
            fn(*args)
        del info
    gc.collect()
    assert [sys.getrefcount(a) for a in args] == counts


def test_result_buffers_are_freed_with_their_arrays():
    # Results adopt native buffers through a holder; dropping the arrays must
    # free them: 200 rounds of ~1.4 MB each would otherwise add ~280 MB.
    lines = good_lines * 10
    rss0 = None
    for i in range(200):
        out = A.read_atom_lines_rs(lines, codes)
        cells = C.make_supercell_positions_rs(prim, lattice, bool(i % 2))
        del out, cells
        if i == 20:
            gc.collect()
            rss0 = rss_bytes()
    gc.collect()
    assert rss_bytes() - rss0 < 32 * 2**20
