"""Readers and writers of XYZ atom blocks, POSCAR position blocks and XDATCAR
frames: messages, tokenizing, symbol case, exact layouts, array layouts,
round trips, and real files."""

import math
import re

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _coordtext import (PanicException, format_poscar_positions_rs, format_xdatcar_config_rs,
                        format_xyz_block_rs, parse_poscar_positions_rs, parse_xdatcar_coords_rs,
                        parse_xyz_block_rs)
from exact import assert_same

# --- a small reference reader in plain Python ----------------------------------

FLOAT = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|(?i:inf|infinity|nan))")


def tokens(line):
    return [t for t in re.split("[\t\n\f\r ]+", line) if t]


def norm(symbol):
    s = symbol.lower()
    return s[:1].upper() + s[1:]


def ref_read(kind, lines, selective=False):
    """What the readers must return, or the ValueError message they must raise."""
    symbols, rows, flags = [], [], []
    for i, line in enumerate(lines):
        toks = tokens(line)
        if kind == "xyz":
            if not toks:
                return f"XYZ: empty line at atom index {i}"
            symbols.append(norm(toks[0]))
            toks = toks[1:]
        row = []
        for j in range(3):
            if j >= len(toks):
                return {"xyz": f"XYZ: not enough position fields on atom line {i}",
                        "poscar": f"POSCAR: not enough fields on atom line {i} (need 3 coordinates)",
                        "xdatcar": f"XDATCAR: not enough fields on coordinate line {i}"}[kind]
            if not FLOAT.fullmatch(toks[j]):
                return {"xyz": f"XYZ: cannot parse coordinate '{toks[j]}' on line {i}",
                        "poscar": f"POSCAR: cannot parse coordinate '{toks[j]}' on atom line {i}",
                        "xdatcar": f"XDATCAR: cannot parse '{toks[j]}' on line {i}"}[kind] \
                    + ": invalid float literal"
            row.append(float(toks[j]))
        rows.append(row)
        if selective:
            flag_row = []
            for t in toks[3:6]:
                if t not in ("T", "F"):
                    return f"POSCAR: expected selective dynamics flag 'T' or 'F', got '{t}' on atom line {i}"
                flag_row.append(t == "F")
            flags.append(flag_row + [False] * (3 - len(flag_row)))
    return symbols, np.array(rows, dtype=float).reshape(-1, 3), np.array(flags, dtype=bool).reshape(-1, 3)


READERS = {
    "xyz": lambda lines: parse_xyz_block_rs(lines),
    "poscar": lambda lines: parse_poscar_positions_rs(lines, False),
    "poscar-sel": lambda lines: parse_poscar_positions_rs(lines, True),
    "xdatcar": lambda lines: parse_xdatcar_coords_rs(lines),
}


def check_against_reference(name, lines):
    kind = name.split("-")[0]
    expected = ref_read(kind, lines, selective=name == "poscar-sel")
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            READERS[name](lines)
        assert str(info.value) == expected
        return
    symbols, rows, flags = expected
    got = READERS[name](lines)
    if kind == "xyz":
        assert_same(got, (symbols, rows))
    elif kind == "poscar":
        assert_same(got, (rows, flags if name == "poscar-sel" else None))
    else:
        assert_same(got, rows)


def raises_value(message, fn, *args):
    with pytest.raises(ValueError) as info:
        fn(*args)
    assert type(info.value) is ValueError and str(info.value) == message


# --- reader messages ----------------------------------------------------------

G = ["H 0 0 0"] * 4  # good lines in front of the bad one
P = ["0 0 0"] * 4

XYZ_FAILURES = [
    (G + [""], "XYZ: empty line at atom index 4"),
    (G + ["   \n"], "XYZ: empty line at atom index 4"),
    (["He 1.0 2.0"], "XYZ: not enough position fields on atom line 0"),
    (["He"], "XYZ: not enough position fields on atom line 0"),
    (["C\x0b1.0 2.0 3.0"], "XYZ: not enough position fields on atom line 0"),
    (["C\xa01.0 2.0 3.0"], "XYZ: not enough position fields on atom line 0"),
    (["Na 1,5 0 0"], "XYZ: cannot parse coordinate '1,5' on line 0: invalid float literal"),
    (["Na 1.0D+00 0 0"], "XYZ: cannot parse coordinate '1.0D+00' on line 0: invalid float literal"),
    (["H abc"], "XYZ: cannot parse coordinate 'abc' on line 0: invalid float literal"),
    (G[:2] + ["O 1.0 2.x 3.0"], "XYZ: cannot parse coordinate '2.x' on line 2: invalid float literal"),
    (["H 1 2 3\x0b4"], "XYZ: cannot parse coordinate '3\x0b4' on line 0: invalid float literal"),
    (["H 1 2 3\u3000"], "XYZ: cannot parse coordinate '3\u3000' on line 0: invalid float literal"),
    (["H 1 2 \"q\\'"], "XYZ: cannot parse coordinate '\"q\\'' on line 0: invalid float literal"),
    (["H 1 2 3\x00x"], "XYZ: cannot parse coordinate '3\x00x' on line 0: invalid float literal"),
    (["H 1 2", "H x"], "XYZ: not enough position fields on atom line 0"),
    (G * 3 + ["H 1 2"], "XYZ: not enough position fields on atom line 12"),
]

