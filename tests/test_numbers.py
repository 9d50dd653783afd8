"""Numbers in text, through the public readers and writers: the decimal float
parse against Python's float(), the fixed float format against printf-style
'%w.pf', and the integer field of the XDATCAR header."""

import math
import struct
from decimal import Decimal, localcontext

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _atomlines import read_atom_lines_rs
from _coordtext import (format_poscar_positions_rs, format_xdatcar_config_rs, format_xyz_block_rs,
                        parse_poscar_positions_rs, parse_xdatcar_coords_rs, parse_xyz_block_rs)


def bits(x):
    return struct.pack("<d", x)


def parse_tokens(tokens):
    """Parses each token as the first field of its own line."""
    return parse_xdatcar_coords_rs([f"{t} 0 0" for t in tokens])[:, 0]


def parse_one(token):
    return float(parse_tokens([token])[0])


# writer name -> (function producing the text of one row, width, precision)
def _xyz(rows):
    return format_xyz_block_rs(["H"] * len(rows), rows)


def _poscar(rows):
    return format_poscar_positions_rs(rows)


def _xdatcar(rows):
    return format_xdatcar_config_rs(rows, 1).split("\n", 1)[1]


WRITERS = {
    "xyz": (_xyz, 22, 15, "H "),
    "poscar": (_poscar, 19, 16, ""),
    "xdatcar": (_xdatcar, 11, 8, " "),
}


def expected_field(x, w, p):
    if math.isnan(x):
        return "NaN".rjust(w)
    return "%*.*f" % (w, p, x)


def expected_block(writer, rows):
    _, w, p, lead = WRITERS[writer]
    return "".join(lead + "".join(" " + expected_field(v, w, p) for v in row[:3]) + "\n" for row in rows)


def written(writer, rows):
    return WRITERS[writer][0](np.array(rows, dtype=np.float64).reshape(-1, 3))


# --- decimal float parse: accepted tokens ------------------------------------

ACCEPTED = [
    ("1.", 1.0), (".5", 0.5), ("1E+05", 1e5), ("1e-05", 1e-5), ("007", 7.0), ("+3", 3.0),
    ("-0", -0.0), ("-0.0e0", -0.0), ("+0", 0.0), ("0.", 0.0), ("-.5E1", -5.0),
    ("NAN", math.nan), ("nan", math.nan), ("+nAn", math.nan), ("Inf", math.inf), ("-Infinity", -math.inf),
    ("+INFINITY", math.inf), ("-inf", -math.inf),
    ("1e400", math.inf), ("-1e400", -math.inf), ("1e-400", 0.0), ("-1e-400", -0.0),
    ("1e99999999999999999999", math.inf), ("0e99999999999999999999", 0.0),
    ("2.4703282292062327e-324", 0.0),
    ("2.4703282292062328e-324", float("2.4703282292062328e-324")),
    ("4.9406564584124654e-324", 5e-324),
    ("2.2250738585072011e-308", float("2.2250738585072011e-308")),
    ("1.7976931348623157e308", 1.7976931348623157e308),
    ("1.7976931348623158e308", float("1.7976931348623158e308")),
    ("1.7976931348623159e308", math.inf),
    ("9007199254740993", 9007199254740992.0),   # tie, to even
    ("9007199254740995", 9007199254740996.0),
    ("0.1000000000000000055511151231257827021181583404541015625", 0.1),
    ("1" + "0" * 400 + "e-400", 1.0),
    ("0." + "0" * 400 + "1e401", 1.0),
    # exponents far outside any integer type, alone and offset by many digits
    ("1e+0000000000000000000000005", 1e5), ("1e-99999999999999999999", 0.0),
    ("1e9223372036854775807", math.inf), ("1e-9223372036854775808", 0.0), ("1e18446744073709551616", math.inf),
    ("1" + "0" * 30 + "e-9223372036854775820", 0.0), ("0." + "0" * 30 + "1e9223372036854775807", math.inf),
    ("." + "0" * 5000 + "1e5000", 0.1), ("1" * 800 + "e-800", float("1" * 800 + "e-800")),
]


