"""Calls from many threads at once, while other threads change the inputs.

Workers call all ten functions on shared inputs. Inputs nobody changes must
give exactly the single-threaded result. Lists, bytearrays and arrays that
mutator threads walk through known states must give the result of the
function on one state of each (its exception included): a list or bytearray
is read as it was at one instant, and an array is resized (with NumPy's
reference check) only when no call holds it. Arrays whose elements are
overwritten while calls read them must still give well-formed results.

Each run lasts ATOMKERNELS_THREAD_SECONDS (default 1; the interleaving build,
`make test-threads-sim`, runs longer). Every join has a timeout: a call that
never returns fails the test instead of hanging it."""

from __future__ import annotations

import itertools
import os
import struct
import subprocess
import sys
import sysconfig
import threading
import time

import numpy as np
import pytest

import _atomlines as al
import _cellgeom as cg
import _coordtext as ct

SECONDS = float(os.environ.get("ATOMKERNELS_THREAD_SECONDS", "1"))
WORKERS = 8
MIN_ROUNDS = 3
JOIN_TIMEOUT = 120 + 20 * SECONDS
CAUGHT = (Exception, ct.PanicException, al.PanicException, cg.PanicException)


def canonical(value):
    """A hashable form that tells results apart exactly (floats by their bits)."""
    if isinstance(value, np.ndarray):
        return ("array", value.dtype.str, value.shape, value.tobytes())
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(canonical(v) for v in value))
    if isinstance(value, dict):
        return ("dict", tuple((k, canonical(v)) for k, v in value.items()))
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    return (type(value).__name__, value)


def outcome(call):
    try:
        return ("result", canonical(call()))
    except CAUGHT as exc:
        return ("raised", type(exc).__name__, str(exc))


def fresh(items):
    """New str objects of the same text, so the ones replaced are freed."""
    return [s.encode().decode() for s in items]


class Fixed:
    """An input nobody changes."""

    def __init__(self, value):
        self.value, self.states, self.changes = value, [value], 0

    def change(self):
        pass


class SharedList(Fixed):
    """A list walked through a, b, [], a + [extra] and b + [extra] by
    slice replacement, clear and extend, append and pop."""

    def __init__(self, a, b, extra):
        super().__init__(fresh(a))
        self.a, self.b, self.extra = a, b, extra
        self.states = [a, b, [], a + [extra], b + [extra]]
        self.steps = itertools.cycle([
            lambda v: v.__setitem__(slice(None), fresh(self.b)), lambda v: v.append(fresh([self.extra])[0]),
            lambda v: v.pop(), lambda v: v.clear(), lambda v: v.extend(fresh(self.a)),
            lambda v: v.append(fresh([self.extra])[0]), lambda v: v.pop(),
            lambda v: v.__setitem__(slice(None), fresh(self.a))])

    def change(self):
        next(self.steps)(self.value)
        self.changes += 1


class SharedBytes(Fixed):
    """A bytearray switched between two codes of different lengths."""

    def __init__(self, a, b):
        super().__init__(bytearray(a))
        self.states = [a, b]
        self.next = itertools.cycle([b, a])

    def change(self):
        self.value[:] = next(self.next)
        self.changes += 1


class SharedArray(Fixed):
    """An array resized to fewer rows and back (the new rows are zeros) with
    NumPy's reference check, which refuses while a call holds the array."""

    def __init__(self, array, rows):
        super().__init__(array.copy())
        grown = np.zeros_like(array)
        grown[:rows] = array[:rows]
        self.states = [array, array[:rows].copy(), grown]
        self.shapes = itertools.cycle([(rows, array.shape[1]), array.shape])
        self.shape = next(self.shapes)
        self.refused = 0

    def change(self):
        try:
            self.value.resize(self.shape)  # only the attribute and this call refer to it
        except ValueError:
            self.refused += 1
            return
        self.shape = next(self.shapes)
        self.changes += 1


class Case:
    """A call on shared inputs, and every outcome it may have: the function
    on each combination of its inputs' states."""

    def __init__(self, function, *inputs):
        self.function, self.inputs = function, [i if isinstance(i, Fixed) else Fixed(i) for i in inputs]
        self.allowed = {outcome(lambda s=states: function(*s))
                        for states in itertools.product(*(i.states for i in self.inputs))}

    def check(self):
        got = outcome(lambda: self.function(*(i.value for i in self.inputs)))
        if got not in self.allowed:
            return f"{self.function.__name__}: {str(got)[:300]}"
        return None


class Noisy:
    """A call on an array whose elements another thread overwrites: only the
    form of the result is known."""

    def __init__(self, call, well_formed):
        self.call, self.well_formed = call, well_formed

    def check(self):
        try:
            result = self.call()
        except CAUGHT as exc:
            return f"noisy call raised {type(exc).__name__}: {exc}"
        return None if self.well_formed(result) else f"noisy call gave {str(result)[:300]}"


def lines_of(rng, n, form):
    return [form(i, *rng.random(3) * 20 - 10) for i in range(n)]


