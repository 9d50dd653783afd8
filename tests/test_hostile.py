"""Hostile files and careless callers: tokens crafted to share one hash value,
re-entry as deep as the caller allows, exceptions raised by the caller's own
code in the middle of a call, lengths that lie.

Crashes are looked for in child processes, so that one fails only its case.
Nothing here is timed: the crafted tokens are checked for their result only,
and bench/bench_hostile.py measures what they cost."""

import collections.abc
import os
import resource
import subprocess
import sys
import textwrap
import tracemalloc

import numpy as np
import pytest

import _atomlines as A
import _coordtext as X
from colliding_tokens import colliding_tokens, std_hash


def child_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(X.__file__), env.get("PYTHONPATH", "")])
    return env


def run_child(script, timeout=300, main_stack=None):
    """Runs the script in a child (whose main thread's stack may be limited
    to `main_stack` bytes); its lines of output."""
    def limit_stack():
        resource.setrlimit(resource.RLIMIT_STACK, (main_stack, resource.getrlimit(resource.RLIMIT_STACK)[1]))
    run = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                         env=child_env(), timeout=timeout, preexec_fn=limit_stack if main_stack else None)
    assert run.returncode == 0, f"child died ({run.returncode}):\n{run.stdout[-2000:]}\n{run.stderr[-3000:]}"
    return run.stdout.splitlines()


# --- tokens sharing one hash value ---------------------------------------------

@pytest.mark.parametrize("text, value", [
    # std::hash<std::string_view> of libstdc++ (g++ 12, x86-64), printed by the library itself.
    (b"H", 2130138701217215611),
    (b"Fe", 12031910863325175379),
    (b"abcdefghijklmnop", 9002761040096737846),
    (b"X1234567abcdefgh", 10314767169018527629),
])
def test_the_hash_model_is_the_standard_librarys(text, value):
    assert std_hash(text) == value


@pytest.fixture(scope="module")
def crafted():
    tokens = colliding_tokens(3000)
    assert len(set(tokens)) == len(tokens) and len({std_hash(t.encode()) for t in tokens}) == 1
    # Each token twice, the second time in reverse order: the repeats are found, not added.
    return tokens + tokens[::-1]