@pytest.mark.parametrize("token, value", ACCEPTED)
def test_accepted_tokens(token, value):
    assert bits(parse_one(token)) == bits(value)


def test_nan_is_the_quiet_nan_with_the_sign_of_its_minus():
    got = parse_tokens(["-nan", "nan", "+NaN", "-INFINITY"])
    assert [bits(float(v)) for v in got] == [bits(-math.nan), bits(math.nan), bits(math.nan), bits(-math.inf)]
    assert bits(math.nan) == bits(float("nan")) == (0x7FF8 << 48).to_bytes(8, "little")


# --- decimal float parse: refused tokens -------------------------------------

REFUSED = [".", "e5", "1e", "+", "-", "1.0d0", "1.0D+00", "0x1p3", "1_000", "nan(1)", "infin", "+-1",
           "--1", "1,5", "1\x0b5", "1.2.3", "1e5.0", "1e+", ".e1", "1e5e5", "inff", "nana", "infinityy",
           "0b1", "1f", "\u0663", "\uff11", "1\xa05", "e", "E+1", "+.", "in", "1\x0b"]


@pytest.mark.parametrize("token", REFUSED, ids=repr)
def test_refused_tokens(token):
    with pytest.raises(ValueError) as info:
        parse_xdatcar_coords_rs(["0 0 0", f"0 {token} 0"])
    assert str(info.value) == f"XDATCAR: cannot parse '{token}' on line 1: invalid float literal"


# --- decimal float parse: differential against float() ------------------------

finite = st.floats(allow_nan=False, allow_infinity=False)
anyfloat = st.floats(allow_nan=False)


def _check_tokens(tokens):
    got = parse_tokens(tokens)
    for token, value in zip(tokens, got):
        assert bits(float(value)) == bits(float(token)), token


@settings(max_examples=300)
@given(st.lists(anyfloat, min_size=1, max_size=50))
def test_parse_repr_and_printf_forms(xs):
    tokens = []
    for x in xs:
        tokens += [repr(x), "%.17g" % x, "%.25e" % x, "%.3e" % x, "%.0f" % x if abs(x) < 1e30 else "1"]
    _check_tokens(tokens)


digit_strings = st.text("0123456789", max_size=60)


@st.composite
def decimal_tokens(draw):
    whole = draw(digit_strings)
    frac = draw(st.one_of(st.none(), digit_strings))
    if not whole and not frac:
        whole = "0"
    token = draw(st.sampled_from(["", "+", "-"])) + whole
    if frac is not None:
        token += "." + frac
    if draw(st.booleans()):
        token += draw(st.sampled_from("eE")) + draw(st.sampled_from(["", "+", "-"]))
        token += "%0*d" % (draw(st.integers(1, 4)), draw(st.integers(0, 400)))
    return token


@settings(max_examples=400)
@given(st.lists(decimal_tokens(), min_size=1, max_size=40))
def test_parse_long_random_digit_strings(tokens):
    _check_tokens(tokens)


@settings(max_examples=200)
@given(st.lists(st.tuples(st.integers(1, 2**64), st.integers(-360, 330)), min_size=1, max_size=40))
def test_parse_near_halfway_values(pairs):
    # digits of a double and of the midpoint to its neighbour, shifted by a power of ten
    tokens = []
    for m, e in pairs:
        tokens.append(f"{m}e{e}")
        tokens.append(f"{m}5e{e - 1}")
        tokens.append(f"{m}49999999999999999999e{e - 20}")
    _check_tokens(tokens)


# --- decimal float parse: 16-19 digits near halfway points, every reader ------

def midpoint_digits(x):
    """Digits and exponent of the exact midpoint between x >= 0 and the next
    double up (2**1024 past the largest): value = int(digits) * 10**exponent."""
    up = math.nextafter(x, math.inf)
    with localcontext() as ctx:
        ctx.prec = 1000  # a midpoint has at most 768 significant digits
        mid = (Decimal(x) + (Decimal(2) ** 1024 if math.isinf(up) else Decimal(up))) / 2
        _, digits, exponent = mid.normalize().as_tuple()
    return "".join(map(str, digits)), exponent


