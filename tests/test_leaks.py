"""Reference and memory hygiene of all three modules: every exported function
is called many times, on success and on each way it can fail, and the
reference counts of the arguments, the memory traced by tracemalloc and the
bytes held by the C allocator must come back to the same values. Result
buffers are reported to tracemalloc in a domain of their own while they live,
so a buffer that is never freed shows in traced memory."""

import ctypes
import gc
import sys
import tracemalloc

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import _atomlines
import _cellgeom
import _coordtext

A, C, X = _atomlines, _cellgeom, _coordtext
# Each module creates its own PanicException class.
APanic, CPanic, XPanic = A.PanicException, C.PanicException, X.PanicException
TRACE_DOMAIN = 0x616B  # the tracemalloc domain of result buffers (frame/src/results.hpp)
N = 2000


# --- measuring ------------------------------------------------------------------

def _allocator_counter():
    """A function returning the bytes the C allocator has handed out and not
    got back (AddressSanitizer's count when it is preloaded, glibc's otherwise),
    or None where neither is available. Exact in a single thread: it sees
    native work buffers that never reach a result, which tracemalloc cannot."""
    process = ctypes.CDLL(None)
    if hasattr(process, "__sanitizer_get_current_allocated_bytes"):
        count = process.__sanitizer_get_current_allocated_bytes
        count.restype = ctypes.c_size_t
        return count
    if hasattr(process, "mallinfo2"):
        class Mallinfo2(ctypes.Structure):
            _fields_ = [(name, ctypes.c_size_t) for name in
                        "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()]
        process.mallinfo2.restype = Mallinfo2

        def count():
            info = process.mallinfo2()
            return info.uordblks + info.hblkhd  # in use from the heap + in mmapped blocks
        return count
    return None


allocated_bytes = _allocator_counter()


def traced_bytes(domain=None):
    """Traced bytes now, all domains or one."""
    if domain is None:
        return tracemalloc.get_traced_memory()[0]
    snapshot = tracemalloc.take_snapshot()
    return sum(trace.size for trace in snapshot.traces if trace.domain == domain)


def run_calls(calls, rounds):
    """Runs every call `rounds` times; a call that should fail must fail so."""
    for _ in range(rounds):
        for fn, args, kwargs, exc in calls:
            if exc is None:
                fn(*args, **kwargs)
                continue
            try:
                fn(*args, **kwargs)
            except exc:
                pass
            else:
                raise AssertionError(f"{fn.__name__}{args!r:.80} did not raise {exc.__name__}")


def growth(measure, calls, rounds, trials=3):
    """How much `measure` grows over `rounds` rounds: the least of a few
    trials, since a cache filled once grows it once, while a leak grows it in
    every trial."""
    least = None
    for _ in range(trials):
        gc.collect()
        before = measure()
        run_calls(calls, rounds)
        gc.collect()
        grown = measure() - before
        least = grown if least is None else min(least, grown)
        if least <= 0:
            break
    return least


def assert_no_leaks(calls, watched, rounds=20):
    """After a warm-up, `rounds` more rounds must leave the reference counts
    of `watched` unchanged and neither traced nor allocator memory grown by
    `rounds` * 16 bytes: one leaked object or buffer per round in any one call
    is more than that."""
    run_calls(calls, 5)  # caches, interned strings, free lists, NumPy on first use
    gc.collect()
    counts = [sys.getrefcount(o) for o in watched]
    limit = 16 * rounds
    # Measured apart from tracemalloc, whose own tables come from the allocator.
    if allocated_bytes is not None:
        native = growth(allocated_bytes, calls, rounds)
        assert native < limit, f"the C allocator holds {native} more bytes"
    tracemalloc.start()
    try:
        run_calls(calls, 2)
        traced = growth(traced_bytes, calls, rounds)
    finally:
        tracemalloc.stop()
    assert traced < limit, f"{traced} more bytes traced"
    assert [sys.getrefcount(o) for o in watched] == counts


def _broadcast(rows, cols, dtype=np.float64):
    base = np.zeros(max(cols, 1), dtype)
    return as_strided(base, shape=(rows, cols), strides=(0, base.itemsize))


# --- the calls --------------------------------------------------------------------

# Arguments of the calls below.
xyz_good = [f"Fe {i}.5 -{i} 1e-3 tail" for i in range(N)]
xyz_bad_last = xyz_good[:-1] + ["Fe 1 2 x"]
xyz_bad_item = xyz_good[:-1] + [b"Fe 1 2 3"]
xyz_surrogate = xyz_good[:-1] + ["Fe\udc80 1 2 3"]
coords = [f"{i}.5 -{i} 1e-3" for i in range(N)]
flagged = [c + " F T F" for c in coords[:50]]
pos = np.random.default_rng(0).normal(size=(500, 4)) * 100
syms = ["Fe"] * 500
pos_flags = pos > 0
pos32 = pos.astype(np.float32)
pos_narrow = pos[:, :2].copy()
index = 10**8

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

# (function, args, kwargs, expected exception or None)
CALLS = [
    # _coordtext readers: success, a bad last line, argument errors
    (X.parse_xyz_block_rs, (xyz_good,), {}, None),
    (X.parse_xyz_block_rs, (xyz_bad_last,), {}, ValueError),
    (X.parse_xyz_block_rs, (xyz_bad_item,), {}, TypeError),
    (X.parse_xyz_block_rs, (xyz_surrogate,), {}, UnicodeEncodeError),
    (X.parse_xdatcar_coords_rs, (coords,), {}, None),
    (X.parse_xdatcar_coords_rs, (coords[:-1] + ["1 2"],), {}, ValueError),
    (X.parse_poscar_positions_rs, (flagged, True), {}, None),
    (X.parse_poscar_positions_rs, (coords[:50] + ["1 2 3 X"], True), {}, ValueError),
    (X.parse_poscar_positions_rs, (coords, 1), {}, TypeError),
    # _coordtext writers
    (X.format_xyz_block_rs, (syms, pos), {}, None),
    (X.format_xyz_block_rs, (syms, pos32), {}, TypeError),
    (X.format_xyz_block_rs, (syms, pos.tolist()), {}, TypeError),
    (X.format_xyz_block_rs, (syms[:-1], pos), {}, ValueError),
    (X.format_xyz_block_rs, (syms, pos_narrow), {}, XPanic),
    (X.format_poscar_positions_rs, (pos, pos_flags), {}, None),
    (X.format_poscar_positions_rs, (pos, pos_flags[:, :3]), {}, ValueError),
    (X.format_poscar_positions_rs, (pos_narrow,), {}, XPanic),
    (X.format_poscar_positions_rs, (pos, pos_flags.astype(int)), {}, TypeError),
    (X.format_xdatcar_config_rs, (pos, index), {}, None),
    (X.format_xdatcar_config_rs, (pos, -index), {}, OverflowError),
    (X.format_xdatcar_config_rs, (pos_narrow, index), {}, XPanic),
    (X.format_xdatcar_config_rs, (pos32, index), {}, TypeError),
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
    (X.parse_xyz_block_rs, (xyz_good,), {"lines": xyz_good}, TypeError),
    (X.format_poscar_positions_rs, (floats, None, None), {}, TypeError),
    (X.format_xyz_block_rs, (), {"symbols": ["H"], "position": floats}, TypeError),
]


def test_every_call_raises_what_is_expected():
    # Makes the leak test below meaningful: each failure path is the one meant.
    run_calls(CALLS, 1)


def test_no_leaks_on_success_and_failure_paths():
    # Every argument and the last item of every list argument (the one a
    # failure stops at) is watched for reference leaks.
    args = [a for _, args, kwargs, _ in CALLS for a in (*args, *kwargs.values())]
    watched = {id(o): o for o in args + [a[-1] for a in args if isinstance(a, list) and a]}
    assert_no_leaks(CALLS, list(watched.values()))


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


XYZ_100K = [f"H {i}.5 -1.25 3e-2\n" for i in range(10**5)]


# nbytes: the result's data; ours: the part traced in our domain. Arrays of
# up to 448 bytes live in their holder objects and are traced as ordinary
# objects instead.
@pytest.mark.parametrize("call, nbytes, ours", [
    (lambda: X.parse_xyz_block_rs(XYZ_100K), 10**5 * 3 * 8, 10**5 * 3 * 8),
    (lambda: X.parse_xdatcar_coords_rs(coords), N * 3 * 8, N * 3 * 8),
    (lambda: X.parse_poscar_positions_rs(flagged, True), 50 * 3 * (8 + 1), 50 * 3 * 8),
    (lambda: X.parse_poscar_positions_rs([], True), 0, 0),
    (lambda: A.read_atom_lines_rs(good_lines, codes), N * (2 * 8 + 8 + 1), N * (2 * 8 + 8 + 1)),
    (lambda: A.read_atom_lines_rs([], b"s"), 0, 0),
    (lambda: C.minkowski_reduce_rs(cell), 9 * 8 * 2, 0),
    (lambda: C.make_supercell_positions_rs(prim, lattice, False), 40 * 50 * 3 * 8, 40 * 50 * 3 * 8),
], ids=["xyz-1e5", "xdatcar", "poscar", "poscar-empty", "atomlines", "atomlines-empty", "minkowski", "supercell"])
def test_result_buffers_are_traced_while_they_live(call, nbytes, ours):
    call()  # NumPy is loaded on first use
    gc.collect()
    tracemalloc.start()
    try:
        before = traced_bytes()
        result = call()
        alive, in_domain = traced_bytes() - before, traced_bytes(TRACE_DOMAIN)
        del result
        gc.collect()
        after, ours_after = traced_bytes() - before, traced_bytes(TRACE_DOMAIN)
    finally:
        tracemalloc.stop()
    assert in_domain == ours and alive >= nbytes
    assert ours_after == 0 and after < 1024
