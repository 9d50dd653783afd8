"""Python code that runs in the middle of a call (an `__index__`, a `__bool__`,
a sequence's methods, an import hook on the first array call) must never make
the call read freed or moved memory.

Each case runs in its own child process, so a crash fails only that case. The
answer must be the call's answer for its inputs as they were read, or a clean
exception: arrays are read once every argument is converted (so a resize by a
later argument's code is seen whole, and a reshape to other dimensions is a
TypeError); a list is read as it was when converted (code that empties it
afterwards changes nothing)."""

import os
import subprocess
import sys
import textwrap

import pytest

import _coordtext

# The child: `setup` defines the objects and `call()`; every hook fires once
# (`once`) and is disarmed afterwards. The answer is compared with `expect()`,
# the same call on the inputs as they ought to have been read.
CHILD = """
import builtins, hashlib, sys, warnings
import numpy as np
import _coordtext as ct, _atomlines as al, _cellgeom as cg
warnings.simplefilter("ignore", DeprecationWarning)

fired = []
def once():
    if fired:
        return False
    fired.append(1)
    return True

def import_hook(action):
    real = builtins.__import__
    def hook(*args, **kwargs):
        if once():
            action()
        return real(*args, **kwargs)
    builtins.__import__ = hook

def fake_numpy_bool(value, action):
    # Taken for NumPy's boolean scalar by its type's name and module.
    def truth(self):
        if once():
            action()
        return value
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()

class Index:
    def __init__(self, value, action):
        self.value, self.action = value, action
    def __index__(self):
        if once():
            self.action()
        return self.value

def fresh(items):
    # New str objects of the same text: the caller's are freed once the list lets go of them.
    return [str(s).encode().decode() for s in items]

def exact(value):
    # Arrays by dtype, shape and bytes (bit patterns: NaN and -0.0 count).
    if isinstance(value, np.ndarray):
        return (value.dtype.str, value.shape, hashlib.sha256(value.tobytes()).hexdigest())
    if isinstance(value, (tuple, list)):
        return type(value)(exact(v) for v in value)
    if isinstance(value, dict):
        return {k: exact(v) for k, v in value.items()}
    return value

def outcome(f):
    try:
        return ("result", exact(f()))
    except BaseException as exc:
        return ("raised", type(exc).__name__, str(exc))

{setup}
got = outcome(call)
want = outcome(expect)
print("same" if repr(got) == repr(want) else f"got {got!r:.300}\\nwant {want!r:.300}")
print(got[0], *got[1:] if got[0] == "raised" else ())
"""