@st.composite
def halfway_tokens(draw):
    """16-19 significant digits within a few units of the last digit of the
    midpoint between two neighbouring doubles (normal, subnormal, the largest),
    or that midpoint itself when it is that short; in scientific or plain
    notation, the point anywhere, with either sign."""
    x = draw(st.one_of(st.floats(min_value=0.0, allow_nan=False, allow_infinity=False),
                       st.floats(min_value=1e-3, max_value=1e3),
                       st.integers(0, 2**52).map(lambda k: k * 5e-324),
                       # midpoints of at most 19 digits: exact ties when written out whole
                       st.builds(math.ldexp, st.integers(2**52, 2**53 - 1), st.integers(-3, 10))))
    digits, exponent = midpoint_digits(x)
    keep = draw(st.integers(16, 19))
    if len(digits) > keep:
        exponent += len(digits) - keep
        value = int(digits[:keep]) + draw(st.integers(-2, 3))
    else:
        value = int(digits) * 10 ** (keep - len(digits)) + draw(st.sampled_from([0, 0, -1, 1]))
        exponent -= keep - len(digits)
    text = str(max(value, 1))
    point = draw(st.integers(0, len(text)))
    exponent += len(text) - point
    mantissa = (text[:point] or "0") + "." + text[point:]
    sign = draw(st.sampled_from(["", "-", "+"]))
    if -20 <= exponent <= 0 and draw(st.booleans()):
        return sign + "0." + "0" * -exponent + text  # plain notation
    return sign + mantissa + draw(st.sampled_from("eE")) + str(exponent)


HALFWAY_READERS = {
    "xyz": lambda rows: parse_xyz_block_rs(["H " + row for row in rows])[1],
    "poscar": lambda rows: parse_poscar_positions_rs(rows, False)[0],
    "xdatcar": parse_xdatcar_coords_rs,
    "atomlines": lambda rows: read_atom_lines_rs(["H " + row for row in rows], b"sfff")["floats"],
}


@pytest.mark.parametrize("reader", list(HALFWAY_READERS))
@settings(max_examples=150)
@given(tokens=st.lists(halfway_tokens(), min_size=1, max_size=30),
       gaps=st.lists(st.sampled_from([" ", "  ", "\t", " \t "]), min_size=3, max_size=3),
       ending=st.sampled_from(["", "\n", " \r\n"]))
def test_halfway_tokens_through_every_reader(reader, tokens, gaps, ending):
    tokens = tokens + tokens[-1:] * (-len(tokens) % 3)
    rows = [gaps[0] + tokens[i] + gaps[1] + tokens[i + 1] + gaps[2] + tokens[i + 2] + ending
            for i in range(0, len(tokens), 3)]
    got = HALFWAY_READERS[reader](rows).reshape(-1)
    assert [bits(float(v)) for v in got] == [bits(float(t)) for t in tokens]


# --- fixed float format -------------------------------------------------------

@pytest.mark.parametrize("writer", list(WRITERS))
@settings(max_examples=150)
@given(rows=st.lists(st.tuples(finite, finite, finite), min_size=1, max_size=20))
def test_fixed_format_matches_printf(writer, rows):
    assert written(writer, rows) == expected_block(writer, rows)


@st.composite
def dyadic_ties(draw):
    # k / 2^m has exactly m fraction digits, the last being 5: an exact tie
    # when m is one more than the precision
    m = draw(st.integers(1, 60))
    k = draw(st.integers(1, 2**53 - 1).filter(lambda k: k % 2 == 1))
    return math.ldexp(k, -m) * draw(st.sampled_from([1, -1]))


@pytest.mark.parametrize("writer", list(WRITERS))
@settings(max_examples=150)
@given(rows=st.lists(st.tuples(dyadic_ties(), dyadic_ties(), dyadic_ties()), min_size=1, max_size=20))
def test_fixed_format_ties_to_even(writer, rows):
    assert written(writer, rows) == expected_block(writer, rows)


