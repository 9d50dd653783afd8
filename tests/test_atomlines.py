"""Typed extended-XYZ atom lines: read_atom_lines_rs and write_atoms_rs."""

import inspect
import math
import re

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _atomlines
from _atomlines import PanicException
from exact import assert_same

read = _atomlines.read_atom_lines_rs
write = _atomlines.write_atoms_rs


def codepoints(symbols, width=None):
    """(n, width) uint32 code points of `symbols`, as the host builds them."""
    arr = np.array(symbols, dtype=f"<U{width or max([1, *map(len, symbols)])}")
    return arr.view(np.uint32).reshape(len(symbols), -1)


def empty(dtype, rows=0, cols=0):
    return np.zeros((rows, cols), dtype=dtype)


def write_simple(symbols, floats=None, ints=None, bools=None, col_types=b"s", sym_width=2):
    n = len(symbols)
    return write(
        codepoints(symbols) if n else empty(np.uint32, 0, 1),
        sym_width,
        np.asarray(floats, dtype=np.float64).reshape(n, -1) if floats is not None else empty(np.float64, n),
        np.asarray(ints, dtype=np.int64).reshape(n, -1) if ints is not None else empty(np.int64, n),
        np.asarray(bools, dtype=np.uint8).reshape(n, -1) if bools is not None else empty(np.uint8, n),
        col_types,
    )


FLOAT = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|(?i:inf|infinity|nan))")
BOOLS = {"T": 1, "True": 1, "TRUE": 1, "true": 1, "F": 0, "False": 0, "FALSE": 0, "false": 0}


def int_failure(token):
    """Why `token` is not an int64 (digits read left to right), or None."""
    negative = token[:1] == "-"
    digits = token[1:] if token[:1] in "+-" else token
    limit = 2**63 if negative else 2**63 - 1
    value = 0
    for ch in digits or "?":
        if ch not in "0123456789":
            return "invalid digit found in string"
        value = 10 * value + int(ch)
        if value > limit:
            return f"number too {'small' if negative else 'large'} to fit in target type"
    return None


def reference_read(lines, col_types):
    """An independent reading in plain Python: the columns, or the first
    failure as (row, token, kind, reason) with token None when the row ran out."""
    codes = bytes(col_types).decode("latin-1")
    floats, ints, bools = [], [], []
    strs = [[] for _ in range(codes.count("s"))]
    if not codes:
        return {"floats": [[]] * len(lines), "ints": [[]] * len(lines), "bools": [[]] * len(lines), "strs": []}
    for row, line in enumerate(lines):
        tokens = [t for t in re.split("[\t\n\f\r ]+", line) if t]
        f, i, b, k = [], [], [], 0
        for j, code in enumerate(codes):
            if j >= len(tokens):
                return (row, None, None, None)
            token = tokens[j]
            if code == "f":
                if not FLOAT.fullmatch(token):
                    return (row, token, "float", ": invalid float literal")
                f.append(float(token))
            elif code == "i":
                if reason := int_failure(token):
                    return (row, token, "int", ": " + reason)
                i.append(int(token))
            elif code == "b":
                if token not in BOOLS:
                    return (row, token, "bool", "")
                b.append(BOOLS[token])
            elif code == "s":
                strs[k].append(token)
                k += 1
        floats.append(f), ints.append(i), bools.append(b)
    return {"floats": floats, "ints": ints, "bools": bools, "strs": strs}


def check_against_reference(lines, col_types):
    expected = reference_read(lines, col_types)
    if isinstance(expected, dict):
        out = read(lines, col_types)
        assert_same({k: (v if k == "strs" else v.tolist()) for k, v in out.items()}, expected)
        return
    row, token, kind, reason = expected
    with pytest.raises(ValueError) as info:
        read(lines, col_types)
    message = str(info.value)
    if token is None:
        assert message == f"row {row}: expected {len(col_types)} tokens, ran out"
    elif token.isascii() and token.isprintable() and '"' not in token and "\\" not in token:
        assert message == f'row {row}: cannot parse "{token}" as {kind}{reason}'
    else:  # the token is shown with escapes
        assert message.startswith(f'row {row}: cannot parse "') and message.endswith(f'" as {kind}{reason}')