# Arrays resized or reshaped by code run by a later argument's conversion;
# the answer is that of the arrays as they are after the call.
RESIZES = {
    "xdatcar index resizes positions": """
pos = np.random.default_rng(1).random((200_000, 3))
idx = Index(1, lambda: pos.resize((1, 3), refcheck=False))
call = lambda: ct.format_xdatcar_config_rs(pos, idx)
expect = lambda: ct.format_xdatcar_config_rs(pos.copy(), 1)
""",
    "xdatcar index flattens positions": """
pos = np.random.default_rng(1).random((200_000, 3))
idx = Index(1, lambda: pos.resize((600,), refcheck=False))
call = lambda: ct.format_xdatcar_config_rs(pos, idx)
expect = lambda: ct.format_xdatcar_config_rs(pos, 1)
""",
    "xdatcar index changes the dtype": """
pos = np.random.default_rng(1).random((1000, 3))
def retype():
    pos.dtype = np.int64
idx = Index(1, retype)
call = lambda: ct.format_xdatcar_config_rs(pos, idx)
expect = lambda: ct.format_xdatcar_config_rs(pos, 1)
""",
    "supercell numpy bool grows the lattice": """
prim = np.random.default_rng(1).random((5, 3))
lat = np.random.default_rng(2).random((40_000, 3))
flag = fake_numpy_bool(True, lambda: lat.resize((80_000, 3), refcheck=False))
call = lambda: cg.make_supercell_positions_rs(prim, lat, flag)
expect = lambda: cg.make_supercell_positions_rs(prim.copy(), lat.copy(), True)
""",
    "supercell numpy bool shrinks the primitive cell": """
prim = np.random.default_rng(1).random((100_000, 3))
lat = np.random.default_rng(2).random((4, 3))
flag = fake_numpy_bool(False, lambda: prim.resize((2, 3), refcheck=False))
call = lambda: cg.make_supercell_positions_rs(prim, lat, flag)
expect = lambda: cg.make_supercell_positions_rs(prim.copy(), lat.copy(), False)
""",
    "supercell numpy bool flattens the lattice": """
prim = np.random.default_rng(1).random((5, 3))
lat = np.random.default_rng(2).random((100_000, 3))
flag = fake_numpy_bool(True, lambda: lat.resize((7,), refcheck=False))
call = lambda: cg.make_supercell_positions_rs(prim, lat, flag)
expect = lambda: cg.make_supercell_positions_rs(prim, lat, True)
""",
    "first array call: import hook resizes the cell": """
cell = np.eye(3) * 2.0
import_hook(lambda: cell.resize((1, 3), refcheck=False))
call = lambda: cg.minkowski_reduce_rs(cell)
expect = lambda: cg.minkowski_reduce_rs(cell.copy())
""",
    "first array call: import hook resizes coord and flags": """
coord = np.random.default_rng(1).random((100_000, 3))
flags = np.zeros((100_000, 3), bool)
def shrink():
    coord.resize((2, 3), refcheck=False)
    flags.resize((2, 3), refcheck=False)
import_hook(shrink)
call = lambda: ct.format_poscar_positions_rs(coord, flags)
expect = lambda: ct.format_poscar_positions_rs(coord.copy(), flags.copy())
""",
}

# write_atoms_rs: every array, resized by sym_width's __index__, by an item's
# __index__ in col_types, or by a col_types sequence's __getitem__.
ATOM_ARRAYS = {
    "sym_codepoints": "np.full((N, 2), ord('a'), np.uint32)",
    "float_mat": "np.random.default_rng(1).random((N, 2))",
    "int_mat": "np.arange(N, dtype=np.int64).reshape(N, 1).copy()",
    "bool_mat": "np.ones((N, 1), np.uint8)",
}
WRITE_ATOMS = """
N = 100_000
cp, fm, im, bm = {arrays}
target = {target}
shrink = lambda: target.resize((1, target.shape[1]), refcheck=False)
codes = [ord(c) for c in "sffib"]
{hooked}
call = lambda: al.write_atoms_rs(cp, width, fm, im, bm, col_types)
expect = lambda: al.write_atoms_rs(cp.copy(), 2, fm.copy(), im.copy(), bm.copy(), codes)
"""
HOOKS = {
    "sym_width index": "width = Index(2, shrink); col_types = codes",
    "col_types item index": "width = 2; col_types = [codes[0], Index(codes[1], shrink)] + codes[2:]",
    "col_types sequence getitem": """
import collections.abc
class Codes(collections.abc.Sequence):
    def __len__(self):
        return len(codes)
    def __getitem__(self, i):
        if i == 1 and once():
            shrink()
        return codes[i]
width = 2; col_types = Codes()""",
}
for hook_name, hooked in HOOKS.items():
    for target_index, target in enumerate(ATOM_ARRAYS):
        if hook_name == "sym_width index" and target != "sym_codepoints":
            continue  # converted after sym_width: nothing to see
        RESIZES[f"write_atoms {hook_name} resizes {target}"] = WRITE_ATOMS.format(
            arrays=", ".join(ATOM_ARRAYS.values()), target=["cp", "fm", "im", "bm"][target_index], hooked=hooked)

