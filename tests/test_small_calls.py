"""Calls on small blocks take short paths: a symbol of up to eight ASCII
bytes is normalised as one word, the first few distinct texts of a column are
searched inline before an index is made, small result arrays keep their
data inside their holder objects, short texts are built on the stack, and a
few column codes live inline. Each test sits on the edge between a short path
and the general one, where a fault would show."""

import gc
import tracemalloc

import numpy as np
import pytest

import _atomlines as A
import _coordtext as X

TRACE_DOMAIN = 0x616B


def symbol_rule(token):
    """The symbol normalisation for ASCII tokens: lower case, then the first character upper."""
    lower = token.lower()
    return lower[:1].upper() + lower[1:]


def test_short_ascii_symbols_follow_the_rule():
    # Every one- and two-character printable token, and wider ones up to the word's eight bytes.
    printable = [chr(c) for c in range(0x21, 0x7F)]
    tokens = printable + [a + b for a in printable for b in printable]
    tokens += ["fE", "cL", "zZzZzZzZ", "aBcDeFgH", "[x]", "@a", "1H", "h2O", "xY9z_Q"]
    symbols, _ = X.parse_xyz_block_rs([f"{t} 0 0 0" for t in tokens])
    assert symbols == [symbol_rule(t) for t in tokens]


@pytest.mark.parametrize("token, symbol", [
    ("\x00a", "\x00a"),           # NUL belongs to the token; an all-zero word takes the full path
    ("\x00", "\x00"),
    ("\x7fA", "\x7fa"),
    ("ÉcoLE", "École"),           # non-ASCII bytes in the word: the full case mapping
    ("ßi", "SSi"),
    ("FEFEFEFEF", "Fefefefef"),   # nine bytes: past the word
])
def test_symbols_beside_the_word_path(token, symbol):
    symbols, _ = X.parse_xyz_block_rs([f"{token} 1 2 3", f"{token} 4 5 6"])
    assert symbols == [symbol, symbol]


@pytest.mark.parametrize("tokens, symbol", [
    (["\u212a", "k", "K"], "K"),     # KELVIN SIGN lower-cases to "k": the full path meets the word path
    (["\u017fi", "SI", "si"], "Si"),  # LONG S stays, then upper-cases to "S"
])
@pytest.mark.parametrize("reverse", [False, True])
def test_one_str_per_symbol_whichever_path_made_it(tokens, symbol, reverse):
    tokens = tokens[::-1] if reverse else tokens
    symbols, _ = X.parse_xyz_block_rs([f"{t} 0 0 0" for t in tokens * 2])
    assert symbols == [symbol] * (2 * len(tokens))
    assert all(s is symbols[0] for s in symbols)


@pytest.mark.parametrize("long_first", [0, 1, 3])
def test_short_symbols_after_the_arena_is_full(long_first):
    # Long normalised symbols fill the 256-byte arena first; later short ones
    # are then kept on the heap.
    names = ["Q" * 90 + str(i) for i in range(long_first)] + ["H", "He", "Li", "Be", "B", "C"]
    symbols, _ = X.parse_xyz_block_rs([f"{s.upper()} 1 1 1" for s in names] * 3)
    assert symbols == [symbol_rule(s) for s in names] * 3


@pytest.mark.parametrize("distinct", [15, 16, 17, 18, 40, 300])
def test_columns_with_many_distinct_texts_keep_every_text(distinct):
    # The first 16 texts are searched inline, the rest through an index made at the 17th.
    names = [f"X{i}" for i in range(distinct)] + [f"Long{i:07d}" for i in range(distinct)]
    order = [names[(7 * i) % len(names)] for i in range(3 * len(names))]
    symbols, _ = X.parse_xyz_block_rs([f"{s} 0 0 0" for s in order])
    assert symbols == [symbol_rule(s) for s in order]
    out = A.read_atom_lines_rs([f"{s} {s.lower()} {i}" for i, s in enumerate(order)], b"ssi")
    assert out["strs"] == [order, [s.lower() for s in order]]
    assert out["ints"][:, 0].tolist() == list(range(len(order)))


