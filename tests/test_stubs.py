"""The type stubs in stubs/ against the compiled modules.

stubtest compares names, parameter lists, defaults and classes with the
runtime objects; the tests below also cover what it cannot see: the
`__text_signature__` of every function (including each overload), the base
class of PanicException, the result types that the stubs promise, and that
typical calls of the host package type-check as intended.
"""

from __future__ import annotations

import inspect
import os
import pathlib
import subprocess
import sys
import types
import typing

import numpy as np
import numpy.typing as npt
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUBS = ROOT / "stubs"
MODULES = ("_coordtext", "_atomlines", "_cellgeom")


def runtime(name: str) -> types.ModuleType:
    return pytest.importorskip(name)


def load_stub(name: str) -> types.ModuleType:
    """Executes the .pyi as Python: its annotations become real objects."""
    path = STUBS / f"{name}.pyi"
    module = types.ModuleType(f"stub{name}")
    module.__file__ = str(path)
    sys.modules[module.__name__] = module  # where typing resolves its names
    exec(compile(path.read_text(), str(path), "exec"), module.__dict__)
    return module


def stub_variants(stub: types.ModuleType, fname: str) -> list:
    """A stub function, or each of its overloads: without an implementation the
    name is bound to typing's placeholder, so look the overloads up by name."""
    key = types.SimpleNamespace(__module__=stub.__name__, __qualname__=fname)
    return typing.get_overloads(key) or [getattr(stub, fname)]


def bare(sig: inspect.Signature) -> str:
    """The signature as a text signature reads: names and defaults only."""
    params = [p.replace(annotation=inspect.Parameter.empty) for p in sig.parameters.values()]
    return str(sig.replace(parameters=params, return_annotation=inspect.Signature.empty))


def mypy_env() -> dict[str, str]:
    """The stubs from the source tree win over installed copies; stubtest
    imports the modules as this process does (PYTHONPATH in a dev build, the
    editable finder or site-packages otherwise)."""
    env = dict(os.environ)
    env["MYPYPATH"] = str(STUBS)
    dirs = [str(pathlib.Path(runtime(n).__file__).parent) for n in MODULES]
    env["PYTHONPATH"] = os.pathsep.join(dirs + [env.get("PYTHONPATH", "")]).rstrip(os.pathsep)
    return env


def run_mypy(args: list[str], cwd: pathlib.Path) -> subprocess.CompletedProcess[str]:
    pytest.importorskip("mypy")
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=mypy_env(),
                          capture_output=True, text=True, timeout=600)


@pytest.mark.parametrize("name", MODULES)
def test_stub_names_match_module(name):
    mod, stub = runtime(name), load_stub(name)
    assert stub.__all__ == mod.__all__
    public = {k for k in vars(mod) if not k.startswith("_")}
    assert public == set(mod.__all__) | {"PanicException"}
    for fname in public:
        assert hasattr(stub, fname), fname


@pytest.mark.parametrize("name", MODULES)
def test_stub_signatures_match_text_signatures(name):
    mod, stub = runtime(name), load_stub(name)
    for fname in mod.__all__:
        text_signature = getattr(mod, fname).__text_signature__
        assert text_signature is not None, fname
        for variant in stub_variants(stub, fname):
            assert bare(inspect.signature(variant)) == text_signature, fname


@pytest.mark.parametrize("name", MODULES)
def test_panic_exception_derives_from_base_exception(name):
    # Such a failure must not be swallowed by `except Exception`, in the stub
    # as at run time.
    mod, stub = runtime(name), load_stub(name)
    assert mod.PanicException.__bases__ == (BaseException,)
    assert stub.PanicException.__bases__ == (BaseException,)


def conforms(value, hint) -> bool:
    """isinstance for the annotations the stubs use, down to array dtypes."""
    if hint is None or hint is type(None):
        return value is None
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if origin in (typing.Union, types.UnionType):
        return any(conforms(value, h) for h in args)
    if origin is tuple:
        return (isinstance(value, tuple) and len(value) == len(args)
                and all(conforms(v, h) for v, h in zip(value, args)))
    if origin is list:
        return isinstance(value, list) and all(conforms(v, args[0]) for v in value)
    if origin is npt.NDArray or origin is np.ndarray:
        # NDArray[T] is an alias of ndarray[shape, dtype[T]] in newer NumPy.
        (scalar,) = args if origin is npt.NDArray else typing.get_args(args[1])
        return isinstance(value, np.ndarray) and value.dtype.type is scalar
    if typing.is_typeddict(hint):
        fields = typing.get_type_hints(hint)
        return (isinstance(value, dict) and set(value) == set(fields)
                and all(conforms(value[k], h) for k, h in fields.items()))
    return isinstance(value, hint)


F64 = np.zeros((2, 3))
SAMPLE_CALLS = {
    "parse_poscar_positions_rs": dict(lines=["0 0 0 F T T", "1 1 1"], selective=True),
    "format_poscar_positions_rs": dict(coord=F64, flags=np.ones((2, 3), dtype=bool)),
    "parse_xdatcar_coords_rs": dict(lines=["0.5 0.5 0.5"]),
    "format_xdatcar_config_rs": dict(scaled_positions=F64, index=np.int64(7)),
    "parse_xyz_block_rs": dict(lines=("Fe 0 0 0", "h 1 2 3")),
    "format_xyz_block_rs": dict(symbols=["H", "O"], positions=F64),
    "write_atoms_rs": dict(sym_codepoints=np.array([[72], [79]], dtype=np.uint32),
                           sym_width=2, float_mat=F64, int_mat=np.ones((2, 1), np.int64),
                           bool_mat=np.ones((2, 1), np.uint8), col_types=b"sfffib"),
    "read_atom_lines_rs": dict(lines=["H 1 2 3 4 T x"], col_types=[115, 102, 102, 102, 105, 98, 115]),
    "minkowski_reduce_rs": dict(cell=np.eye(3)),
    "make_supercell_positions_rs": dict(prim_positions=F64, lattice_points=np.eye(3),
                                        cell_major=np.True_),
}