# ---------------------------------------------------------------- interface


def test_module_interface():
    assert _atomlines.__all__ == ["write_atoms_rs", "read_atom_lines_rs"]
    assert _atomlines.__doc__ == ""
    assert str(inspect.signature(write)) == (
        "(sym_codepoints, sym_width, float_mat, int_mat, bool_mat, col_types)")
    assert str(inspect.signature(read)) == "(lines, col_types)"
    assert write.__doc__.startswith(
        "Build the complete extxyz atom block (all `natoms` lines) as a Python str.")
    assert write.__doc__.rstrip().endswith("`float_mat`, `int_mat`, `bool_mat` may have 0 columns.")
    assert read.__doc__.startswith("Parse `natoms` atom lines, returning a Python dict with keys:")
    assert read.__doc__.rstrip().endswith(
        "Raises `ValueError` if any line cannot be parsed according to `col_types`.")
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)


# ---------------------------------------------------------------- reader


def test_read_layout():
    out = read(["H 0.0 1.5 -2.25 7 T x", "  O\t1 2 3 -4 false\r\n"], b"sfffib")
    assert list(out) == ["floats", "ints", "bools", "strs"]
    for key, dtype, shape in [("floats", np.float64, (2, 3)), ("ints", np.int64, (2, 1)),
                              ("bools", np.uint8, (2, 1))]:
        arr = out[key]
        assert arr.dtype == dtype and arr.shape == shape
        assert arr.flags.c_contiguous and arr.flags.writeable and arr.base is not None
    assert out["floats"].tolist() == [[0.0, 1.5, -2.25], [1.0, 2.0, 3.0]]
    assert out["ints"].tolist() == [[7], [-4]]
    assert out["bools"].tolist() == [[1], [0]]
    assert out["strs"] == [["H", "O"]]


@pytest.mark.parametrize("col_types", [b"sfx", bytearray(b"sfx"), [115, 102, 120], (115, 102, 120)])
def test_col_types_sequence_kinds(col_types):
    out = read(["Fe 2.5 junk"], col_types)
    assert out["floats"].tolist() == [[2.5]]
    assert out["strs"] == [["Fe"]]
    assert out["ints"].shape == (1, 0) and out["bools"].shape == (1, 0)


def test_read_empty_inputs():
    out = read([], b"sffib")
    assert [out[k].shape for k in ("floats", "ints", "bools")] == [(0, 2), (0, 1), (0, 1)]
    assert out["strs"] == [[]]
    # No codes: the lines are never looked at.
    out = read(["", "garbage \x00"], b"")
    assert [out[k].shape for k in ("floats", "ints", "bools")] == [(2, 0)] * 3
    assert out["strs"] == []


def test_strings_newlines_and_shared_objects():
    out = read(['H "q" \u00e9t\u00e9', "O a\\b 'x'", "H\n1.0\t\f2.0"], b"sxs")
    # One list per string column; the text is kept as is; equal strings share one object.
    assert out["strs"] == [["H", "O", "H"], ["\u00e9t\u00e9", "'x'", "2.0"]]
    assert out["strs"][0][0] is out["strs"][0][2]


@pytest.mark.parametrize("token, code, value", [
    *[(t, "b", 1) for t in ("T", "True", "TRUE", "true")],
    *[(t, "b", 0) for t in ("F", "False", "FALSE", "false")],
    ("+7", "i", 7), ("007", "i", 7), ("-0", "i", 0), ("9223372036854775807", "i", 2**63 - 1),
    ("-9223372036854775808", "i", -(2**63)),
    ("1.5e3", "f", 1500.0), (".5", "f", 0.5), ("5.", "f", 5.0), ("-inf", "f", -math.inf),
    ("Infinity", "f", math.inf), ("1e400", "f", math.inf), ("1e-400", "f", 0.0),
    ("-0", "f", -0.0), ("NaN", "f", math.nan), ("-nan", "f", -math.nan),
])
def test_token_values(token, code, value):
    out = read([f"x {token} tail"], b"x" + code.encode())
    got = out[{"b": "bools", "i": "ints", "f": "floats"}[code]][0, 0]
    assert_same(got.item(), value)


