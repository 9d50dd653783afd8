"""The call boundary of `_coordtext`: module attributes, argument binding,
argument intake and result arrays (reference and memory hygiene of every
module: test_leaks.py)."""

import collections.abc
import gc
import importlib
import inspect
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _coordtext
from _coordtext import PanicException

M = _coordtext
Z3 = np.zeros((0, 3))


def raises_exact(exc_type, message, fn, *args, **kwargs):
    """Calls fn and checks the exception's exact type and exact text."""
    with pytest.raises(BaseException) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type, repr(info.value)
    assert str(info.value) == message
    return info.value


# --- module object ---------------------------------------------------------

SIGNATURES = {
    "parse_poscar_positions_rs": ("(lines, selective)", "Parse the N-atom position block from a POSCAR/CONTCAR file."),
    "format_poscar_positions_rs": ("(coord, flags=None)", "Format the N-atom position block for a POSCAR/CONTCAR file."),
    "parse_xdatcar_coords_rs": ("(lines)", "Parse the coordinate block for one XDATCAR frame."),
    "format_xdatcar_config_rs": ("(scaled_positions, index)", "Format one complete XDATCAR configuration block."),
    "parse_xyz_block_rs": ("(lines)", "Parse N atom lines from a simple XYZ file."),
    "format_xyz_block_rs": ("(symbols, positions)", "Format N atoms as simple XYZ atom lines."),
}


def test_module_attributes_and_reimport_gives_the_same_object():
    assert M.__all__ == list(SIGNATURES)
    assert M.__doc__ == ""
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)
    assert PanicException.__bases__ == (BaseException,)
    saved = sys.modules.pop("_coordtext")
    try:
        again = importlib.import_module("_coordtext")
    finally:
        sys.modules["_coordtext"] = saved
    assert again is saved
    # Functions are registered once: a second import must not extend __all__.
    assert again.__all__ == list(SIGNATURES)


SUBINTERPRETER_SCRIPT = '''
import _coordtext
import _interpreters
interp = _interpreters.create("legacy")
_interpreters.run_string(interp, """
try:
    import _coordtext
except ImportError as e:
    print("refused:", "sub-interpreters" in str(e))
else:
    print("imported")
""")
_interpreters.destroy(interp)
print(_coordtext.parse_xdatcar_coords_rs(["1 2 3"]).tolist())
'''


