"""_coordtext cases: the XYZ, POSCAR (selective dynamics) and XDATCAR readers
and writers on n atoms, against a plain Python loop, numpy.loadtxt/savetxt,
pandas.read_csv (C engine) and pyarrow.csv.read_csv (one thread and all
threads, given the same tokens joined by single spaces)."""

from __future__ import annotations

import io

import numpy as np

import _coordtext as ct

from bench.common import Case, available, path_rivals, same, same_array

ELEMENTS = ["H", "C", "N", "O", "Fe", "Cu", "Si", "Au"]


def structure(n: int, seed: int = 0) -> tuple[list[str], np.ndarray]:
    rng = np.random.default_rng(seed)
    return [ELEMENTS[i] for i in rng.integers(0, len(ELEMENTS), n)], rng.uniform(-50.0, 50.0, (n, 3))


def fractional(n: int, seed: int) -> np.ndarray:
    return np.random.default_rng(seed).uniform(0.0, 1.0, (n, 3))


# --- rivals shared by the readers -------------------------------------------

def single_spaced(lines: list[str]) -> bytes:
    return "".join(" ".join(line.split()) + "\n" for line in lines).encode()


def arrow_reader(data: bytes, threads: bool):
    import pyarrow.csv as pacsv

    read = pacsv.ReadOptions(use_threads=threads, autogenerate_column_names=True)
    parse = pacsv.ParseOptions(delimiter=" ")
    convert = pacsv.ConvertOptions(true_values=["T"], false_values=["F"])
    return lambda: pacsv.read_csv(io.BytesIO(data), read_options=read, parse_options=parse,
                                  convert_options=convert)


def pandas_reader(text: str):
    import pandas as pd

    return lambda: pd.read_csv(io.StringIO(text), sep=r"\s+", header=None, engine="c",
                               true_values=["T"], false_values=["F"])


def table_rivals(lines: list[str]) -> dict:
    """The table readers of pandas and pyarrow, each only when installed
    (an interpreter may have no wheels of them yet)."""
    rivals = {}
    if available("pandas"):
        rivals["pandas.read_csv(c)"] = pandas_reader("".join(lines))
    if available("pyarrow"):
        data = single_spaced(lines)
        rivals["pyarrow.csv 1 thread"] = arrow_reader(data, False)
        rivals["pyarrow.csv threads"] = arrow_reader(data, True)
    return rivals


def columns_of(result) -> list[np.ndarray]:
    """Columns of a pandas frame or a pyarrow table as NumPy arrays."""
    if hasattr(result, "to_numpy") and hasattr(result, "iloc"):
        return [result.iloc[:, j].to_numpy() for j in range(result.shape[1])]
    return [result.column(j).to_numpy() for j in range(result.num_columns)]


def agree_floats(name: str, ours: np.ndarray, theirs: np.ndarray, what: str) -> None:
    # pandas' default C parser is not correctly rounded: allow it one ulp.
    same_array(ours, theirs.astype(np.float64), what, ulps=1 if name.startswith("pandas") else 0)


# --- cases ------------------------------------------------------------------

def xyz_cases(n: int, floor, before) -> list[Case]:
    symbols, pos = structure(n)
    lines = ct.format_xyz_block_rs(symbols, pos).splitlines(keepends=True)

    def python_loop():
        syms, rows = [], []
        for line in lines:
            f = line.split()
            syms.append(f[0])
            rows.append((float(f[1]), float(f[2]), float(f[3])))
        return syms, np.array(rows)

    def agree(name, ours, theirs):
        if name.startswith(("pandas", "pyarrow")):
            cols = columns_of(theirs)
            same(ours[0], cols[0].tolist(), "symbols")
            agree_floats(name, ours[1], np.column_stack(cols[1:4]), "positions")
        elif name == "numpy.loadtxt":
            same_array(ours[1], theirs, "positions")
        else:
            same(ours[0], list(theirs[0]), "symbols")
            same_array(ours[1], theirs[1], "positions")

    read = Case("parse_xyz_block_rs", n, lambda: ct.parse_xyz_block_rs(lines),
                floors={"own parser": lambda: floor.xyz(lines, 0), "from_chars": lambda: floor.xyz(lines, 1)},
                rivals={"python loop": python_loop,
                        "numpy.loadtxt": lambda: np.loadtxt(lines, usecols=(1, 2, 3), ndmin=2),
                        **table_rivals(lines)},
                agree=agree)

    def percent_loop():
        return "".join("%-2s %22.15f %22.15f %22.15f\n" % (s, x, y, z) for s, (x, y, z) in zip(symbols, pos.tolist()))

    table = np.empty((n, 4), dtype=object)
    table[:, 0] = symbols
    table[:, 1:] = pos
    write = Case("format_xyz_block_rs", n, lambda: ct.format_xyz_block_rs(symbols, pos),
                 floors={"own formatter": lambda: floor.format_xyz(symbols, pos)},
                 rivals={"python % loop": percent_loop,
                         "numpy.savetxt": lambda: savetxt(table, "%-2s %22.15f %22.15f %22.15f")},
                 agree=lambda name, ours, theirs: same(ours, theirs, "texts"))
    write.rivals.update(path_rivals(floor, lambda path: floor.format_xyz_on(path, symbols, pos)))
    if before is not None:
        read.rivals["before"] = lambda: before.parse_xyz_block_rs(lines)
        write.rivals["before"] = lambda: before.format_xyz_block_rs(symbols, pos)
    return [read, write]