@pytest.mark.parametrize("lines, codes, message", [
    (["H 0.0 x"], b"sff", 'row 0: cannot parse "x" as float: invalid float literal'),
    (["H 1 2", "H 0.0", "H 2"], b"sff", "row 1: expected 3 tokens, ran out"),
    (["   \t  "], b"s", "row 0: expected 1 tokens, ran out"),
    (["H 1"], b"sfx", "row 0: expected 3 tokens, ran out"),  # a skip code needs its token too
    (["H x"], b"sfff", 'row 0: cannot parse "x" as float: invalid float literal'),  # bad before missing
    (["t"], b"b", 'row 0: cannot parse "t" as bool'),
    ([".true."], b"b", 'row 0: cannot parse ".true." as bool'),
    (["-"], b"i", 'row 0: cannot parse "-" as int: invalid digit found in string'),
    (["1.0"], b"i", 'row 0: cannot parse "1.0" as int: invalid digit found in string'),
    (["9223372036854775808"], b"i",
     'row 0: cannot parse "9223372036854775808" as int: number too large to fit in target type'),
    (["-9223372036854775809"], b"i",
     'row 0: cannot parse "-9223372036854775809" as int: number too small to fit in target type'),
    (["99999999999999999999x"], b"i",
     'row 0: cannot parse "99999999999999999999x" as int: number too large to fit in target type'),
    (["1.0d0"], b"f", 'row 0: cannot parse "1.0d0" as float: invalid float literal'),
    # Quoting: escapes in the token shown by the message.
    (["1\x0b2"], b"f", 'row 0: cannot parse "1\\u{b}2" as float: invalid float literal'),
    (["1\x7f"], b"f", 'row 0: cannot parse "1\\u{7f}" as float: invalid float literal'),
    (["1\x00"], b"f", 'row 0: cannot parse "1\\0" as float: invalid float literal'),
    (["e\u0301"], b"f", 'row 0: cannot parse "e\\u{301}" as float: invalid float literal'),
    (['"a\\b\''], b"b", 'row 0: cannot parse "\\"a\\\\b\'" as bool'),
    (["1\u00a02"], b"i", 'row 0: cannot parse "1\\u{a0}2" as int: invalid digit found in string'),
])
def test_read_failures(lines, codes, message):
    with pytest.raises(ValueError) as info:
        read(lines, codes)
    assert info.value.args == (message,)


@pytest.mark.parametrize("args, exc, message", [
    (("H 1", b"s"), TypeError, "argument 'lines': Can't extract `str` to `Vec`"),
    (([b"H"], b"s"), TypeError, "argument 'lines': 'bytes' object cannot be converted to 'PyString'"),
    ((["H"], "s"), TypeError, "argument 'col_types': Can't extract `str` to `Vec`"),
    ((["H"], {1: 2}), TypeError, "argument 'col_types': 'dict' object cannot be converted to 'Sequence'"),
    ((["H"], [102, 256]), OverflowError, "out of range integral type conversion attempted"),
    ((["H"], [-1]), OverflowError, "out of range integral type conversion attempted"),
    # Argument errors come before any parsing (the line is bad too).
    ((["x"], [102, 2**40]), OverflowError, "out of range integral type conversion attempted"),
    ((["H"], [2**70]), OverflowError, None),  # CPython's own text, no prefix
    ((["H"], [1.5]), TypeError, None),
])
def test_read_argument_errors(args, exc, message):
    with pytest.raises(exc) as info:
        read(*args)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    else:
        assert str(info.value).startswith("argument 'col_types': ") == (exc is TypeError)