def test_xyz_reader_reads_crafted_symbols_exactly(crafted):
    symbols, positions = X.parse_xyz_block_rs([f"{t} {i} 2 3" for i, t in enumerate(crafted)])
    assert symbols == crafted
    assert positions[:, 0].tolist() == list(range(len(crafted)))
    n = len(crafted)
    assert all(symbols[k] is symbols[n - 1 - k] for k in range(0, n // 2, 97))


def test_atom_line_reader_reads_crafted_strings_exactly(crafted):
    lines = [f"{t} {t[::-1]} {i}" for i, t in enumerate(crafted)]
    out = A.read_atom_lines_rs(lines, b"ssi")
    assert out["strs"] == [crafted, [t[::-1] for t in crafted]]
    assert out["ints"][:, 0].tolist() == list(range(len(crafted)))


# --- deep re-entry --------------------------------------------------------------

# The child re-enters `call()` from inside one of its argument's conversions
# at several recursion limits, in the main thread and in threads with small
# stacks; each attempt must end in RecursionError (or finish), and the module
# must work afterwards.
RECURSION_CHILD = """
import builtins, collections.abc, sys, threading
import numpy as np
import _atomlines as al, _cellgeom as cg, _coordtext as ct

armed = True

class Again:
    # Calls call() again from __index__, or from a sequence's items.
    def __init__(self, value=1):
        self.value = value
    def __index__(self):
        if armed:
            call()
        return self.value

class AgainLines(collections.abc.Sequence):
    def __len__(self):
        return 1
    def __getitem__(self, i):
        if i:
            raise IndexError
        if armed:
            call()
        return "0 0 0 0"

def again_bool():
    # Taken for NumPy's boolean scalar by its type's name and module.
    def truth(self):
        if armed:
            call()
        return True
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()

def again_on_numpy_import():
    real = builtins.__import__
    def hook(name, *args, **kwargs):
        if name == "numpy" and armed:
            call()
        return real(name, *args, **kwargs)
    builtins.__import__ = hook

z = lambda *shape, dtype=float: np.zeros(shape, dtype=dtype)
{setup}

def attempt():
    try:
        call()
        return "finished"
    except RecursionError:
        return "RecursionError"

def in_thread(stack):
    threading.stack_size(stack)
    out = []
    thread = threading.Thread(target=lambda: out.append(attempt()))
    thread.start()
    thread.join()
    threading.stack_size(0)
    return out[0] if out else "no result"

default = sys.getrecursionlimit()
for limit in (1300, 5000, 20000):
    sys.setrecursionlimit(limit)
    print("main thread, limit", limit, attempt())
for stack, limit in ((4 << 20, default), (4 << 20, 20000), (1 << 20, 20000)):
    sys.setrecursionlimit(limit)
    print(f"thread of {stack >> 20} MB, limit", limit, in_thread(stack))
sys.setrecursionlimit(default)
armed = False
call()
print("usable afterwards")
"""

REENTRY = {
    "parse_xyz_block_rs lines": "call = lambda: ct.parse_xyz_block_rs(AgainLines())",
    "parse_poscar_positions_rs lines": "call = lambda: ct.parse_poscar_positions_rs(AgainLines(), False)",
    "parse_poscar_positions_rs selective": "call = lambda: ct.parse_poscar_positions_rs(['0 0 0 T T T'], again_bool())",
    "parse_xdatcar_coords_rs lines": "call = lambda: ct.parse_xdatcar_coords_rs(AgainLines())",
    "format_xyz_block_rs symbols": "call = lambda: ct.format_xyz_block_rs(AgainLines(), z(1, 3))",
    "format_poscar_positions_rs numpy import": """
        again_on_numpy_import()
        call = lambda: ct.format_poscar_positions_rs(z(1, 3))""",
    "format_xdatcar_config_rs index": "call = lambda: ct.format_xdatcar_config_rs(z(1, 3), Again())",
    "read_atom_lines_rs lines": "call = lambda: al.read_atom_lines_rs(AgainLines(), b'sfff')",
    "read_atom_lines_rs col_types": "call = lambda: al.read_atom_lines_rs(['H 1'], [Again(115), 102])",
    "write_atoms_rs sym_width": """
        call = lambda: al.write_atoms_rs(z(1, 1, dtype=np.uint32), Again(), z(1, 0), z(1, 0, dtype=np.int64),
                                         z(1, 0, dtype=np.uint8), b's')""",
    "write_atoms_rs col_types": """
        call = lambda: al.write_atoms_rs(z(1, 1, dtype=np.uint32), 2, z(1, 0), z(1, 0, dtype=np.int64),
                                         z(1, 0, dtype=np.uint8), [Again(115)])""",
    "minkowski_reduce_rs numpy import": """
        again_on_numpy_import()
        call = lambda: cg.minkowski_reduce_rs(np.eye(3))""",
    "make_supercell_positions_rs cell_major": "call = lambda: cg.make_supercell_positions_rs(z(1, 3), z(1, 3), again_bool())",
}


def reentry_child(name):
    return RECURSION_CHILD.replace("{setup}", textwrap.dedent(REENTRY[name]).strip())


@pytest.mark.parametrize("name", REENTRY)
def test_deep_reentry_ends_in_recursion_error(name):
    lines = run_child(reentry_child(name))
    assert lines[-1] == "usable afterwards", lines
    assert len(lines) == 7 and all(line.endswith((" RecursionError", " finished")) for line in lines[:-1]), lines


@pytest.mark.parametrize("name", ["format_xdatcar_config_rs index", "read_atom_lines_rs col_types"])
def test_deep_reentry_in_a_small_main_thread_stack(name):
    # 2 MB: the main thread's stack ends before the interpreter's own count does.
    lines = run_child(reentry_child(name), main_stack=2 << 20)
    assert lines[:3] == [f"main thread, limit {n} RecursionError" for n in (1300, 5000, 20000)], lines
    assert lines[-1] == "usable afterwards", lines


# --- exceptions raised while NumPy loads ---------------------------------------

IMPORT_CHILD = """
import builtins
import numpy as np  # only for the arguments: the modules load NumPy's C API on their own first use
import _cellgeom as cg, _coordtext as ct

real = builtins.__import__
def refuse(name, *args, **kwargs):
    if name == "numpy":
        raise {exception}
    return real(name, *args, **kwargs)

for call in (lambda: ct.parse_xdatcar_coords_rs(["0 0 0"]), lambda: cg.minkowski_reduce_rs(np.eye(3))):
    builtins.__import__ = refuse
    try:
        call()
        print("no exception")
    except BaseException as exc:
        print(type(exc).__name__, repr(exc.args))
    builtins.__import__ = real
    call()  # the load is tried again, and succeeds
print("loaded afterwards")
"""


@pytest.mark.parametrize("exception, shown", [
    ("KeyboardInterrupt()", "KeyboardInterrupt ()"),
    ("SystemExit(3)", "SystemExit (3,)"),
    ("MemoryError('no room')", "MemoryError ('no room',)"),
    ("RecursionError('deep')", "RecursionError ('deep',)"),
    # NumPy missing or broken stays a broken invariant of the environment.
    ("ImportError('no numpy here')", "PanicException ('NumPy C API unavailable: ImportError: no numpy here',)"),
    ("ValueError('broken')", "PanicException ('NumPy C API unavailable: ValueError: broken',)"),
])
def test_exception_raised_while_numpy_loads(exception, shown):
    lines = run_child(IMPORT_CHILD.replace("{exception}", exception))
    assert lines == [shown, shown, "loaded afterwards"]


# --- lengths that lie -----------------------------------------------------------

class Claims(collections.abc.Sequence):
    """A sequence whose __len__ claims `claimed` items and which gives `items`."""

    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]


LINES = [f"H {i} 0 0" for i in range(3)]


@pytest.mark.parametrize("claimed", [sys.maxsize, 10**12, 0, 1, 2, 4])
def test_a_length_is_only_a_hint(claimed):
    symbols, positions = X.parse_xyz_block_rs(Claims(LINES, claimed))
    assert symbols == ["H"] * 3 and positions[:, 0].tolist() == [0, 1, 2]
    out = A.read_atom_lines_rs(LINES, Claims(b"sfff", claimed))
    assert out["floats"].shape == (3, 3)
    matrices = (np.zeros((1, 1), np.uint32), 1, np.zeros((1, 1)), np.zeros((1, 0), np.int64), np.zeros((1, 0), np.uint8))
    assert A.write_atoms_rs(*matrices, Claims(b"sf", claimed)) == A.write_atoms_rs(*matrices, b"sf")


def test_a_claimed_length_costs_no_memory():
    tracemalloc.start()
    try:
        X.parse_xyz_block_rs(Claims(LINES, 10**7))
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < 1 << 20


def test_more_items_than_the_first_reservation():
    lines = [f"H {i} 0 0" for i in range(40_000)]
    symbols, positions = X.parse_xyz_block_rs(Claims(lines, len(lines)))
    assert len(symbols) == len(lines) and positions[:, 0].tolist() == list(range(len(lines)))


# --- the caller's own exceptions ------------------------------------------------

class Unprintable:
    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


class RaisesFromIndex:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class RaisesFromItems(collections.abc.Sequence):
    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise self.exc


POSITIONS = np.zeros((1, 3))
CALLS = {
    "index": lambda exc: X.format_xdatcar_config_rs(POSITIONS, RaisesFromIndex(exc)),
    "lines": lambda exc: X.parse_xyz_block_rs(RaisesFromItems(exc)),
    "col_types": lambda exc: A.read_atom_lines_rs(["H 1 2 3"], [RaisesFromIndex(exc)]),
}


@pytest.mark.parametrize("name", CALLS)
def test_a_type_error_whose_text_cannot_be_made_stays_a_type_error(name):
    original = TypeError(Unprintable(ValueError("no text")))
    original.__cause__ = root = KeyError("root")
    with pytest.raises(TypeError) as info:
        CALLS[name](original)
    assert type(info.value) is TypeError
    assert info.value.args == (f"argument '{name}': <exception str() failed>",)
    assert info.value.__cause__ is root


@pytest.mark.parametrize("name", CALLS)
def test_an_interrupt_while_making_that_text_comes_out(name):
    with pytest.raises(KeyboardInterrupt):
        CALLS[name](TypeError(Unprintable(KeyboardInterrupt())))


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(2)], ids=["KeyboardInterrupt", "SystemExit"])
def test_an_interrupt_in_a_length_comes_out(exc):
    class Interrupted(Claims):
        def __len__(self):
            raise exc
    with pytest.raises(type(exc)) as info:
        X.parse_xyz_block_rs(Interrupted(LINES, 0))
    assert info.value is exc
    with pytest.raises(type(exc)):
        A.read_atom_lines_rs(LINES, Interrupted(b"sfff", 0))
