"""_atomlines cases: one frame of n atoms with a symbol, six float, one integer
and one boolean column (codes b"sffffffib"), read and written, against a
plain Python loop, pandas.read_csv (C engine), pyarrow.csv.read_csv (one
thread and all threads, same tokens joined by single spaces) and a `%`
formatting loop."""

from __future__ import annotations

import numpy as np

import _atomlines

from bench.bench_coordtext import agree_floats, columns_of, table_rivals
from bench.common import Case, path_rivals, same, same_array

COL_TYPES = b"sffffffib"
SYMBOLS = np.array(["H", "C", "N", "O", "Fe", "Cu"], dtype="<U2")
LINE_FORMAT = "%-2s" + " %16.8f" * 6 + " %8d" + "  %s\n"
TRUE_WORDS = frozenset(("T", "True", "TRUE", "true"))


def frame(n: int, seed: int = 0):
    rng = np.random.default_rng(seed)
    symbols = SYMBOLS[rng.integers(0, len(SYMBOLS), n)]
    floats = rng.normal(scale=10.0, size=(n, 6))
    ints = rng.integers(-1000, 1000, size=(n, 1), dtype=np.int64)
    bools = rng.integers(0, 2, size=(n, 1), dtype=np.uint8)
    return symbols, floats, ints, bools


def cases(n: int, floor, before=None) -> list[Case]:
    symbols, floats, ints, bools = frame(n)
    codepoints = symbols.view(np.uint32).reshape(n, -1)
    text = _atomlines.write_atoms_rs(codepoints, 2, floats, ints, bools, COL_TYPES)
    lines = text.splitlines(keepends=True)
    symbol_list = symbols.tolist()

    def python_loop():
        syms, fs, ks, bs = [], [], [], []
        for line in lines:
            tokens = line.split()
            syms.append(tokens[0])
            fs.append([float(t) for t in tokens[1:7]])
            ks.append(int(tokens[7]))
            bs.append(tokens[8] in TRUE_WORDS)
        return syms, np.array(fs), np.array(ks), np.array(bs, dtype=np.uint8)

    def agree(name, ours, theirs):
        if name.startswith(("pandas", "pyarrow")):
            cols = columns_of(theirs)
            same(ours["strs"][0], cols[0].tolist(), "symbols")
            agree_floats(name, ours["floats"], np.column_stack(cols[1:7]), "floats")
            same_array(ours["ints"][:, 0], cols[7], "ints")
            same_array(ours["bools"][:, 0], cols[8].astype(np.uint8), "bools")
        elif name.startswith("floor") or name == "before":
            for key in ("floats", "ints", "bools"):
                same_array(ours[key], theirs[key], key)
            same(ours["strs"], theirs["strs"], "strs")
        else:
            same(ours["strs"][0], theirs[0], "symbols")
            same_array(ours["floats"], theirs[1], "floats")
            same_array(ours["ints"][:, 0], theirs[2], "ints")
            same_array(ours["bools"][:, 0], theirs[3], "bools")

    read = Case("read_atom_lines_rs", n, lambda: _atomlines.read_atom_lines_rs(lines, COL_TYPES),
                floors={"own parser": lambda: floor.atomlines(lines, 0),
                        "from_chars": lambda: floor.atomlines(lines, 1)},
                rivals={"python loop": python_loop, **table_rivals(lines)},
                agree=agree, variant="s, 6 f, i, b")

    def percent_loop():
        rows = zip(symbol_list, floats.tolist(), ints[:, 0].tolist(), bools[:, 0].tolist())
        return "".join([LINE_FORMAT % (s, *f, i, "T" if b else "F") for s, f, i, b in rows])

    write = Case("write_atoms_rs", n,
                 lambda: _atomlines.write_atoms_rs(codepoints, 2, floats, ints, bools, COL_TYPES),
                 floors={"own formatter": lambda: floor.write_atoms(codepoints, floats, ints, bools)},
                 rivals={"python % loop": percent_loop},
                 agree=lambda name, ours, theirs: same(ours, theirs, "texts"), variant="s, 6 f, i, b")
    write.rivals.update(path_rivals(
        floor, lambda path: floor.write_atoms_on(path, codepoints, 2, floats, ints, bools, COL_TYPES)))
    if before is not None:
        read.rivals["before"] = lambda: before.read_atom_lines_rs(lines, COL_TYPES)
        write.rivals["before"] = lambda: before.write_atoms_rs(codepoints, 2, floats, ints, bools, COL_TYPES)
    return [read, write]