def test_million_lines_error_in_last_row():
    # A late failure must discard everything parsed before it, cleanly.
    lines = ["Si 0.5 1.5 2.5 3 T"] * 999_999 + ["Si 0.5 1.5 2.5 3 maybe"]
    with pytest.raises(ValueError) as info:
        read(lines, b"sfffib")
    assert str(info.value) == 'row 999999: cannot parse "maybe" as bool'
    out = read(lines[:-1], b"sfffib")
    assert out["floats"].shape == (999_999, 3) and out["strs"][0][-1] == "Si"


# ---------------------------------------------------------------- writer


def test_write_example_line():
    text = write_simple(["H"], [0.0, 1.5, -2.25], [7], [1], b"sfffib")
    assert text == ("H " + " " * 7 + "0.00000000" + " " * 7 + "1.50000000" + " " * 6 + "-2.25000000"
                    + " " * 8 + "7" + "  T\n")
    assert len(text) == 66


@pytest.mark.parametrize("kwargs, expected", [
    (dict(col_types=b""), "\n\n"),
    (dict(col_types=b"f", floats=[1, 2]), " " * 7 + "1.00000000\n" + " " * 7 + "2.00000000\n"),
    (dict(col_types=b"bs", bools=[0, 255]), "  FH \n  TO \n"),
    (dict(col_types=b"ss"), "H H \nO O \n"),
    (dict(col_types=b"xsyi", ints=[1, -2]), "H         1\nO        -2\n"),
    (dict(col_types=b"s", sym_width=0), "H\nO\n"),
    (dict(col_types=b"f", floats=[1234567890.5, -0.0]), " 1234567890.50000000\n" + " " * 6 + "-0.00000000\n"),
    (dict(col_types=b"f", floats=[math.nan, -math.inf]), " " * 14 + "NaN\n" + " " * 13 + "-inf\n"),
    (dict(col_types=b"i", ints=[123456789012, -(2**63)]), " 123456789012\n -9223372036854775808\n"),
    # integer fields around their eight columns, both signs
    (dict(col_types=b"i", ints=[99999999, -9999999]), " 99999999\n -9999999\n"),
    (dict(col_types=b"i", ints=[100000000, -10000000]), " 100000000\n -10000000\n"),
    (dict(col_types=b"i", ints=[0, -1]), "        0\n       -1\n"),
])
def test_write_layouts(kwargs, expected):
    assert write_simple(["H", "O"], **kwargs) == expected


@pytest.mark.parametrize("points, width, expected", [
    ([ord("H"), 0, ord("e")], 2, "H "),
    ([0, 0, 0], 3, "   "),
    ([ord("C"), 0xD800, ord("l")], 2, "Cl"),
    ([ord("X"), 0x110000, 0xFFFFFFFF, ord("y")], 1, "Xy"),
    ([ord("\u00e9"), ord("\U0001F600")], 4, "\u00e9\U0001F600  "),  # padded by characters
    ([ord("N"), ord("a")], 1, "Na"),  # wider than the field: written whole
    ([], 2, "  "),  # no columns at all
    # short ASCII symbols are stored without a branch on their end: what
    # follows the 0 must not show, and a later non-ASCII one must not either
    ([ord("H"), 0, 0xE9], 2, "H "),
    ([ord("H"), 0, ord("x"), ord("y")], 1, "H"),
    ([ord("F"), 0xE9, 0], 3, "F\u00e9 "),
    ([ord("F"), 0xD800, 0], 2, "F "),
    ([ord("a")] * 16, 16, "a" * 16),
    ([ord("a")] * 16, 17, "a" * 16 + " "),
    ([ord("a")] * 17, 16, "a" * 17),
    ([ord("a")] * 3 + [0] * 13, 16, "aaa" + " " * 13),
])
def test_write_symbol_decoding(points, width, expected):
    cp = np.array([points], dtype=np.uint32).reshape(1, len(points))
    assert write(cp, width, empty(np.float64), empty(np.int64), empty(np.uint8), b"s") == expected + "\n"