def build():
    """(cases, mutable inputs, noisy arrays)."""
    rng = np.random.default_rng(7)
    symbols = ["Fe", "Si", "Cu", "He\u00e9", "O"]  # one not ASCII: its UTF-8 form is made on first read
    # Over two chunks of lines, and fewer after a change, so that a read
    # across chunks sees a different length.
    n, m = 150, 70
    xyz = lambda i, x, y, z: f"{symbols[i % 5]} {x:.6f} {y:.6f} {z:.6f}"
    poscar = lambda i, x, y, z: f"{x:.8f} {y:.8f} {z:.8f} {'TF'[i % 2]} T F"
    xdatcar = lambda i, x, y, z: f"  {x:.8f} {y:.8f} {z:.8f}"
    atoms = lambda i, x, y, z: f"Si{i % 7} {x:.5f} {i} {'TF'[i % 2]}"
    lists = {name: (lines_of(rng, n, form), lines_of(rng, m, form)) for name, form in
             [("xyz", xyz), ("poscar", poscar), ("xdatcar", xdatcar), ("atoms", atoms)]}
    shared = {
        "xyz": SharedList(*lists["xyz"], "Fe 1 2"),  # the extra line lacks a field
        "poscar": SharedList(*lists["poscar"], "0.5 0.5 0.5 T T X"),
        "xdatcar": SharedList(*lists["xdatcar"], "0.1 0.2 0.3"),
        "atoms": SharedList(*lists["atoms"], "Si 1.5 x T"),
        "symbols": SharedList([symbols[i % 5] + "x" for i in range(n)], ["Ab"] * m, "Zz"),
        "read codes": SharedBytes(b"sfib", b"sf"),
        "write codes": SharedBytes(b"sfib", b"sfb"),
        "positions": SharedArray(rng.random((n, 3)) * 10, m),
        "coord": SharedArray(rng.random((n, 3)), m),
        "flags": SharedArray(rng.random((n, 3)) < 0.5, m),
        "scaled": SharedArray(rng.random((n, 3)), m),
        "prim": SharedArray(rng.random((8, 3)) * 4, 3),
        "lattice": SharedArray(rng.integers(-3, 4, (20, 3)).astype(float) * 4, 7),
        "cell": SharedArray(np.array([[4.0, 0, 0], [1.5, 4, 0], [0.5, 1, 5]]), 2),
        "float_mat": SharedArray(rng.random((n, 2)), m),
    }
    s = shared
    codepoints = np.array([[ord(c) for c in f"{symbols[i % 5]:2.2}"] for i in range(n)], np.uint32)
    ints, bools = rng.integers(-99, 99, (n, 1)), rng.integers(0, 2, (n, 1), dtype=np.uint8)
    cell = s["cell"].states[0] @ np.array([[1, 2, 0], [0, 1, 0], [1, 0, 1]])
    cases = [
        # Inputs nobody changes.
        Case(ct.parse_xyz_block_rs, list(lists["xyz"][0])),
        Case(ct.parse_poscar_positions_rs, list(lists["poscar"][0]), False),
        Case(ct.parse_xdatcar_coords_rs, list(lists["xdatcar"][1])),
        Case(al.read_atom_lines_rs, list(lists["atoms"][0]), b"sfib"),
        Case(ct.format_xyz_block_rs, list(s["symbols"].states[0]), s["positions"].states[0].copy()),
        Case(ct.format_poscar_positions_rs, s["coord"].states[0].copy(), None),
        Case(ct.format_xdatcar_config_rs, s["scaled"].states[0].copy(), 12),
        Case(al.write_atoms_rs, codepoints, 2, s["float_mat"].states[0].copy(), ints, bools, b"sfib"),
        Case(cg.minkowski_reduce_rs, cell),
        Case(cg.make_supercell_positions_rs, s["prim"].states[0].copy(), s["lattice"].states[0].copy(), False),
        # Inputs that mutators change.
        Case(ct.parse_xyz_block_rs, s["xyz"]),
        Case(ct.parse_poscar_positions_rs, s["poscar"], True),
        Case(ct.parse_xdatcar_coords_rs, s["xdatcar"]),
        Case(al.read_atom_lines_rs, s["atoms"], s["read codes"]),
        Case(ct.format_xyz_block_rs, s["symbols"], s["positions"]),
        Case(ct.format_poscar_positions_rs, s["coord"], s["flags"]),
        Case(ct.format_xdatcar_config_rs, s["scaled"], 3),
        Case(al.write_atoms_rs, codepoints, 3, s["float_mat"], ints, bools, s["write codes"]),
        Case(cg.minkowski_reduce_rs, s["cell"]),
        Case(cg.make_supercell_positions_rs, s["prim"], s["lattice"], True),
    ]
    noisy = rng.random((n, 3))
    lattice = s["lattice"].states[0].copy()
    cases += [
        Noisy(lambda: ct.format_xdatcar_config_rs(noisy, 5),
              lambda text: text.startswith("Direct configuration=     5\n") and text.count("\n") == n + 1),
        Noisy(lambda: cg.make_supercell_positions_rs(noisy, lattice, False),
              lambda out: out.shape == (n * len(lattice), 3) and out.dtype == np.float64),
    ]
    return cases, list(shared.values()), noisy