def poscar_cases(n: int, floor, before) -> list[Case]:
    pos = fractional(n, 1)
    flags = np.random.default_rng(2).random((n, 3)) < 0.5
    lines = ct.format_poscar_positions_rs(pos, flags).splitlines(keepends=True)

    def python_loop():
        coords, mask = [], []
        for line in lines:
            f = line.split()
            coords.append((float(f[0]), float(f[1]), float(f[2])))
            mask.append((f[3] == "F", f[4] == "F", f[5] == "F"))
        return np.array(coords), np.array(mask)

    def agree(name, ours, theirs):
        if name.startswith(("pandas", "pyarrow")):
            cols = columns_of(theirs)
            agree_floats(name, ours[0], np.column_stack(cols[:3]), "positions")
            same_array(ours[1], ~np.column_stack(cols[3:6]).astype(bool), "flags")
        elif name == "numpy.loadtxt":
            same_array(ours[0], theirs, "positions")
        else:
            same_array(ours[0], theirs[0], "positions")
            same_array(ours[1], theirs[1], "flags")

    read = Case("parse_poscar_positions_rs", n, lambda: ct.parse_poscar_positions_rs(lines, True),
                floors={"own parser": lambda: floor.poscar(lines, 0), "from_chars": lambda: floor.poscar(lines, 1)},
                rivals={"python loop": python_loop,
                        "numpy.loadtxt": lambda: np.loadtxt(lines, usecols=(0, 1, 2), ndmin=2),
                        **table_rivals(lines)},
                agree=agree, variant="selective")

    def percent_loop():
        letters = np.where(flags, "F", "T").tolist()
        return "".join(" %19.16f %19.16f %19.16f   %s   %s   %s\n" % (x, y, z, a, b, c)
                       for (x, y, z), (a, b, c) in zip(pos.tolist(), letters))

    table = np.empty((n, 6), dtype=object)
    table[:, :3] = pos
    table[:, 3:] = np.where(flags, "F", "T")
    write = Case("format_poscar_positions_rs", n, lambda: ct.format_poscar_positions_rs(pos, flags),
                 floors={"own formatter": lambda: floor.format_poscar(pos, flags)},
                 rivals={"python % loop": percent_loop,
                         "numpy.savetxt": lambda: savetxt(table, " %19.16f %19.16f %19.16f   %s   %s   %s")},
                 agree=lambda name, ours, theirs: same(ours, theirs, "texts"), variant="with flags")
    write.rivals.update(path_rivals(floor, lambda path: floor.format_poscar_on(path, pos, flags)))
    if before is not None:
        read.rivals["before"] = lambda: before.parse_poscar_positions_rs(lines, True)
        write.rivals["before"] = lambda: before.format_poscar_positions_rs(pos, flags)
    return [read, write]


def xdatcar_cases(n: int, floor, before) -> list[Case]:
    pos = fractional(n, 3)
    lines = ct.format_xdatcar_config_rs(pos, 1).splitlines(keepends=True)[1:]

    def python_loop():
        return np.array([[float(v) for v in line.split()[:3]] for line in lines])

    def agree(name, ours, theirs):
        if name.startswith(("pandas", "pyarrow")):
            agree_floats(name, ours, np.column_stack(columns_of(theirs)[:3]), "positions")
        else:
            same_array(ours, theirs, "positions")

    read = Case("parse_xdatcar_coords_rs", n, lambda: ct.parse_xdatcar_coords_rs(lines),
                floors={"own parser": lambda: floor.xdatcar(lines, 0), "from_chars": lambda: floor.xdatcar(lines, 1)},
                rivals={"python loop": python_loop,
                        "numpy.loadtxt": lambda: np.loadtxt(lines, ndmin=2),
                        **table_rivals(lines)},
                agree=agree)

    def percent_loop():
        return "Direct configuration=%6d\n" % 1 + "".join(
            "  %11.8f %11.8f %11.8f\n" % (x, y, z) for x, y, z in pos.tolist())

    def agree_text(name, ours, theirs):
        # The floor writes the rows only; savetxt gets the header from its argument.
        same(ours if name != "floor: own formatter" else ours.split("\n", 1)[1], theirs, "texts")

    write = Case("format_xdatcar_config_rs", n, lambda: ct.format_xdatcar_config_rs(pos, 1),
                 floors={"own formatter": lambda: floor.format_xdatcar(pos)},
                 rivals={"python % loop": percent_loop,
                         "numpy.savetxt": lambda: savetxt(pos, "  %11.8f %11.8f %11.8f",
                                                          header="Direct configuration=%6d" % 1)},
                 agree=agree_text)
    write.rivals.update(path_rivals(floor, lambda path: floor.format_xdatcar_on(path, pos, 1)))
    if before is not None:
        read.rivals["before"] = lambda: before.parse_xdatcar_coords_rs(lines)
        write.rivals["before"] = lambda: before.format_xdatcar_config_rs(pos, 1)
    return [read, write]


def savetxt(array, fmt: str, header: str = "") -> str:
    out = io.StringIO()
    np.savetxt(out, array, fmt=fmt, header=header, comments="")
    return out.getvalue()


def cases(n: int, floor, before=None) -> list[Case]:
    return xyz_cases(n, floor, before) + poscar_cases(n, floor, before) + xdatcar_cases(n, floor, before)