def test_write_long_symbol_rows():
    # Rows longer than the single-check fast path take the growing path.
    cp = np.full((2, 1500), ord("\u00e9"), dtype=np.uint32)
    cp[1, 3] = 0
    text = write(cp, 1600, empty(np.float64), empty(np.int64), empty(np.uint8), b"ss")
    first, second = text.splitlines()
    assert first == ("\u00e9" * 1500 + " " * 100) * 2
    assert second == ("\u00e9" * 3 + " " * 1597) * 2


@pytest.mark.parametrize("make", [
    lambda cp: np.repeat(cp, 2, axis=1)[:, ::2],               # column stride of two elements
    np.asfortranarray,                                         # column-major
    lambda cp: np.ascontiguousarray(cp[:, ::-1])[:, ::-1],     # negative column stride
    lambda cp: np.ascontiguousarray(cp[::-1])[::-1],           # negative row stride
])
def test_write_non_adjacent_symbol_rows(make):
    # Rows whose code points are not adjacent in memory must still give
    # their symbols (reading each row as one contiguous run would not).
    cp = make(codepoints(["Fe", "Cu", "O"], 3))
    assert cp.shape == (3, 3)
    text = write(cp, 2, empty(np.float64), empty(np.int64), empty(np.uint8), b"s")
    assert text == "Fe\nCu\nO \n"


def test_write_matrices_any_layout():
    floats = np.arange(12, dtype=np.float64).reshape(3, 4)
    ints = np.asfortranarray(np.array([[5, 6], [7, 8], [9, 10]], dtype=np.int64))
    bools = np.array([[0, 1, 0], [1, 0, 1], [0, 0, 0]], dtype=np.uint8)[::-1]
    text = write(codepoints(["A", "B", "C"]), 1, floats[:, ::-2], ints[:, 1:], bools.T.copy().T, b"sffib")
    assert text.splitlines()[0] == "A" + f" {3:16.8f} {1:16.8f} {6:8d}  F"
    assert text.splitlines()[2] == "C" + f" {11:16.8f} {9:16.8f} {10:8d}  F"


@pytest.mark.parametrize("kwargs, message", [
    (dict(col_types=b"fff", floats=[[1, 2]]), "ndarray: index out of bounds"),
    (dict(col_types=b"i", ints=np.zeros((0, 1))), "ndarray: index out of bounds"),
    (dict(col_types=b"sb"), "ndarray: index out of bounds"),
    (dict(col_types=b"s", sym_width=70000), "Formatting argument out of range"),
    # The first failing field decides: the symbol comes before the float.
    (dict(col_types=b"sf", sym_width=70000), "Formatting argument out of range"),
    (dict(col_types=b"fs", sym_width=70000), "ndarray: index out of bounds"),
])
def test_write_panics(kwargs, message):
    floats = np.asarray(kwargs.pop("floats", np.zeros((1, 0))), dtype=np.float64)
    ints = np.asarray(kwargs.pop("ints", np.zeros((1, 0))), dtype=np.int64)
    with pytest.raises(PanicException) as info:
        write(codepoints(["H"]), kwargs.get("sym_width", 2), floats, ints, empty(np.uint8, 1), kwargs["col_types"])
    assert info.value.args == (message,)


def test_write_accepts_unused_or_empty_inputs():
    # natoms 0 renders nothing, whatever the rest holds.
    assert write(empty(np.uint32, 0, 3), 2**64 - 1, empty(np.float64), empty(np.int64), empty(np.uint8), b"sfib") == ""
    # A huge width without a symbol code is never used; a huge reservation
    # hint must not crash either.
    assert write(codepoints(["H"]), 2**63, empty(np.float64), empty(np.int64), empty(np.uint8), b"x") == "\n"
    many = np.broadcast_to(np.uint32(0), (10**12, 0))
    with pytest.raises(PanicException):
        write(many, 2**63, empty(np.float64), empty(np.int64), empty(np.uint8), b"f")


