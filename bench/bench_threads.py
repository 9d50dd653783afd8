"""Scale-out (`make bench`, or alone: python bench/bench_threads.py).

One call per task, each task its own block (a frame of a trajectory), run by
a concurrent.futures.ThreadPoolExecutor of 1, 2 and all the machine's
threads, against a plain loop over the same blocks on one thread: the XYZ
reader and writer and the atom-line reader and writer (`b"sfffib"`), on
many small blocks and on fewer large ones. Figures are ns per atom of the
whole batch of tasks; the speed-up is the loop's time over the pool's. On an
interpreter with the lock, the calls of the pool's threads take turns, so
the pool can only cost; an interpreter without it runs them at once.

Usage: python bench/bench_threads.py [--rounds N]"""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
import sysconfig
from concurrent.futures import ThreadPoolExecutor

ROOT = pathlib.Path(__file__).resolve().parents[1]
if str(ROOT) not in sys.path:
    sys.path.insert(0, str(ROOT))

import numpy as np  # noqa: E402

import _atomlines as al  # noqa: E402
import _coordtext as ct  # noqa: E402

from bench.common import Case, check_agreement, fmt_seconds, measure  # noqa: E402

TOTAL_ATOMS = 1 << 18
ATOMS_A_TASK = [64, 4096]
ELEMENTS = ["H", "C", "N", "O", "Fe", "Cu", "Si", "Au"]
EXTXYZ_CODES = b"sfffib"


def worker_counts() -> list[int]:
    return sorted({1, 2, os.cpu_count() or 1})


def interpreter() -> str:
    """The interpreter and whether its lock is on."""
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    build = "free-threaded build" if sysconfig.get_config_var("Py_GIL_DISABLED") else "build with the lock"
    return f"Python {sys.version.split()[0]} ({build}, interpreter lock {'enabled' if gil else 'disabled'})"


def blocks(atoms: int, tasks: int, seed: int = 0):
    """Per task: symbols, positions, codepoints, int and bool columns, and the
    XYZ and atom lines written from them."""
    rng = np.random.default_rng(seed)
    out = []
    for _ in range(tasks):
        symbols = [ELEMENTS[i] for i in rng.integers(0, len(ELEMENTS), atoms)]
        positions = rng.uniform(-50.0, 50.0, (atoms, 3))
        codepoints = np.array([[ord(c) for c in s.ljust(2, "\0")] for s in symbols], np.uint32)
        ints = rng.integers(0, 1000, (atoms, 1))
        bools = rng.integers(0, 2, (atoms, 1), dtype=np.uint8)
        block = {"symbols": symbols, "positions": positions, "codepoints": codepoints, "ints": ints, "bools": bools}
        block["xyz"] = ct.format_xyz_block_rs(symbols, positions).splitlines()
        block["atoms"] = al.write_atoms_rs(codepoints, 2, positions, ints, bools, EXTXYZ_CODES).splitlines()
        out.append(block)
    return out


CALLS = {
    "parse_xyz_block_rs": lambda b: ct.parse_xyz_block_rs(b["xyz"]),
    "format_xyz_block_rs": lambda b: ct.format_xyz_block_rs(b["symbols"], b["positions"]),
    "read_atom_lines_rs": lambda b: al.read_atom_lines_rs(b["atoms"], EXTXYZ_CODES),
    "write_atoms_rs": lambda b: al.write_atoms_rs(b["codepoints"], 2, b["positions"], b["ints"], b["bools"],
                                                  EXTXYZ_CODES),
}


def same_results(a, b) -> bool:
    if isinstance(a, np.ndarray):
        return isinstance(b, np.ndarray) and a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    if isinstance(a, (list, tuple)):
        return type(a) is type(b) and len(a) == len(b) and all(same_results(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return type(b) is dict and list(a) == list(b) and all(same_results(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


def agree(name, ours, theirs) -> None:
    if not same_results(ours, theirs):
        raise AssertionError(f"{name}: the pool's results differ from the loop's")


def cases(pools: dict[int, ThreadPoolExecutor]) -> list[Case]:
    out = []
    for atoms in ATOMS_A_TASK:
        data = blocks(atoms, TOTAL_ATOMS // atoms)
        for function, call in CALLS.items():
            rivals = {f"{w} threads": (lambda pool=pool, call=call: list(pool.map(call, data)))
                      for w, pool in pools.items()}
            out.append(Case(function, atoms * len(data), ours=lambda call=call: [call(b) for b in data],
                            rivals=rivals, agree=agree, variant=f"{atoms} atoms a task"))
    return out


def lines_of(done: list[Case], counts: list[int]) -> list[str]:
    head = ["function", "atoms a task", "tasks", "loop"] + [f"{w} thread{'s' if w > 1 else ''}" for w in counts]
    out = ["| " + " | ".join(head) + " |", "|" + "|".join(["---"] + ["---:"] * (len(head) - 1)) + "|"]
    for c in done:
        atoms = int(c.variant.split()[0])
        loop = c.seconds["ours"]
        cells = [f"`{c.function}`", f"{atoms:,}", f"{c.n // atoms:,}", f"{loop / c.n * 1e9:.1f} ns"]
        cells += [f"{c.seconds[f'{w} threads'] / c.n * 1e9:.1f} ns ({loop / c.seconds[f'{w} threads']:.2f}x)"
                  for w in counts]
        out.append("| " + " | ".join(cells) + " |")
    return out


def run(rounds: int = 5) -> list[str]:
    counts = worker_counts()
    pools = {w: ThreadPoolExecutor(max_workers=w) for w in counts}
    done = []
    try:
        for c in cases(pools):
            check_agreement(c)
            measure(c, rounds=rounds)
            c.ours = None
            c.rivals = {}
            done.append(c)
            best = min(counts, key=lambda w: c.seconds[f"{w} threads"])
            print(f"  {c.name:48} n={c.n:>10,}  loop {fmt_seconds(c.seconds['ours']):>10}  best pool "
                  f"{best} threads {c.seconds['ours'] / c.seconds[f'{best} threads']:.2f}x", flush=True)
    finally:
        for pool in pools.values():
            pool.shutdown()
    return [f"{interpreter()}; {os.cpu_count()} logical CPUs.", "", *lines_of(done, counts)]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    print(interpreter())
    print("\n".join(run(args.rounds)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