def run_stress(seconds):
    cases, mutable, noisy = build()
    failures, calls = [], [0] * WORKERS
    workers_done, deadline = threading.Event(), time.monotonic() + seconds

    def worker(k):
        rounds = 0
        while not failures and (rounds < MIN_ROUNDS or time.monotonic() < deadline):
            for case in cases[k % len(cases):] + cases[:k % len(cases)]:
                found = case.check()
                if found:
                    failures.append(found)
                calls[k] += 1
            rounds += 1

    def mutator(inputs):
        while not workers_done.is_set():
            for i in inputs:
                i.change()

    def scribbler():
        rng = np.random.default_rng(3)
        while not workers_done.is_set():
            row = int(rng.integers(len(noisy)))
            noisy[row] = rng.random(3) * 1e3  # finite values only: the form stays known

    mutators = [threading.Thread(target=mutator, args=(mutable[k::2],), daemon=True) for k in range(2)]
    mutators.append(threading.Thread(target=scribbler, daemon=True))
    workers = [threading.Thread(target=worker, args=(k,), daemon=True) for k in range(WORKERS)]
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # with the lock, switch threads inside short stretches of Python code too
    try:
        for t in mutators + workers:
            t.start()
        end = time.monotonic() + JOIN_TIMEOUT
        for t in workers:
            t.join(max(0.0, end - time.monotonic()))
        workers_done.set()
        for t in mutators:
            t.join(max(1.0, end - time.monotonic()))
    finally:
        workers_done.set()
        sys.setswitchinterval(previous)
    hung = [t.name for t in workers + mutators if t.is_alive()]
    assert not hung, f"threads still running after {JOIN_TIMEOUT:.0f} s: {hung}"
    return failures, [c // len(cases) for c in calls], mutable


def stress_main():
    """The stress run of a child process: exits 1 with the failures listed."""
    failures, rounds, mutable = run_stress(SECONDS)
    unchanged = sum(1 for i in mutable if i.changes == 0 and not getattr(i, "refused", 0))
    if failures or min(rounds) < MIN_ROUNDS or unchanged:
        print(*failures[:10], f"rounds {rounds}, inputs never changed: {unchanged}", sep="\n")
        sys.exit(1)
    print(f"rounds {rounds}")


def run_child(code, timeout):
    """Runs `code` in a new interpreter on the modules under test, so that a
    crash (or a sanitizer's report) fails one test with its output shown."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(m.__file__) for m in (ct, al, cg)] + [os.path.dirname(__file__), env.get("PYTHONPATH", "")])
    run = subprocess.run([sys.executable, "-X", "faulthandler", "-c", code], capture_output=True, text=True,
                         env=env, timeout=timeout)
    assert run.returncode == 0, f"child ended with {run.returncode}:\n{run.stdout[-3000:]}\n{run.stderr[-6000:]}"
    return run.stdout


def test_calls_from_many_threads_see_one_state_of_each_input():
    run_child("import test_threads; test_threads.stress_main()", timeout=JOIN_TIMEOUT + 60)


FIRST_CALLS = """
import sys, threading
import numpy as np
import _atomlines as al, _cellgeom as cg, _coordtext as ct
sys.setswitchinterval(1e-6)
pos = np.arange(12.0).reshape(4, 3)
calls = [
    lambda: ct.parse_xyz_block_rs(["Fe 1 2 3", "O 4 5 6"]), lambda: ct.parse_poscar_positions_rs(["1 2 3 T F T"], True),
    lambda: ct.parse_xdatcar_coords_rs(["1 2 3"]), lambda: ct.format_xyz_block_rs(["A", "B", "C", "D"], pos),
    lambda: ct.format_poscar_positions_rs(pos, pos > 5), lambda: ct.format_xdatcar_config_rs(pos, 2),
    lambda: al.read_atom_lines_rs(["Si 1.5 2 T"], b"sfib"),
    lambda: al.write_atoms_rs(np.full((4, 1), 65, np.uint32), 1, pos, np.ones((4, 1), np.int64),
                              np.ones((4, 1), np.uint8), b"sfib"),
    lambda: cg.minkowski_reduce_rs(np.eye(3) * 3), lambda: cg.make_supercell_positions_rs(pos, pos, True),
]
start, got = threading.Barrier(8), {}
def first(k):
    start.wait()
    got[k] = [repr(call()) for call in calls[k:] + calls[:k]]
threads = [threading.Thread(target=first, args=(k,)) for k in range(8)]
for t in threads:
    t.start()
for t in threads:
    t.join(60)
want = [repr(call()) for call in calls]
assert sorted(got) == list(range(8)), "a thread failed or hung"
for k, results in got.items():
    assert results == want[k:] + want[:k], k
print("same")
"""


def test_first_calls_from_many_threads_at_once():
    # Per-process state (NumPy's table, the result holder type) is made by
    # whichever call comes first: eight threads race to it in a new process.
    assert run_child(FIRST_CALLS, timeout=300).strip() == "same"


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="an interpreter with the lock")
def test_the_modules_leave_the_lock_off():
    assert not sys._is_gil_enabled()