FIELDS = [
    ("xyz", -0.0, "-0.000000000000000".rjust(22)),
    ("xyz", 0.125, "0.125000000000000".rjust(22)),
    ("xyz", 2.0**-16, "0.000015258789062".rjust(22)),      # tie down to even
    ("xyz", 3 * 2.0**-16, "0.000045776367188".rjust(22)),  # tie up to even
    ("xyz", -1e-16, "-0.000000000000000".rjust(22)),
    ("xyz", 1e20, "100000000000000000000.000000000000000"),
    ("xyz", math.nan, "NaN".rjust(22)),
    ("xyz", -math.inf, "-inf".rjust(22)),
    ("xyz", 5e-324, "0.000000000000000".rjust(22)),
    ("xyz", 1.7976931348623157e308, "%.15f" % 1.7976931348623157e308),
    ("poscar", -0.0, "-0.0000000000000000"),
    ("poscar", 123.456, "123.4560000000000031"),
    ("poscar", 2.0**-17, " 0.0000076293945312"),
    ("poscar", math.nan, "NaN".rjust(19)),
    ("poscar", math.inf, "inf".rjust(19)),
    ("poscar", -math.inf, "-inf".rjust(19)),
    ("xdatcar", -0.0, "-0.00000000"),
    ("xdatcar", 0.125, " 0.12500000"),
    ("xdatcar", 0.999999995, " 1.00000000"),
    ("xdatcar", 12345.678, "12345.67800000"),
    ("xdatcar", -0.000000001, "-0.00000000"),
    ("xdatcar", 2.0**-9, " 0.00195312"),
    ("xdatcar", 3 * 2.0**-9, " 0.00585938"),
    ("xdatcar", 99.999999996, "100.00000000"),
    ("xdatcar", math.nan, "        NaN"),
    ("xdatcar", -math.inf, "       -inf"),
    ("xdatcar", 1e20, "100000000000000000000.00000000"),
]


@pytest.mark.parametrize("writer, value, field", FIELDS)
def test_fixed_format_worked_examples(writer, value, field):
    text = written(writer, [[value, 0.0, 0.0]])
    lead = WRITERS[writer][3]
    assert text.startswith(lead + " " + field + " ")
    if not math.isnan(value):
        assert text == expected_block(writer, [[value, 0.0, 0.0]])


def width_edges(p):
    """Values where a field's text changes length: powers of ten and the
    values that round up to them at precision p, the powers of two around
    the inline forms' range limits, each with its neighbours and both signs."""
    out = []
    for e in range(20):
        for x in (10.0**e, 10.0**e - 0.5 * 10.0**-p):
            out += [x, math.nextafter(x, 0.0), math.nextafter(x, math.inf)]
    for k in (8, 9, 10, 12, 13, 14, 35, 36, 37, 51, 52, 53, 63, 64):
        x = 2.0**k
        out += [x, math.nextafter(x, 0.0), math.nextafter(x, math.inf)]
    return out + [-x for x in out]


@pytest.mark.parametrize("writer", list(WRITERS))
def test_fixed_format_at_width_edges(writer):
    # the vector forms lay a field out for its width and hand wider numbers
    # to the general form: the switch happens at these values
    _, w, p, _ = WRITERS[writer]
    rows = [[x, -x, 0.5] for x in width_edges(p)]
    assert written(writer, rows) == expected_block(writer, rows)


def test_nan_is_written_without_sign():
    neg_nan = -np.abs(np.float64(np.nan))
    assert np.signbit(neg_nan)
    text = written("xdatcar", [[neg_nan, neg_nan, neg_nan]])
    assert text == "  " + " ".join(["        NaN"] * 3) + "\n"


# --- integer field format (XDATCAR header) ------------------------------------

@pytest.mark.parametrize("index, header", [
    (0, "     0"), (1, "     1"), (999999, "999999"), (1234567, "1234567"),
    (2**63, str(2**63)), (2**64 - 1, "18446744073709551615"),
])
def test_integer_field(index, header):
    text = format_xdatcar_config_rs(np.zeros((0, 3)), index)
    assert text == "Direct configuration=" + header + "\n"