POSCAR_FAILURES = [
    (P + ["0 0 0", "1.0 2.0"], False, "POSCAR: not enough fields on atom line 5 (need 3 coordinates)"),
    ([""], True, "POSCAR: not enough fields on atom line 0 (need 3 coordinates)"),
    (["abc"], False, "POSCAR: cannot parse coordinate 'abc' on atom line 0: invalid float literal"),
    (["1.0D+00 0 0"], False, "POSCAR: cannot parse coordinate '1.0D+00' on atom line 0: invalid float literal"),
    (P[:3] + ["0.1 0.2 0,3"], False, "POSCAR: cannot parse coordinate '0,3' on atom line 3: invalid float literal"),
    (["0.0\x0b0.5 0.25"], False, "POSCAR: cannot parse coordinate '0.0\x0b0.5' on atom line 0: invalid float literal"),
    (["0.0\xa00.5 0.25"], False, "POSCAR: cannot parse coordinate '0.0\xa00.5' on atom line 0: invalid float literal"),
    (["0 0 x Q"], True, "POSCAR: cannot parse coordinate 'x' on atom line 0: invalid float literal"),
    (["0 0 0 Si"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'Si' on atom line 0"),
    (["0 0 0 t T T"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 't' on atom line 0"),
    (["0 0 0 TT F F"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'TT' on atom line 0"),
    (["0 0 0 T T f"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'f' on atom line 0"),
    (["0 0 0 F F F", "0 0 0 True"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'True' on atom line 1"),
    (["0 0 0 0 0 0"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got '0' on atom line 0"),
    (["0 0 0 T F\xa0T"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'F\xa0T' on atom line 0"),
    (["0 0 0 T\x0b F T"], True, "POSCAR: expected selective dynamics flag 'T' or 'F', got 'T\x0b' on atom line 0"),
]

XDATCAR_FAILURES = [
    (P + ["0.1 0.2"], "XDATCAR: not enough fields on coordinate line 4"),
    ([""], "XDATCAR: not enough fields on coordinate line 0"),
    (["abc"], "XDATCAR: cannot parse 'abc' on line 0: invalid float literal"),
    (["0.5 abc"], "XDATCAR: cannot parse 'abc' on line 0: invalid float literal"),
    (["1.0D-01 0 0"], "XDATCAR: cannot parse '1.0D-01' on line 0: invalid float literal"),
    (["0 0 0"] * 7 + ["0.1 0.2 x"], "XDATCAR: cannot parse 'x' on line 7: invalid float literal"),
]


@pytest.mark.parametrize("lines, message", XYZ_FAILURES)
def test_xyz_reader_messages(lines, message):
    raises_value(message, parse_xyz_block_rs, lines)


@pytest.mark.parametrize("lines, selective, message", POSCAR_FAILURES)
def test_poscar_reader_messages(lines, selective, message):
    raises_value(message, parse_poscar_positions_rs, lines, selective)


@pytest.mark.parametrize("lines, message", XDATCAR_FAILURES)
def test_xdatcar_reader_messages(lines, message):
    raises_value(message, parse_xdatcar_coords_rs, lines)


# --- accepted lines and the tokenizer -----------------------------------------

ACCEPTED = [
    ("xyz", "  fe   0.5\t-1e-3  2 extra tokens\n", [0.5, -0.001, 2.0]),
    ("xyz", "H 1 2 3 junk 1e 1,5", [1, 2, 3]),
    ("xyz", "H\f1\r2\t3\r\n", [1, 2, 3]),
    ("xyz", "X nan inf -infinity", [math.nan, math.inf, -math.inf]),
    ("poscar", "0 0 0 T T T", [0, 0, 0]),
    ("poscar", "0 0 0 x y z", [0, 0, 0]),
    ("poscar", "nan inf -inf", [math.nan, math.inf, -math.inf]),
    ("poscar", ".25 -0 1e0 Cr", [0.25, -0.0, 1.0]),
    ("xdatcar", "  0.25\t0.5  0.75\r\n", [0.25, 0.5, 0.75]),
    ("xdatcar", "0.1 0.2 0.3 0.4 extra", [0.1, 0.2, 0.3]),
    ("xdatcar", "nan inf -infinity", [math.nan, math.inf, -math.inf]),
]


@pytest.mark.parametrize("kind, line, row", ACCEPTED)
def test_accepted_lines(kind, line, row):
    check_against_reference(kind, [line])
    got = READERS[kind]([line])
    got = got[1] if kind == "xyz" else got[0] if kind == "poscar" else got
    assert_same(got, np.array([row], dtype=np.float64))


@pytest.mark.parametrize("line, flags", [
    ("0.0 0.5 0.25 F T F", [True, False, True]),
    ("0.0 0.5 0.25 F", [True, False, False]),
    ("0.0 0.5 0.25", [False, False, False]),
    ("0 0 0 T T T Si", [False, False, False]),
    ("0 0 0 F F F ! comment", [True, True, True]),
    ("0\t0\t0\tT\tF\tT\r\n", [False, True, False]),
])
def test_poscar_flags(line, flags):
    pos, got = parse_poscar_positions_rs([line], True)
    assert got.tolist() == [flags]


@pytest.mark.parametrize("kind", ["xyz", "poscar", "xdatcar"])
def test_error_in_last_of_a_million_lines(kind):
    good = {"xyz": "H 0.5 1 2", "poscar": "0.5 1 2", "xdatcar": "0.5 1 2"}[kind]
    lines = [good] * 999_999 + [good.rsplit(" ", 1)[0]]
    with pytest.raises(ValueError, match=" 999999( |$)"):
        READERS[kind](lines)
    del lines[-1]
    out = READERS[kind](lines)
    out = out[1] if kind == "xyz" else out[0] if kind == "poscar" else out
    assert out.shape == (999_999, 3) and out[-1].tolist() == [0.5, 1, 2]


# random lines from an alphabet rich in separators, number pieces and flags
ALPHABET = "0123456789.eE+-naifNIFT \t\r\n\f\x0b\xa0\u3000\x00x,ßΣ"
line_text = st.text(ALPHABET, max_size=30)
good_line = st.lists(st.sampled_from(["1", "-2.5e-3", ".5", "nan", "T", "F", "Fe"]), max_size=7).map(" ".join)


@pytest.mark.parametrize("name", list(READERS))
@settings(max_examples=300)
@given(lines=st.lists(st.one_of(line_text, good_line, good_line), max_size=12))
def test_readers_match_reference_on_random_lines(name, lines):
    check_against_reference(name, lines)


# --- symbol normalisation ------------------------------------------------------

@pytest.mark.parametrize("token, symbol", [
    ("FE", "Fe"), ("fe", "Fe"), ("fE", "Fe"), ("CL", "Cl"), ("h2o", "H2o"), ("1H", "1h"),
    ("ßi", "SSi"), ("ǆx", "Ǆx"), ("ΣΑΣ", "Σας"), ("ΑΣ.", "Ας."), ("ΑΣΑ", "Ασα"), ("İ", "I\u0307"),
    ("ŉ", "ʼN"), ("ﬃ", "FFI"), ("ΐ", "\u0399\u0308\u0301"), ("\x0bH", "\x0bh"), ("H\x00E", "H\x00e"),
])
def test_symbol_normalisation(token, symbol):
    assert parse_xyz_block_rs([f"{token} 0 0 0"])[0] == [symbol]
    assert norm(token) == symbol


def _symbol_char(c):
    cp = ord(c)
    return not (0xD800 <= cp <= 0xDFFF or c in "\t\n\f\r " or 0x2FFC <= cp <= 0x2FFF or cp == 0x31EF
                or 0x2EBF0 <= cp <= 0x2EE5D)


symbol_tokens = st.text(st.characters(codec="utf-8").filter(_symbol_char), min_size=1, max_size=8)


@settings(max_examples=500)
@given(st.lists(symbol_tokens, min_size=1, max_size=30))
def test_symbol_normalisation_matches_python(symbols):
    got, _ = parse_xyz_block_rs([s + " 1 2 3" for s in symbols])
    assert got == [norm(s) for s in symbols]


# --- writers: exact layouts ----------------------------------------------------

def test_xyz_writer_layout():
    pos = np.array([[0.0, -1.5, 12345678.25], [1e7, -0.0, 0.1], [1, 2, 3], [1, 2, 3], [0.5, 0, 0], [1, 2, 3]])
    text = format_xyz_block_rs(["H", "Uuo", "", "fe", "Ω", "\U0001d538é"], pos)
    assert text.split("\n") == [
        "H       0.000000000000000     -1.500000000000000 12345678.250000000000000",
        "Uuo 10000000.000000000000000     -0.000000000000000      0.100000000000000",
        "        1.000000000000000      2.000000000000000      3.000000000000000",
        "fe      1.000000000000000      2.000000000000000      3.000000000000000",
        "Ω       0.500000000000000      0.000000000000000      0.000000000000000",
        "\U0001d538é      1.000000000000000      2.000000000000000      3.000000000000000",
        "",
    ]
    assert all(len(l) == 71 for l in text.split("\n")[2:-1])


def test_poscar_writer_layout():
    coord = np.array([[0.0, 0.5, -1.25], [100.0, 1, 2]])
    row0 = "  0.0000000000000000  0.5000000000000000 -1.2500000000000000"
    row1 = " 100.0000000000000000  1.0000000000000000  2.0000000000000000"
    assert format_poscar_positions_rs(coord) == row0 + "\n" + row1 + "\n"
    flags = np.array([[False, True, False], [True, True, True]])
    assert format_poscar_positions_rs(coord, flags) == row0 + "   T   F   T\n" + row1 + "   F   F   F\n"
    small = coord[:1].repeat(2, axis=0)
    assert [len(l) for l in format_poscar_positions_rs(small).splitlines(True)] == [61, 61]
    assert [len(l) for l in format_poscar_positions_rs(small, flags).splitlines(True)] == [73, 73]


def test_poscar_flag_bytes_other_than_one_count_as_true():
    flags = np.array([[0, 2, 255]], np.uint8).view(bool)
    assert format_poscar_positions_rs(np.zeros((1, 3)), flags).endswith("   T   F   F\n")


def test_xdatcar_writer_layout():
    text = format_xdatcar_config_rs(np.array([[0.0, 0.5, -0.125], [0.25, 1, 0]]), 3)
    assert text == ("Direct configuration=     3\n"
                    "   0.00000000  0.50000000 -0.12500000\n"
                    "   0.25000000  1.00000000  0.00000000\n")
    assert all(len(l) == 38 for l in text.splitlines(True)[1:])


@pytest.mark.parametrize("call, expected", [
    (lambda: format_xyz_block_rs([], np.zeros((0, 3))), ""),
    (lambda: format_xyz_block_rs([], np.zeros((0, 0))), ""),
    (lambda: format_xyz_block_rs((), np.zeros((0, 2))), ""),
    (lambda: format_poscar_positions_rs(np.zeros((0, 3))), ""),
    (lambda: format_poscar_positions_rs(np.zeros((0, 2)), np.zeros((0, 2), bool)), ""),
    (lambda: format_xdatcar_config_rs(np.zeros((0, 3)), 1), "Direct configuration=     1\n"),
    (lambda: format_xdatcar_config_rs(np.zeros((0, 1)), 1), "Direct configuration=     1\n"),
    (lambda: format_xyz_block_rs(["H", "O"], np.arange(8.0).reshape(2, 4)),
     format_xyz_block_rs(["H", "O"], np.array([[0.0, 1, 2], [4, 5, 6]]))),
    (lambda: format_poscar_positions_rs(np.arange(8.0).reshape(2, 4), np.eye(2, 4, dtype=bool)),
     format_poscar_positions_rs(np.array([[0.0, 1, 2], [4, 5, 6]]), np.eye(2, 3, dtype=bool))),
    (lambda: format_xdatcar_config_rs(np.arange(4.0).reshape(1, 4), 1),
     format_xdatcar_config_rs(np.array([[0.0, 1, 2]]), 1)),
])
def test_writer_edge_shapes(call, expected):
    assert call() == expected


@pytest.mark.parametrize("call, exc, message", [
    (lambda: format_xyz_block_rs(["H"] * 3, np.zeros((2, 3))), ValueError,
     "format_xyz_block_rs: symbols length (3) != positions rows (2)"),
    (lambda: format_xyz_block_rs([], np.zeros((1, 3))), ValueError,
     "format_xyz_block_rs: symbols length (0) != positions rows (1)"),
    # the length check comes before the column check
    (lambda: format_xyz_block_rs(["H"] * 3, np.zeros((2, 2))), ValueError,
     "format_xyz_block_rs: symbols length (3) != positions rows (2)"),
    (lambda: format_poscar_positions_rs(np.zeros((2, 3)), np.zeros((3, 3), bool)), ValueError,
     "format_poscar_positions_rs: coord and flags must have the same shape"),
    (lambda: format_poscar_positions_rs(np.zeros((0, 3)), np.zeros((0, 2), bool)), ValueError,
     "format_poscar_positions_rs: coord and flags must have the same shape"),
    (lambda: format_poscar_positions_rs(np.zeros((1, 2)), np.zeros((1, 3), bool)), ValueError,
     "format_poscar_positions_rs: coord and flags must have the same shape"),
    (lambda: format_poscar_positions_rs(np.zeros((2, 3)), np.zeros((2, 3), bool).T), ValueError,
     "format_poscar_positions_rs: coord and flags must have the same shape"),
    (lambda: format_xyz_block_rs(["H", "H"], np.zeros((2, 2))), PanicException, "ndarray: index out of bounds"),
    (lambda: format_poscar_positions_rs(np.zeros((1, 2))), PanicException, "ndarray: index out of bounds"),
    (lambda: format_poscar_positions_rs(np.zeros((1, 2)), np.zeros((1, 2), bool)), PanicException,
     "ndarray: index out of bounds"),
    (lambda: format_xdatcar_config_rs(np.zeros((1, 2)), 1), PanicException, "ndarray: index out of bounds"),
    (lambda: format_xdatcar_config_rs(np.zeros((3, 0)), 1), PanicException, "ndarray: index out of bounds"),
])
def test_writer_failures(call, exc, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc and info.value.args == (message,)


# --- writers: any memory layout ------------------------------------------------

def _unaligned(a):
    raw = bytearray(a.nbytes + 1)
    out = np.frombuffer(raw, dtype=a.dtype, offset=1, count=a.size).reshape(a.shape)
    out[...] = a
    return out


LAYOUTS = {
    "fortran": lambda a: np.asfortranarray(a),
    "transposed": lambda a: np.ascontiguousarray(a.T).T,
    "every-second-row": lambda a: np.repeat(a, 2, axis=0)[::2],
    "negative-rows": lambda a: a[::-1].copy()[::-1],
    "negative-columns": lambda a: a[:, ::-1].copy()[:, ::-1],
    "column-window": lambda a: np.hstack([a[:, :1], a, a])[:, 1:],
    "unaligned": _unaligned,
}


@pytest.mark.parametrize("layout", list(LAYOUTS))
def test_writers_read_any_layout(layout):
    a = np.random.default_rng(1).normal(size=(7, 3)) * 10
    f = a > 0
    v, g = LAYOUTS[layout](a), LAYOUTS[layout](f)
    assert not (v.flags.c_contiguous and v.flags.aligned and v.strides[0] > 0)
    assert format_xyz_block_rs(["X"] * 7, v) == format_xyz_block_rs(["X"] * 7, a)
    assert format_poscar_positions_rs(v, g) == format_poscar_positions_rs(a, f)
    assert format_xdatcar_config_rs(v, 5) == format_xdatcar_config_rs(a, 5)


# --- round trips ---------------------------------------------------------------

finite = st.floats(allow_nan=False, allow_infinity=False)
rows3 = st.lists(st.tuples(finite, finite, finite), min_size=1, max_size=15)


def _rounded(a, digits):
    return np.array([[float("%.*f" % (digits, x)) for x in row] for row in a])


@settings(max_examples=150)
@given(rows3, st.lists(st.sampled_from(["H", "Fe", "CL", "ßi", "Uuo", "x"]), min_size=15, max_size=15))
def test_xyz_round_trip(rows, syms):
    a = np.array(rows)
    syms = syms[:len(a)]
    back_syms, back = parse_xyz_block_rs(format_xyz_block_rs(syms, a).splitlines())
    assert back_syms == [norm(s) for s in syms]
    assert_same(back, _rounded(a, 15))


@settings(max_examples=150)
@given(rows3, st.lists(st.tuples(st.booleans(), st.booleans(), st.booleans()), min_size=15, max_size=15))
def test_poscar_round_trip(rows, mask):
    a = np.array(rows)
    m = np.array(mask[:len(a)])
    back = parse_poscar_positions_rs(format_poscar_positions_rs(a, m).splitlines(True), True)
    assert_same(back, (_rounded(a, 16), m))
    back = parse_poscar_positions_rs(format_poscar_positions_rs(a).splitlines(), False)
    assert_same(back, (_rounded(a, 16), None))


@settings(max_examples=150)
@given(rows3, st.integers(0, 2**64 - 1))
def test_xdatcar_round_trip(rows, index):
    a = np.array(rows)
    header, *lines = format_xdatcar_config_rs(a, index).splitlines()
    assert header == "Direct configuration=%6d" % index
    assert_same(parse_xdatcar_coords_rs(lines), _rounded(a, 8))


# --- real files ----------------------------------------------------------------

# Real files written by independent projects, read in place (fixture `realdata`).

@pytest.mark.parametrize("name", [
    "chemfiles__methane.xyz", "chemfiles__spaces.xyz", "chemfiles__water.xyz", "custodian__qchem_AIMD_View.xyz",
    "matscipy__Au_923.xyz", "MDAnalysis__coordinates__test.xyz", "MDAnalysis__five.xyz",
    "MDANSE__CO2GAS-pos-1.xyz", "pymatgen__EDI_voro.xyz",
])
def test_real_xyz_first_frame(realdata, name):
    lines = (realdata / "xyz" / name).read_text().splitlines()
    n = int(lines[0])
    atoms = lines[2:2 + n]
    symbols, pos = parse_xyz_block_rs(atoms)
    assert symbols == [norm(l.split()[0]) for l in atoms]
    assert_same(pos.tolist(), [[float(t) for t in l.split()[1:4]] for l in atoms])


def _poscar_block(lines):
    """Position lines and the selective switch of a VASP 5 or VASP 4 POSCAR."""
    k = 5
    if not lines[k].split()[0].isdigit():
        k += 1  # species line
    n = sum(int(t) for t in lines[k].split())
    k += 1
    selective = lines[k].strip()[:1] in "sS"
    k += 1 + selective
    return lines[k:k + n], selective


@pytest.mark.parametrize("name", [
    "chemfiles__BN.selective.dynamics.poscar", "chemfiles__Cr.velocity.poscar", "chemfiles__MnO.cartesian.poscar",
    "custodian__postprocess_neb__00__POSCAR", "dpdata__POSCAR.h4o3", "gvasp__POSCAR_FS_sort", "gvasp__POSCAR_IS",
    "gvasp__neb__01__CONTCAR", "pymatgen__POSCAR.Li2O", "dpdata__POSCAR.oh.err1",
])
def test_real_poscar_positions(realdata, name):
    atoms, selective = _poscar_block((realdata / "poscar" / name).read_text().splitlines())
    pos, flags = parse_poscar_positions_rs(atoms, selective)
    assert_same(pos.tolist(), [[float(t) for t in l.split()[:3]] for l in atoms])
    if selective:
        # a missing flag reads as T
        assert flags.tolist() == [[t == "F" for t in (l.split()[3:6] + ["T"] * 3)[:3]] for l in atoms]
        assert format_poscar_positions_rs(pos, flags).splitlines() == [
            "".join(" %19.16f" % x for x in p) + "".join("   " + "TF"[int(f)] for f in fl)
            for p, fl in zip(pos, flags)]


def test_real_poscar_with_invalid_flag_is_refused(realdata):
    atoms, selective = _poscar_block((realdata / "poscar" / "dpdata__POSCAR.oh.err2").read_text().splitlines())
    raises_value("POSCAR: expected selective dynamics flag 'T' or 'F', got 'a' on atom line 1",
                 parse_poscar_positions_rs, atoms, selective)


@pytest.mark.parametrize("name", ["pymatgen__XDATCAR_5", "gvasp__XDATCAR"])
def test_real_xdatcar_frame_reads_and_rewrites_identically(realdata, name):
    raw = (realdata / "xdatcar" / name).read_text()
    lines = raw.splitlines(True)
    n = sum(int(t) for t in lines[6].split())
    assert lines[7].startswith("Direct configuration=")
    frame = lines[8:8 + n]
    pos = parse_xdatcar_coords_rs(frame)
    assert_same(pos.tolist(), [[float(t) for t in l.split()] for l in frame])
    assert format_xdatcar_config_rs(pos, 1) == "".join(lines[7:8 + n])