# Lists emptied, or their items replaced, by code run after their conversion;
# the answer is that of the list as it was passed.
LINES = {
    "xyz": ('["Fe %d.5 -1e-3 2 junk" % i for i in range(3000)] + ["H\\u00e9 1 2 3"]', "ct.parse_xyz_block_rs({})"),
    "poscar": ('["0.%d 0.5 0.25 F T F" % i for i in range(3000)]', "ct.parse_poscar_positions_rs({}, True)"),
    "xdatcar": ('["0.%d 0.5 0.25" % i for i in range(3000)]', "ct.parse_xdatcar_coords_rs({})"),
    "atom lines": ('["Si%d %d.25 -2 T" % (i % 7, i) for i in range(3000)]', "al.read_atom_lines_rs({}, b'sfib')"),
}
EMPTIES = {}
for name, (make, call) in LINES.items():
    EMPTIES[f"first array call: import hook empties the {name} lines"] = f"""
lines = {make}
original = fresh(lines)
import_hook(lines.clear)
call = lambda: {call.format("lines")}
expect = lambda: {call.format("original")}
"""
EMPTIES.update({
    "first array call: import hook empties the xyz symbols": """
class Symbol(str):
    pass
syms = [Symbol("X%d\\u00e9" % i) for i in range(3000)] + ["Fe" * 10] * 3000
original = fresh(syms)
pos = np.random.default_rng(1).random((6000, 3))
import_hook(syms.clear)
call = lambda: ct.format_xyz_block_rs(syms, pos)
expect = lambda: ct.format_xyz_block_rs(original, pos)
""",
    "poscar numpy bool empties the lines": """
lines = ["0.%d 0.5 0.25 F T F" % i for i in range(3000)]
original = fresh(lines)
np.zeros(1); ct.parse_xdatcar_coords_rs([])  # NumPy loaded: only the bool runs code
def replace():
    lines[:] = [7] * 10
flag = fake_numpy_bool(True, replace)
call = lambda: ct.parse_poscar_positions_rs(lines, flag)
expect = lambda: ct.parse_poscar_positions_rs(original, True)
""",
    "atom lines col_types index empties the lines": """
lines = ["Si%d %d.25 -2 T" % (i % 7, i) for i in range(3000)]
original = fresh(lines)
ct.parse_xdatcar_coords_rs([])
col_types = [ord("s"), Index(ord("f"), lines.clear), ord("i"), ord("b")]
call = lambda: al.read_atom_lines_rs(lines, col_types)
expect = lambda: al.read_atom_lines_rs(original, b"sfib")
""",
    "atom lines col_types sequence replaces the items": """
import collections.abc
lines = ["Si%d %d.25 -2 T" % (i % 7, i) for i in range(3000)]
original = fresh(lines)
ct.parse_xdatcar_coords_rs([])
class Codes(collections.abc.Sequence):
    def __len__(self):
        return 4
    def __getitem__(self, i):
        if once():
            lines[:] = [b"x"] * len(lines)
        return b"sfib"[i]
call = lambda: al.read_atom_lines_rs(lines, Codes())
expect = lambda: al.read_atom_lines_rs(original, b"sfib")
""",
})

CASES = {**RESIZES, **EMPTIES}


def child_script(setup):
    return CHILD.replace("{setup}", textwrap.dedent(setup))


def _child_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(_coordtext.__file__), env.get("PYTHONPATH", "")])
    return env


@pytest.mark.parametrize("setup", CASES.values(), ids=CASES.keys())
def test_code_run_by_a_conversion_never_exposes_moved_or_freed_memory(setup):
    script = child_script(setup)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=_child_env(),
                         timeout=120)
    assert run.returncode == 0, f"child died ({run.returncode}):\n{run.stderr[-3000:]}"
    assert run.stdout.splitlines()[0] == "same", run.stdout


def test_the_reshape_cases_end_in_a_clean_type_error():
    # The answer there is no answer for inputs of another shape: the argument
    # is refused as if it had been passed reshaped.
    for name in ["xdatcar index flattens positions", "xdatcar index changes the dtype",
                 "supercell numpy bool flattens the lattice"]:
        run = subprocess.run([sys.executable, "-c", child_script(CASES[name])],
                             capture_output=True, text=True, env=_child_env(), timeout=120)
        last = run.stdout.splitlines()[-1]
        assert last.startswith("raised TypeError argument '") and "cannot be converted to 'PyArray<T, D>'" in last