def _child_env():
    """Environment in which a child interpreter finds the same build of the module."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(M.__file__), env.get("PYTHONPATH", "")])
    return env


def test_sub_interpreter_import_is_refused_and_main_stays_usable():
    run = subprocess.run([sys.executable, "-c", SUBINTERPRETER_SCRIPT], capture_output=True, text=True,
                         env=_child_env(), timeout=60)
    if "No module named '_interpreters'" in run.stderr:
        pytest.skip("no sub-interpreter support")
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout.splitlines() == ["refused: True", "[[1.0, 2.0, 3.0]]"]


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_function_introspection(name):
    fn = getattr(M, name)
    signature, summary = SIGNATURES[name]
    assert fn.__text_signature__ == signature
    assert str(inspect.signature(fn)) == signature
    assert fn.__doc__.splitlines()[0] == summary
    assert "--" not in fn.__doc__.splitlines()[:2]
    assert fn.__name__ == name and fn.__module__ == "_coordtext" and fn.__self__ is M


# --- argument binding ------------------------------------------------------

A = np.zeros((1, 3))

BINDING = [
    (M.parse_xyz_block_rs, ([], []), {}, "parse_xyz_block_rs() takes 1 positional arguments but 2 were given"),
    (M.format_xyz_block_rs, (1, 2, 3), {}, "format_xyz_block_rs() takes 2 positional arguments but 3 were given"),
    # keywords are not looked at once there are too many positionals
    (M.format_xyz_block_rs, (1, 2, 3), {"bogus": 1}, "format_xyz_block_rs() takes 2 positional arguments but 3 were given"),
    (M.format_poscar_positions_rs, (A, None, None), {}, "format_poscar_positions_rs() takes from 1 to 2 positional arguments but 3 were given"),
    (M.format_poscar_positions_rs, (A, None, None, None), {}, "format_poscar_positions_rs() takes from 1 to 2 positional arguments but 4 were given"),
    (M.parse_xyz_block_rs, (), {"line": []}, "parse_xyz_block_rs() got an unexpected keyword argument 'line'"),
    (M.parse_xyz_block_rs, ([],), {"lines": []}, "parse_xyz_block_rs() got multiple values for argument 'lines'"),
    # keywords are checked in the order given
    (M.parse_xyz_block_rs, ([],), {"lines": [], "bogus": 1}, "parse_xyz_block_rs() got multiple values for argument 'lines'"),
    (M.parse_xyz_block_rs, ([],), {"bogus": 1, "lines": []}, "parse_xyz_block_rs() got an unexpected keyword argument 'bogus'"),
    (M.format_poscar_positions_rs, (A, None), {"flags": None}, "format_poscar_positions_rs() got multiple values for argument 'flags'"),
    (M.parse_xyz_block_rs, (), {}, "parse_xyz_block_rs() missing 1 required positional argument: 'lines'"),
    (M.format_xyz_block_rs, (), {}, "format_xyz_block_rs() missing 2 required positional arguments: 'symbols' and 'positions'"),
    (M.format_xyz_block_rs, (), {"positions": A}, "format_xyz_block_rs() missing 1 required positional argument: 'symbols'"),
    (M.format_xdatcar_config_rs, (A,), {}, "format_xdatcar_config_rs() missing 1 required positional argument: 'index'"),
    (M.format_poscar_positions_rs, (), {"flags": None}, "format_poscar_positions_rs() missing 1 required positional argument: 'coord'"),
    (M.parse_poscar_positions_rs, (), {}, "parse_poscar_positions_rs() missing 2 required positional arguments: 'lines' and 'selective'"),
    # binding comes before any conversion
    (M.format_xyz_block_rs, ("not a list",), {}, "format_xyz_block_rs() missing 1 required positional argument: 'positions'"),
]


@pytest.mark.parametrize("fn, args, kwargs, message", BINDING)
def test_binding_messages(fn, args, kwargs, message):
    raises_exact(TypeError, message, fn, *args, **kwargs)


ALL_FUNCTIONS = [getattr(mod, name) for mod in (M, pytest.importorskip("_atomlines"),
                                                pytest.importorskip("_cellgeom")) for name in mod.__all__]


@pytest.mark.parametrize("keyword", ["lines\0", "\0", "\ud800", "x\udfff\0y", "é\U0001F600"])
@pytest.mark.parametrize("fn", ALL_FUNCTIONS, ids=lambda f: f.__name__)
def test_keyword_names_reach_the_message_whole(fn, keyword):
    # A NUL once cut the message short and a lone surrogate raised
    # UnicodeEncodeError: names must go into the message as str, not as C text.
    raises_exact(TypeError, f"{fn.__name__}() got an unexpected keyword argument '{keyword}'",
                 fn, **{keyword: 1})


def test_missing_three_arguments_lists_them_with_oxford_and():
    cellgeom = pytest.importorskip("_cellgeom")
    f = cellgeom.make_supercell_positions_rs
    raises_exact(TypeError, "make_supercell_positions_rs() missing 3 required positional arguments: "
                 "'prim_positions', 'lattice_points', and 'cell_major'", f)
    raises_exact(TypeError, "make_supercell_positions_rs() missing 2 required positional arguments: "
                 "'lattice_points' and 'cell_major'", f, A)


def test_keywords_in_any_order_bind_like_positionals():
    text = M.format_xyz_block_rs(["H"], A)
    assert M.format_xyz_block_rs(positions=A, symbols=["H"]) == text
    assert M.format_poscar_positions_rs(coord=A) == M.format_poscar_positions_rs(A, None)
    assert M.format_poscar_positions_rs(A, flags=None) == M.format_poscar_positions_rs(A)
    assert M.format_xdatcar_config_rs(index=2, scaled_positions=A) == M.format_xdatcar_config_rs(A, 2)
    assert M.parse_poscar_positions_rs(selective=False, lines=[])[1] is None


# --- string-sequence intake ------------------------------------------------

class StrSub(str):
    pass


class ListSub(list):
    pass


class LinesSeq(collections.abc.Sequence):
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class BadLen:
    """Sequence protocol whose __len__ fails: the length is only a hint."""

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        if i < 2:
            return "H 1 2 3"
        raise IndexError(i)


class Failing:
    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 0:
            return "H 1 2 3"
        raise self.exc


class MyTypeError(TypeError):
    pass


LINE = "H 1 2 3"


@pytest.mark.parametrize("lines", [
    [LINE, LINE], (LINE, LINE), ListSub([LINE, LINE]), LinesSeq([LINE, LINE]), BadLen(),
    [StrSub(LINE), LINE], collections.UserList([LINE, LINE]),
], ids=["list", "tuple", "list-subclass", "Sequence", "bad-len", "str-subclass-item", "UserList"])
def test_sequences_accepted(lines):
    symbols, pos = M.parse_xyz_block_rs(lines)
    assert symbols == ["H", "H"] and pos.tolist() == [[1, 2, 3]] * 2


def test_list_subclass_is_read_through_its_iterator():
    class Odd(list):
        def __iter__(self):
            return iter(["O 4 5 6"])
    assert M.parse_xyz_block_rs(Odd(["garbage"]))[0] == ["O"]


SEQUENCE_REFUSALS = [
    ("H 1 2 3", "Can't extract `str` to `Vec`"),
    (StrSub("H 1 2 3"), "Can't extract `str` to `Vec`"),
    (iter([LINE]), "'list_iterator' object cannot be converted to 'Sequence'"),
    ((x for x in [LINE]), "'generator' object cannot be converted to 'Sequence'"),
    ({LINE: 1}, "'dict' object cannot be converted to 'Sequence'"),
    ({LINE}, "'set' object cannot be converted to 'Sequence'"),
    (5, "'int' object cannot be converted to 'Sequence'"),
    (None, "'NoneType' object cannot be converted to 'Sequence'"),
    ([b"H 1 2 3"], "'bytes' object cannot be converted to 'PyString'"),
    (b"H 1 2 3", "'int' object cannot be converted to 'PyString'"),
    # the whole list is converted before any line is parsed
    (["", "bad", 7], "'int' object cannot be converted to 'PyString'"),
    ([LINE, None], "'NoneType' object cannot be converted to 'PyString'"),
    (LinesSeq([LINE, 1.5]), "'float' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("lines, message", SEQUENCE_REFUSALS)
@pytest.mark.parametrize("reader", [
    M.parse_xyz_block_rs, M.parse_xdatcar_coords_rs, lambda lines: M.parse_poscar_positions_rs(lines, True),
], ids=["xyz", "xdatcar", "poscar"])
def test_sequences_refused(reader, lines, message):
    raises_exact(TypeError, "argument 'lines': " + message, reader, lines)


def test_symbols_sequence_refused_with_its_own_name():
    raises_exact(TypeError, "argument 'symbols': Can't extract `str` to `Vec`", M.format_xyz_block_rs, "H", A)


def test_lone_surrogate_raises_unicode_error_without_prefix():
    with pytest.raises(UnicodeEncodeError) as info:
        M.parse_xyz_block_rs([LINE, "H\ud800 1 2 3"])
    assert not str(info.value).startswith("argument")


def test_exceptions_of_the_iteration_pass_through():
    with pytest.raises(RuntimeError, match="^boom$"):
        M.parse_xyz_block_rs(Failing(RuntimeError("boom")))
    # a TypeError subclass is not a plain TypeError: no prefix
    raises_exact(MyTypeError, "sub", M.parse_xyz_block_rs, Failing(MyTypeError("sub")))


def test_prefixed_type_error_keeps_the_original_cause():
    root = ValueError("root")
    inner = TypeError("inner")
    inner.__cause__ = root
    e = raises_exact(TypeError, "argument 'lines': inner", M.parse_xyz_block_rs, Failing(inner))
    assert e.__cause__ is root


# --- boolean intake --------------------------------------------------------

@pytest.mark.parametrize("value, expected", [
    (True, True), (False, False), (np.True_, True), (np.False_, False), (np.bool_(1), True),
])
def test_boolean_accepted(value, expected):
    pos, flags = M.parse_poscar_positions_rs(["0 0 0 F"], value)
    assert (flags is not None) == expected
    if expected:
        assert flags.tolist() == [[True, False, False]]


@pytest.mark.parametrize("value, tname", [
    (1, "int"), (0, "int"), (None, "NoneType"), ("x", "str"), (1.0, "float"), (np.int64(1), "int64"),
    (np.array(True), "ndarray"), ([True], "list"),
])
def test_boolean_refused(value, tname):
    raises_exact(TypeError, f"argument 'selective': '{tname}' object cannot be converted to 'PyBool'",
                 M.parse_poscar_positions_rs, [], value)


# --- unsigned intake -------------------------------------------------------

class Idx:
    def __index__(self):
        return 42


class IntSub(int):
    pass


@pytest.mark.parametrize("value, digits", [
    (True, "1"), (False, "0"), (np.uint64(2**64 - 1), str(2**64 - 1)), (np.int64(7), "7"),
    (2**64 - 1, str(2**64 - 1)), (Idx(), "42"), (IntSub(9), "9"), (np.uint8(255), "255"),
])
def test_unsigned_accepted(value, digits):
    assert M.format_xdatcar_config_rs(Z3, value) == "Direct configuration=" + digits.rjust(6) + "\n"


@pytest.mark.parametrize("value", [-1, 2**64, np.int64(-1), -(2**70)])
def test_unsigned_overflow_unprefixed(value):
    with pytest.raises(OverflowError) as info:
        M.format_xdatcar_config_rs(Z3, value)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("value", [2.0, "1", None, np.float64(1.0), [1]])
def test_unsigned_non_index_is_prefixed_type_error(value):
    with pytest.raises(TypeError) as info:
        M.format_xdatcar_config_rs(Z3, value)
    assert type(info.value) is TypeError
    assert str(info.value).startswith("argument 'index': ")


# --- array intake ----------------------------------------------------------

class MyArray(np.ndarray):
    pass


def readonly(a):
    a = a.copy()
    a.flags.writeable = False
    return a


ARRAY_REFUSED = [
    ([[0.0, 0.0, 0.0]], "list"),
    (np.zeros(3), "ndarray"),
    (np.zeros((1, 1, 3)), "ndarray"),
    (np.zeros((1, 3), np.float32), "ndarray"),
    (np.zeros((1, 3), ">f8"), "ndarray"),
    (np.zeros((1, 3), np.int64), "ndarray"),
    (np.zeros((1, 3), np.longdouble), "ndarray"),
    (np.zeros((1, 3), np.complex128), "ndarray"),
    (np.float64(0.0), "float64"),
    (None, "NoneType"),
]


@pytest.mark.parametrize("value, tname", ARRAY_REFUSED)
@pytest.mark.parametrize("call, name", [
    (lambda a: M.format_xyz_block_rs(["H"], a), "positions"),
    (lambda a: M.format_poscar_positions_rs(a), "coord"),
    (lambda a: M.format_xdatcar_config_rs(a, 1), "scaled_positions"),
], ids=["xyz", "poscar", "xdatcar"])
def test_float_array_refused(call, name, value, tname):
    raises_exact(TypeError, f"argument '{name}': '{tname}' object cannot be converted to 'PyArray<T, D>'",
                 call, value)


@pytest.mark.parametrize("flags, tname", [
    (np.ones((1, 3), np.int64), "ndarray"), (np.ones((1, 3), np.uint8), "ndarray"),
    (np.ones(3, bool), "ndarray"), ([[True, False, True]], "list"), (True, "bool"),
    (np.ones((1, 1, 3), bool), "ndarray"),
])
def test_flags_array_refused(flags, tname):
    raises_exact(TypeError, f"argument 'flags': '{tname}' object cannot be converted to 'PyArray<T, D>'",
                 M.format_poscar_positions_rs, A, flags)


@pytest.mark.parametrize("make", [
    lambda a: a.view(MyArray), readonly, lambda a: np.asarray(a, "=f8"),
], ids=["subclass", "readonly", "native-order"])
def test_float_array_variants_accepted(make):
    a = np.array([[1.0, 2.0, 3.0]])
    flags = np.array([[True, False, True]])
    assert M.format_xyz_block_rs(["H"], make(a)) == "%-2s %22.15f %22.15f %22.15f\n" % ("H", 1, 2, 3)
    assert M.format_poscar_positions_rs(make(a), readonly(flags)) == \
        " %19.16f %19.16f %19.16f   %s   %s   %s\n" % (1, 2, 3, "F", "T", "F")
    assert M.format_xdatcar_config_rs(make(a), 1) == \
        "Direct configuration=%6d\n  %11.8f %11.8f %11.8f\n" % (1, 1, 2, 3)


# --- argument order --------------------------------------------------------

ORDER = [
    (lambda: M.format_xyz_block_rs("H", "bad"), "symbols"),
    (lambda: M.format_xyz_block_rs(positions="bad", symbols="H"), "symbols"),
    (lambda: M.format_xyz_block_rs(["H"], "bad"), "positions"),
    (lambda: M.format_xdatcar_config_rs(np.zeros(3), -1), "scaled_positions"),
    (lambda: M.format_xdatcar_config_rs(np.zeros((1, 3)), 2.0), "index"),
    (lambda: M.parse_poscar_positions_rs(5, 1), "lines"),
    (lambda: M.parse_poscar_positions_rs(["not a number"], 1), "selective"),
    (lambda: M.format_poscar_positions_rs(np.zeros(3, np.float32), np.zeros(3)), "coord"),
    (lambda: M.format_poscar_positions_rs(np.zeros((5, 3)), np.zeros((1, 3))), "flags"),
]


_al = pytest.importorskip("_atomlines")
BAD = "not a number at all"
MANY = [LINE] * 700  # lines are read in chunks of 64: this spans several

# The lines are checked while they are parsed, chunk by chunk: an item error
# anywhere must still win over a malformed earlier line and over a later
# argument's error, as if the whole list had been converted first.
ITEM_ERRORS_WIN = [
    (lambda: M.parse_xyz_block_rs([BAD] + MANY + [b"x"]), TypeError, "argument 'lines': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: M.parse_xdatcar_coords_rs(MANY[:5] + [BAD] + MANY + [None]), TypeError, "argument 'lines': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda: M.parse_poscar_positions_rs(MANY + [BAD, 3], False), TypeError, "argument 'lines': 'int' object cannot be converted to 'PyString'"),
    (lambda: M.parse_xyz_block_rs([BAD] + MANY + ["H\ud800 1 2 3"]), UnicodeEncodeError, None),
    (lambda: M.parse_poscar_positions_rs(MANY + [7], 1), TypeError, "argument 'lines': 'int' object cannot be converted to 'PyString'"),
    (lambda: _al.read_atom_lines_rs(MANY + [7], "sfff"), TypeError, "argument 'lines': 'int' object cannot be converted to 'PyString'"),
    (lambda: _al.read_atom_lines_rs([BAD] + MANY + [7], b"sfff"), TypeError, "argument 'lines': 'int' object cannot be converted to 'PyString'"),
    (lambda: _al.read_atom_lines_rs(MANY, [300]), OverflowError, "out of range integral type conversion attempted"),
]


@pytest.mark.parametrize("call, exc, message", ITEM_ERRORS_WIN)
def test_item_errors_win_over_work_failures_and_later_arguments(call, exc, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize("call, message", [
    (lambda lines: M.parse_xyz_block_rs(lines)[1][:, :2], "XYZ: cannot parse coordinate 'x' on line 613: invalid float literal"),
    (lambda lines: M.parse_xdatcar_coords_rs(lines)[:, 1:], "XDATCAR: cannot parse 'x' on line 613: invalid float literal"),
    (lambda lines: M.parse_poscar_positions_rs(lines, False)[0][:, 1:], "POSCAR: cannot parse coordinate 'x' on atom line 613: invalid float literal"),
    (lambda lines: _al.read_atom_lines_rs(lines, b"xff")["floats"], 'row 613: cannot parse "x" as float: invalid float literal'),
], ids=["xyz", "xdatcar", "poscar", "atomlines"])
def test_lines_past_the_first_chunks_keep_their_numbers(call, message):
    lines = [f"{i} {i}.5 {-i} 0.25" for i in range(700)]
    raises_exact(ValueError, message, call, lines[:613] + ["1 x 2 3"] + lines[613:])
    assert call(lines).tolist() == [[i + 0.5, -i] for i in range(700)]


def test_lines_are_read_as_they_were_when_converted():
    # A later argument's conversion may run Python code (__index__) that
    # changes the list: what is read must be the lines as passed.
    lines = ["H 1 2 3"] * 600

    class Code:
        def __index__(self):
            lines[:] = ["garbage"]
            return ord("s")

    out = _al.read_atom_lines_rs(lines, [Code(), ord("f")])
    assert out["strs"] == [["H"] * 600] and out["floats"][:, 0].tolist() == [1.0] * 600


def test_other_sequences_stop_at_the_first_bad_item():
    seen = []

    class Seq(collections.abc.Sequence):
        def __len__(self):
            return 5

        def __getitem__(self, i):
            seen.append(i)
            return [LINE, 3, LINE, LINE, LINE][i]

    raises_exact(TypeError, "argument 'lines': 'int' object cannot be converted to 'PyString'",
                 M.parse_xyz_block_rs, Seq())
    assert seen == [0, 1]


@pytest.mark.parametrize("call, name", ORDER)
def test_first_bad_argument_in_parameter_order_is_reported(call, name):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value).startswith(f"argument '{name}': ")


# --- result arrays ---------------------------------------------------------

RESULT_ARRAYS = [
    (lambda: M.parse_xyz_block_rs(["H 1 2 3", "O 4 5 6"])[1], np.float64),
    (lambda: M.parse_xdatcar_coords_rs(["1 2 3", "4 5 6"]), np.float64),
    (lambda: M.parse_poscar_positions_rs(["1 2 3 F T F", "4 5 6"], True)[0], np.float64),
    (lambda: M.parse_poscar_positions_rs(["1 2 3 F T F", "4 5 6"], True)[1], np.bool_),
]


@pytest.mark.parametrize("make, dtype", RESULT_ARRAYS)
def test_result_arrays_are_independent_writeable_c_arrays(make, dtype):
    first = make()
    expected = first.copy()
    assert first.dtype == dtype and first.shape == (2, 3)
    assert first.base is not None
    assert first.flags.writeable and first.flags.c_contiguous and not first.flags.owndata
    first[...] = 1 - first if dtype is np.bool_ else -99.0
    second = make()
    assert np.array_equal(second, expected)
    assert not np.shares_memory(first, second)
    del first
    gc.collect()
    assert np.array_equal(second, expected)


def test_empty_results_have_shape_0_3():
    assert M.parse_xyz_block_rs([])[1].shape == (0, 3)
    assert M.parse_xdatcar_coords_rs(()).shape == (0, 3)
    pos, flags = M.parse_poscar_positions_rs([], True)
    assert pos.shape == (0, 3) and flags.shape == (0, 3) and flags.dtype == np.bool_


# --- NumPy loaded on first use ----------------------------------------------

def test_missing_numpy_is_a_panic_and_the_module_stays_usable():
    # NumPy is loaded on first use; without it, array work is a broken invariant.
    code = textwrap.dedent("""
        import sys
        sys.modules['numpy'] = None
        import _coordtext
        assert _coordtext.parse_xyz_block_rs.__name__ == 'parse_xyz_block_rs'
        try:
            _coordtext.parse_xyz_block_rs(['H 0 0 0'])
        except _coordtext.PanicException as exc:
            print('panic:', exc)
        try:
            _coordtext.parse_xyz_block_rs('x')
        except TypeError as exc:
            print('type:', exc)
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         env=_child_env(), timeout=60)
    assert out.returncode == 0, out.stderr
    assert "panic: NumPy C API unavailable" in out.stdout
    assert "type: argument 'lines': Can't extract `str` to `Vec`" in out.stdout
