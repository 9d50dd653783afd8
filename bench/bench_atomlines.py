"""Timings of the typed atom-line reader and writer against plain baselines.

One frame of n atoms with a symbol, six float, one integer and one boolean
column (codes b"sffffffib") is read and written by `_atomlines` and, on the
same data in the same run, by:

* read: a Python loop (split, then per-column conversion, then arrays),
* read: pandas.read_csv(sep=r"\\s+") over the same lines joined into one text,
* write: a per-line `%` formatting loop producing the same text.

Usage: python bench/bench_atomlines.py [--quick]   (--quick, or the
environment variable AK_BENCH_QUICK=1, skips 10**6 atoms.)
"""

from __future__ import annotations

import io
import os
import sys
import time

import numpy as np

import _atomlines

COL_TYPES = b"sffffffib"
SYMBOLS = np.array(["H", "C", "N", "O", "Fe", "Cu"], dtype="<U2")
LINE_FORMAT = "%-2s" + " %16.8f" * 6 + " %8d" + "  %s\n"
SIZES = (10**3, 10**5, 10**6)
QUICK_SIZES = (10**3, 10**5)


def make_frame(n: int, seed: int = 0):
    rng = np.random.default_rng(seed)
    symbols = SYMBOLS[rng.integers(0, len(SYMBOLS), n)]
    floats = rng.normal(scale=10.0, size=(n, 6))
    ints = rng.integers(-1000, 1000, size=(n, 1), dtype=np.int64)
    bools = rng.integers(0, 2, size=(n, 1), dtype=np.uint8)
    return symbols, floats, ints, bools


def codepoints(symbols: np.ndarray) -> np.ndarray:
    return symbols.view(np.uint32).reshape(len(symbols), -1)


def write_ours(symbols, floats, ints, bools) -> str:
    return _atomlines.write_atoms_rs(codepoints(symbols), 2, floats, ints, bools, COL_TYPES)


def write_baseline(symbols, floats, ints, bools) -> str:
    rows = zip(symbols.tolist(), floats.tolist(), ints[:, 0].tolist(), bools[:, 0].tolist())
    return "".join([LINE_FORMAT % (s, *f, i, "T" if b else "F") for s, f, i, b in rows])


def read_ours(lines):
    return _atomlines.read_atom_lines_rs(lines, COL_TYPES)


TRUE_WORDS = frozenset(("T", "True", "TRUE", "true"))


def read_baseline(lines):
    symbols, floats, ints, bools = [], [], [], []
    for line in lines:
        tokens = line.split()
        symbols.append(tokens[0])
        floats.append([float(t) for t in tokens[1:7]])
        ints.append(int(tokens[7]))
        bools.append(tokens[8] in TRUE_WORDS)
    return symbols, np.array(floats), np.array(ints), np.array(bools, dtype=np.uint8)


def read_pandas(text: str):
    import pandas as pd

    return pd.read_csv(io.StringIO(text), sep=r"\s+", header=None,
                       true_values=["T"], false_values=["F"])


def best_time(fn, *args, budget: float = 1.0, max_repeat: int = 7) -> float:
    """Best of a few runs; fewer runs for slow calls."""
    best = float("inf")
    spent = 0.0
    for _ in range(max_repeat):
        start = time.perf_counter()
        fn(*args)
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        if spent > budget:
            break
    return best


def run(sizes=SIZES):
    """Returns rows (name, n, seconds ours, seconds baseline, ratio)."""
    try:
        import pandas  # noqa: F401
        have_pandas = True
    except ImportError:
        have_pandas = False
    rows = []
    for n in sizes:
        frame = make_frame(n)
        text = write_ours(*frame)
        if text != write_baseline(*frame):
            raise AssertionError("write_atoms_rs and the % loop disagree")
        lines = text.splitlines(keepends=True)

        ours = best_time(write_ours, *frame)
        base = best_time(write_baseline, *frame)
        rows.append(("atomlines.write vs % loop", n, ours, base, base / ours))

        ours = best_time(read_ours, lines)
        base = best_time(read_baseline, lines)
        rows.append(("atomlines.read vs python loop", n, ours, base, base / ours))
        if have_pandas:
            base = best_time(read_pandas, text)
            rows.append(("atomlines.read vs pandas", n, ours, base, base / ours))
    return rows


def print_table(rows) -> None:
    print(f"{'benchmark':<32}{'n':>10}{'ours [s]':>12}{'baseline [s]':>14}{'ratio':>9}")
    for name, n, ours, base, ratio in rows:
        print(f"{name:<32}{n:>10}{ours:>12.5f}{base:>14.5f}{ratio:>8.1f}x")


if __name__ == "__main__":
    quick = "--quick" in sys.argv[1:] or os.environ.get("AK_BENCH_QUICK") == "1"
    print_table(run(QUICK_SIZES if quick else SIZES))