@pytest.mark.parametrize("name", MODULES)
def test_results_have_the_stub_return_types(name):
    mod, stub = runtime(name), load_stub(name)
    for fname in mod.__all__:
        kwargs = SAMPLE_CALLS[fname]
        for variant in stub_variants(stub, fname):
            hints = typing.get_type_hints(variant)
            call = dict(kwargs)
            # An overload that pins an argument to a literal must describe the
            # result for that value.
            for param, hint in hints.items():
                if typing.get_origin(hint) is typing.Literal:
                    (call[param],) = typing.get_args(hint)
            result = getattr(mod, fname)(**call)
            assert conforms(result, hints["return"]), (fname, call, result)


def test_stubtest_finds_no_inconsistency(tmp_path):
    proc = run_mypy(["mypy.stubtest", *MODULES], tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr


HOST_CALLS = '''
from typing import assert_type
import numpy as np
from numpy.typing import NDArray
import _atomlines, _cellgeom, _coordtext

lines = ("H 0 0 0",)
pos, flags = _coordtext.parse_poscar_positions_rs(lines, True)
assert_type(flags, NDArray[np.bool_])
assert_type(_coordtext.parse_poscar_positions_rs(lines, False)[1], None)
sel: bool = bool(len(lines))
assert_type(_coordtext.parse_poscar_positions_rs(lines, sel)[1], NDArray[np.bool_] | None)
assert_type(_coordtext.format_poscar_positions_rs(pos), str)
assert_type(_coordtext.format_xdatcar_config_rs(pos, np.int64(3)), str)
symbols, xyz = _coordtext.parse_xyz_block_rs(list(lines))
assert_type(symbols, list[str])
assert_type(_coordtext.format_xyz_block_rs(symbols, xyz), str)

cols = _atomlines.read_atom_lines_rs(lines, b"sfff")
assert_type(cols["ints"], NDArray[np.int64])
assert_type(cols["strs"], list[list[str]])
text = _atomlines.write_atoms_rs(np.zeros((1, 2), np.uint32), np.uint64(2), cols["floats"],
                                 cols["ints"], cols["bools"], [115, 102, 102, 102])
assert_type(text, str)

rcell, op = _cellgeom.minkowski_reduce_rs(np.eye(3))
assert_type(op, NDArray[np.int64])
sc = _cellgeom.make_supercell_positions_rs(xyz, rcell, cell_major=np.True_)
assert_type(sc, NDArray[np.float64])

try:
    _cellgeom.minkowski_reduce_rs(np.zeros((3, 3)))
except _cellgeom.PanicException as exc:
    assert_type(exc, _cellgeom.PanicException)
'''

# Each mistake a host call could make, with the start of the error mypy must report for it.
HOST_MISTAKES = [
    ("_coordtext.format_poscar_positions_rs(np.eye(3), mask=None)",
     'Unexpected keyword argument "mask" for "format_poscar_positions_rs"'),
    ("_coordtext.format_xdatcar_config_rs(np.eye(3), 1.0)",
     'Argument 2 to "format_xdatcar_config_rs" has incompatible type "float"'),
    ('_atomlines.read_atom_lines_rs(["H 0"], 3)',
     'Argument 2 to "read_atom_lines_rs" has incompatible type "int"'),
    ("_cellgeom.make_supercell_positions_rs(np.eye(3), np.eye(3))",
     'Missing positional argument "cell_major" in call to "make_supercell_positions_rs"'),
    ('x: int = _coordtext.format_xyz_block_rs(["H"], np.eye(3))',
     'Incompatible types in assignment (expression has type "str", variable has type "int")'),
]


def test_host_calls_type_check(tmp_path):
    (tmp_path / "good.py").write_text(HOST_CALLS)
    (tmp_path / "bad.py").write_text("import numpy as np\nimport _atomlines, _cellgeom, _coordtext\n"
                                     + "".join(code + "\n" for code, _ in HOST_MISTAKES))
    good = run_mypy(["mypy", "--strict", "--no-incremental", "good.py"], tmp_path)
    assert good.returncode == 0, good.stdout + good.stderr
    bad = run_mypy(["mypy", "--no-incremental", "bad.py"], tmp_path)
    # One error per mistake, in order, matched by its text (not its line).
    errors = [line.split(": error: ", 1)[1] for line in bad.stdout.splitlines() if ": error: " in line]
    assert len(errors) == len(HOST_MISTAKES), bad.stdout
    for error, (_, expected) in zip(errors, HOST_MISTAKES):
        assert error.startswith(expected), bad.stdout


@pytest.mark.parametrize("name", MODULES)
def test_installed_stubs_are_the_source_stubs(name):
    """An installed (non-editable) module carries both stub copies."""
    so = pathlib.Path(runtime(name).__file__)
    if "site-packages" not in so.parts:
        pytest.skip("module not installed into site-packages")
    source = (STUBS / f"{name}.pyi").read_text()
    assert so.with_name(f"{name}.pyi").read_text() == source
    assert (so.parent / f"{name}-stubs" / "__init__.pyi").read_text() == source
