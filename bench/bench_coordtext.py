"""_coordtext against what a user would otherwise run on the same lines/arrays:
a plain Python loop, numpy.loadtxt/savetxt and pandas.read_csv."""

from __future__ import annotations

import io
import sys

import numpy as np

import _coordtext as ct

try:
    from bench.common import Row, compare, print_rows
except ImportError:  # run as a script from bench/
    from common import Row, compare, print_rows

ELEMENTS = ["H", "C", "N", "O", "Fe", "Cu", "Si", "Au"]


def make_structure(n: int, seed: int = 0) -> tuple[list[str], np.ndarray]:
    rng = np.random.default_rng(seed)
    symbols = [ELEMENTS[i] for i in rng.integers(0, len(ELEMENTS), n)]
    return symbols, rng.uniform(-50.0, 50.0, (n, 3))


def _loadtxt(lines, usecols):
    return np.loadtxt(lines, usecols=usecols, dtype=np.float64, ndmin=2)


def _read_csv(lines, usecols):
    import pandas as pd
    return pd.read_csv(io.StringIO("".join(lines)), sep=r"\s+", header=None, engine="c",
                       usecols=usecols).to_numpy(np.float64)


def _savetxt(array, fmt):
    out = io.StringIO()
    np.savetxt(out, array, fmt=fmt)
    return out.getvalue()


def bench_xyz(n: int) -> list[Row]:
    symbols, pos = make_structure(n)
    lines = ct.format_xyz_block_rs(symbols, pos).splitlines(keepends=True)

    def py_read():
        syms, rows = [], []
        for line in lines:
            f = line.split()
            syms.append(f[0])
            rows.append((float(f[1]), float(f[2]), float(f[3])))
        return syms, np.array(rows)

    def py_write():
        return "".join("%-2s %22.15f %22.15f %22.15f\n" % (s, x, y, z)
                       for s, (x, y, z) in zip(symbols, pos.tolist()))

    sym_pos = np.empty((n, 4), dtype=object)
    sym_pos[:, 0] = symbols
    sym_pos[:, 1:] = pos
    rows = compare("parse_xyz_block_rs", n, lambda: ct.parse_xyz_block_rs(lines), {
        "python loop split/float": py_read,
        "numpy.loadtxt": lambda: _loadtxt(lines, (1, 2, 3)),
        "pandas.read_csv(c)": lambda: _read_csv(lines, [1, 2, 3]),
    })
    rows += compare("format_xyz_block_rs", n, lambda: ct.format_xyz_block_rs(symbols, pos), {
        "python % loop": py_write,
        "numpy.savetxt": lambda: _savetxt(sym_pos, "%-2s %22.15f %22.15f %22.15f"),
    })
    return rows


def bench_poscar(n: int) -> list[Row]:
    _, pos = make_structure(n, seed=1)
    pos = pos / 100.0 + 0.5
    flags = np.random.default_rng(2).random((n, 3)) < 0.5
    lines = ct.format_poscar_positions_rs(pos, flags).splitlines(keepends=True)

    def py_read():
        coords, mask = [], []
        for line in lines:
            f = line.split()
            coords.append((float(f[0]), float(f[1]), float(f[2])))
            mask.append((f[3] == "F", f[4] == "F", f[5] == "F"))
        return np.array(coords), np.array(mask)

    def py_write():
        letters = np.where(flags, "F", "T").tolist()
        return "".join(" %19.16f %19.16f %19.16f   %s   %s   %s\n" % (x, y, z, a, b, c)
                       for (x, y, z), (a, b, c) in zip(pos.tolist(), letters))

    rows = compare("parse_poscar_positions_rs", n,
                   lambda: ct.parse_poscar_positions_rs(lines, True), {
                       "python loop split/float": py_read,
                       "numpy.loadtxt": lambda: _loadtxt(lines, (0, 1, 2)),
                   })
    rows += compare("format_poscar_positions_rs", n,
                    lambda: ct.format_poscar_positions_rs(pos, flags), {
                        "python % loop": py_write,
                        "numpy.savetxt": lambda: _savetxt(pos, " %19.16f %19.16f %19.16f"),
                    })
    return rows


def bench_xdatcar(n: int) -> list[Row]:
    _, pos = make_structure(n, seed=3)
    pos = pos / 100.0 + 0.5
    text = ct.format_xdatcar_config_rs(pos, 1)
    lines = text.splitlines(keepends=True)[1:]

    def py_read():
        return np.array([[float(v) for v in line.split()[:3]] for line in lines])

    def py_write():
        return "Direct configuration=%6d\n" % 1 + "".join(
            "  %11.8f %11.8f %11.8f\n" % (x, y, z) for x, y, z in pos.tolist())

    rows = compare("parse_xdatcar_coords_rs", n, lambda: ct.parse_xdatcar_coords_rs(lines), {
        "python loop split/float": py_read,
        "numpy.loadtxt": lambda: _loadtxt(lines, (0, 1, 2)),
    })
    rows += compare("format_xdatcar_config_rs", n, lambda: ct.format_xdatcar_config_rs(pos, 1), {
        "python % loop": py_write,
        "numpy.savetxt": lambda: _savetxt(pos, "  %11.8f %11.8f %11.8f"),
    })
    return rows


def run(sizes: list[int]) -> list[Row]:
    rows: list[Row] = []
    for n in sizes:
        rows += bench_xyz(n) + bench_poscar(n) + bench_xdatcar(n)
    return rows


if __name__ == "__main__":
    sizes = [int(a) for a in sys.argv[1:]] or [1_000, 100_000, 1_000_000]
    print_rows(run(sizes))