def test_transformed_texts_beyond_the_inline_arena():
    # Normalised symbols are copied; past 256 bytes of them the copies go to the heap.
    names = [("q" * (5 + i % 40)) + str(i) for i in range(120)]
    symbols, _ = X.parse_xyz_block_rs([f"{s.upper()} 1 1 1" for s in names] * 2)
    assert symbols == [symbol_rule(s) for s in names] * 2


@pytest.mark.parametrize("rows", [0, 1, 18, 19, 20, 150])
def test_result_arrays_on_both_sides_of_the_inline_size(rows):
    # 18 rows of three doubles are 432 bytes (inline), 19 rows 456 (a buffer of their own).
    lines = [f"0.{i} 0.5 -{i}" for i in range(rows)]
    gc.collect()
    tracemalloc.start()
    try:
        first = X.parse_xdatcar_coords_rs(lines)
        traced = sum(s.size for s in tracemalloc.take_snapshot().filter_traces(
            [tracemalloc.DomainFilter(True, TRACE_DOMAIN)]).statistics("filename"))
    finally:
        tracemalloc.stop()
    assert traced == (0 if 24 * rows <= 448 else 24 * rows)
    expected = np.array([[float(f"0.{i}"), 0.5, -float(i)] for i in range(rows)]).reshape(rows, 3)
    assert first.tobytes() == expected.tobytes()
    assert first.base is not None and first.flags.writeable and not first.flags.owndata
    second = X.parse_xdatcar_coords_rs(lines)
    first[...] = 7.0
    del first
    gc.collect()
    assert second.tobytes() == expected.tobytes()


@pytest.mark.parametrize("rows", [1, 106, 107, 108, 300])
def test_texts_on_both_sides_of_the_stack_room(rows):
    # 28 + 38 * rows bytes: 4056 at 106 rows, 4094 at 107, 4132 at 108; the room
    # asked for each row is wider still, so the text moves to a str mid-way.
    pos = np.random.default_rng(rows).uniform(-1, 1, (rows, 3))
    text = X.format_xdatcar_config_rs(pos, 3)
    want = "Direct configuration=     3\n" + "".join("  %11.8f %11.8f %11.8f\n" % tuple(r) for r in pos)
    assert text == want


@pytest.mark.parametrize("rows", [1, 18, 19, 20])
def test_non_ascii_texts_on_both_sides_of_the_stack_room(rows):
    symbols = ["Fé", "Ü", "Ωμ"] * rows
    pos = np.arange(9 * rows, dtype=float).reshape(3 * rows, 3) / 7
    want = "".join("%-2s %22.15f %22.15f %22.15f\n" % (s, *r) for s, r in zip(symbols, pos))
    assert X.format_xyz_block_rs(symbols, pos) == want


@pytest.mark.parametrize("codes", [63, 64, 65, 200])
def test_column_codes_past_the_inline_count(codes):
    col_types = b"f" * (codes - 1) + b"s"
    values = [f"{i}.25" for i in range(codes - 1)]
    out = A.read_atom_lines_rs([" ".join(values + ["Zr"])] * 3, col_types)
    assert out["floats"].tolist() == [[i + 0.25 for i in range(codes - 1)]] * 3 and out["strs"] == [["Zr"] * 3]
    text = A.write_atoms_rs(np.zeros((2, 1), np.uint32), 1, out["floats"][:2], np.zeros((2, 0), np.int64),
                            np.zeros((2, 0), np.uint8), list(col_types))
    assert text == ("".join(" %16.8f" % (i + 0.25) for i in range(codes - 1)) + " \n") * 2


def test_three_string_columns():
    # One string column's state lives inline, further ones on the heap.
    lines = [f"a{i % 3} b{i % 5} c{i % 7} {i}" for i in range(50)]
    out = A.read_atom_lines_rs(lines, b"sssi")
    assert out["strs"] == [[f"a{i % 3}" for i in range(50)], [f"b{i % 5}" for i in range(50)],
                           [f"c{i % 7}" for i in range(50)]]