@pytest.mark.parametrize("position, bad, exc, message", [
    (0, np.zeros((1, 1), dtype=np.int32), TypeError,
     "argument 'sym_codepoints': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (1, -1, OverflowError, None),
    (1, 2.0, TypeError, None),
    (2, [[1.0]], TypeError, "argument 'float_mat': 'list' object cannot be converted to 'PyArray<T, D>'"),
    (3, np.zeros((1, 1), dtype=np.int32), TypeError,
     "argument 'int_mat': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (4, np.zeros((1, 1), dtype=bool), TypeError,
     "argument 'bool_mat': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (5, "sf", TypeError, "argument 'col_types': Can't extract `str` to `Vec`"),
    (5, [300], OverflowError, "out of range integral type conversion attempted"),
])
def test_write_argument_errors(position, bad, exc, message):
    args = [codepoints(["H"]), 2, empty(np.float64, 1), empty(np.int64, 1), empty(np.uint8, 1), b"s"]
    args[position] = bad
    with pytest.raises(exc) as info:
        write(*args)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    elif exc is TypeError:
        assert str(info.value).startswith("argument 'sym_width': ")
    else:
        assert "argument" not in str(info.value)


# ---------------------------------------------------------------- properties

symbol_text = st.text(
    alphabet=st.characters(blacklist_categories=("Cs", "Zs", "Zl", "Zp", "Cc"), blacklist_characters="\x00"),
    min_size=1, max_size=4)
finite = st.floats(allow_nan=False, allow_infinity=False, width=64)
int64 = st.integers(-(2**63), 2**63 - 1)


@st.composite
def typed_tables(draw):
    # The symbol, when present, leads the line: written after another field
    # it would be glued to that field's text and could not be read back.
    lead = b"s" if draw(st.booleans()) else b""
    col_types = lead + bytes(draw(st.lists(st.sampled_from(b"fibx"), max_size=8)))
    n = draw(st.integers(0, 6))
    counts = {k: col_types.count(ord(k)) for k in "fib"}
    symbols = draw(st.lists(symbol_text, min_size=n, max_size=n))
    floats = draw(st.lists(finite, min_size=n * counts["f"], max_size=n * counts["f"]))
    ints = draw(st.lists(int64, min_size=n * counts["i"], max_size=n * counts["i"]))
    bools = draw(st.lists(st.integers(0, 255), min_size=n * counts["b"], max_size=n * counts["b"]))
    return (col_types, symbols,
            np.array(floats, dtype=np.float64).reshape(n, counts["f"]),
            np.array(ints, dtype=np.int64).reshape(n, counts["i"]),
            np.array(bools, dtype=np.uint8).reshape(n, counts["b"]))


@settings(max_examples=300)
@given(typed_tables(), st.integers(0, 6))
def test_write_then_read_round_trip(table, sym_width):
    col_types, symbols, floats, ints, bools = table
    n = len(symbols)
    cp = codepoints(symbols, 4) if n else empty(np.uint32, 0, 4)
    text = write(cp, sym_width, floats, ints, bools, col_types)
    lines = text.splitlines(keepends=True)
    assert len(lines) == n and text.count("\n") == n
    out = read(lines, col_types.replace(b"x", b""))  # skip codes write nothing
    assert_same(out["floats"].tolist(), [[float("%.8f" % x) for x in row] for row in floats.tolist()])
    assert_same(out["ints"].tolist(), ints.tolist())
    assert_same(out["bools"].tolist(), (bools != 0).astype(np.uint8).tolist())
    assert out["strs"] == ([symbols] if col_types.startswith(b"s") else [])


# tokens that parse as something, pieces of numbers, and separators of every kind
junk_token = st.sampled_from(["H", "1", "-7", "2.5e-3", ".5", "nan", "-NaN", "-inf", "T", "false",
                              "9223372036854775808", "-9223372036854775809", "99999999999999999999x", "+", "1e",
                              "t", "\x0b", "\xa0", "\"", "\\", "\u00e9", "1_0"])
junk_line = st.lists(junk_token | st.text(max_size=6), max_size=8).map(
    lambda parts: "".join(p + s for p, s in zip(parts, [" ", "\t", "  ", "\r\n", "\f"] * 2)))


@settings(max_examples=300)
@given(st.lists(junk_line, max_size=5), st.lists(st.sampled_from(b"sfibx") | st.integers(0, 255), max_size=6))
def test_junk_lines_match_the_reference(lines, col_types):
    check_against_reference(lines, bytes(col_types))


@settings(max_examples=200)
@given(st.lists(finite | st.sampled_from([0.5e-8, 1.5e-8, 2.5e-8, -0.0, 1e20, 2.0**62]), min_size=1, max_size=20))
def test_float_field_matches_percent_format(values):
    n = len(values)
    text = write_simple(["H"] * n, values, col_types=b"f")
    assert text == "".join(" %16.8f\n" % x for x in values)


# ---------------------------------------------------------------- real files

TYPE_CODES = {"S": b"s", "R": b"f", "I": b"i", "L": b"b"}


def frames(path):
    """(atom lines, col_types) of every frame, the lines as the file has them."""
    with open(path, encoding="utf-8", newline="") as f:
        text = f.readlines()
    while text and text[0].strip():
        natoms, comment = int(text[0]), text[1]
        lines, text = text[2:2 + natoms], text[2 + natoms:]
        found = re.search(r"(?i)properties=(\S+)", comment)
        fields = (found.group(1) if found else "species:S:1:pos:R:3").split(":")
        yield lines, b"".join(TYPE_CODES[t] * int(c) for t, c in zip(fields[1::3], fields[2::3]))


@pytest.mark.parametrize("name", [
    "chemfiles__extended.xyz", "chemfiles__bad__extended.xyz", "dpdata__nopbc.xyz", "dpdata__xyz_unittest.xyz",
    "GPUMD__outcar2xyz__NEP-dataset-multiple_frames.xyz", "GPUMD__rdf_adf__water.xyz", "GPUMD__ti-liquid__model.xyz",
    "matscipy__aC_H2O.xyz", "matscipy__cryst_rot_mod.xyz", "matscipy__ethane.extxyz",
    "MDANSE__traj-100K-npt-1000-res.xyz", "QUIP__dopa_A_water_quartz.xyz", "QUIP__fcc_100.xyz", "QUIP__gap_sample.xyz",
    "QUIP__NaCl.xyz", "QUIP__Si.np1.xyz", "QUIP__silica_water_NVT_new-pos-1.xyz", "QUIP__trigonal.xyz",
])
def test_real_files_every_frame(realdata, name):
    # Every frame is read as its Properties say, and the result (or the first
    # bad row) is that of a plain-Python reading.
    count = 0
    for lines, col_types in frames(realdata / "extxyz" / name):
        check_against_reference(lines, col_types)
        count += 1
    assert count >= 1


# ---------------------------------------------------------------- token starts and float shapes
# Rows are cut into tokens by a whitespace mask of up to 64 bytes at a time,
# and floats of up to nineteen digits are gathered in vectors, with the word
# scan behind them for everything else. These place tokens at every edge
# those pieces have: the 64-byte windows, lines shorter than a vector, the
# last bytes of a line, and every token shape either side of the gather's
# limits.

def padded(tokens, gaps):
    """The tokens joined by the given gaps (cycled), with a line feed."""
    return "".join(t + gaps[i % len(gaps)] for i, t in enumerate(tokens)).rstrip(" ") + "\n"


@pytest.mark.parametrize("line, col_types", [
    # a token starting just before, at and after each window edge
    (" " * 62 + "1.5 2.5", b"ff"), (" " * 63 + "1.5 2.5", b"ff"), (" " * 64 + "1.5 2.5", b"ff"),
    (" " * 65 + "1.5 2.5", b"ff"), (" " * 127 + "7 8", b"ii"), (" " * 128 + "7 8", b"ii"),
    # a token running across a window edge, and one ending exactly on it
    ("x" * 60 + " " + "1" * 10 + " 2", b"sii"), ("y" * 63 + " 3", b"si"), ("z" * 64 + " 4", b"si"),
    ("w" * 200 + " 5 6", b"sii"),
    # more than a window of separators of every kind between tokens
    ("a" + "\t \r\f" * 40 + "1e5" + " " * 70 + "T", b"sfb"),
    # lines around the length of one vector (short lines are stepped through)
    ("1 2 3", b"iii"), ("12345678901234", b"i"), ("123456789012345", b"i"), ("1234567890123456", b"i"),
    ("12345678901234567", b"i"), (" 1.25 2.5 3.75 4", b"fffi"), ("1.25 2.5 3.75 40\n", b"fffi"),
    # tokens that end with the line, with and without a line feed
    ("H " + "0.1 " * 20 + "-12.345678901234567", b"s" + b"f" * 21), ("H " + "1 " * 30 + "-1.5\n", b"s" + b"i" * 30 + b"f"),
    # bytes that belong to tokens: vertical tab, NUL, non-ASCII
    ("Fe\x0b 1.5 " + "é" * 40 + " 2", b"sfsi"), ("1.5\x00 2", b"fi"), ("\u00a0 " * 30 + "1.5", b"s" * 30 + b"f"),
    # ran out after the last window
    (" " * 100 + "1.5", b"ff"), ("", b"f"), ("   \n", b"f"),
])
def test_token_starts_match_the_reference(line, col_types):
    check_against_reference([line], col_types)


FLOAT_SHAPES = [
    "0", "7", "-0", "+5", "1.", ".5", "-.5", "0.5", "-0.0", "00012.50", "1.2345678", "12.34567890",
    "123456789012345", "123456789012345.6", "1234567890123456", "1234567890123456.7", "0.1234567890123456",
    "9007199254740993", "9007199254740993.0", "9.007199254740993", "1.7976931348623157", "4.9406564584124654",
    "12345678901234567", "1234567890123456789", "12345678901234567890", "0.12345678901234567890123",
    "2.2250738585072014", "-99.999999999999999", "5e-324", "1.5e3", "1.5E+3", "inf", "-nan", "Infinity",
    # invalid ones, refused with the word scan's message
    "1..5", "1.5.", ".", "-", "+-1", "1e", "1.5x", "0x10", "1,5", "--1", "١",
]


@pytest.mark.parametrize("token", FLOAT_SHAPES)
@pytest.mark.parametrize("layout", ["alone", "first", "middle", "last", "last_no_newline"])
def test_float_shapes_in_every_place(token, layout):
    filler = ["1.5", "-22.75", "T", "H"]
    tokens, codes = {
        "alone": ([token], b"f"),
        "first": ([token] + filler * 3, b"fffbs" * 3),
        "middle": (filler * 2 + [token] + filler * 2, b"ffbs" * 2 + b"f" + b"ffbs" * 2),
        "last": (filler * 3 + [token], b"ffbs" * 3 + b"f"),
        "last_no_newline": (filler * 3 + [token], b"ffbs" * 3 + b"f"),
    }[layout]
    line = padded(tokens, ["  ", " ", "\t"])
    if layout == "last_no_newline":
        line = line.rstrip("\n")
    check_against_reference([line], codes)


float_text = st.one_of(
    finite.map(repr), finite.map(lambda x: "%.8f" % x), finite.map(lambda x: "%.17g" % x),
    st.integers(0, 20).flatmap(lambda places: st.decimals(allow_nan=False, allow_infinity=False, places=places)).map(str),
    st.from_regex(r"[+-]?[0-9]{0,20}\.?[0-9]{0,20}", fullmatch=True))


@settings(max_examples=400, deadline=None)
@given(st.lists(float_text, min_size=1, max_size=12), st.lists(st.sampled_from([" ", "  ", "\t", " " * 30]), min_size=1),
       st.booleans())
def test_float_rows_match_the_reference(tokens, gaps, newline):
    line = padded(tokens, gaps)
    check_against_reference([line if newline else line.rstrip("\n")], b"f" * len(tokens))
