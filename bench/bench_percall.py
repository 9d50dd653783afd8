"""The fixed cost of a call (`make bench`, or alone: python bench/bench_percall.py).

Every function on blocks of 1, 3, 10 and 100 atoms, against its per-call
floor (bench/floor/calls.cpp: the same binding, conversions and result objects
through the same frame calls, and no work) and against building the same
result objects in Python with NumPy (a generous floor: it pays the
interpreter's own overhead). Times are the best of interleaved rounds, in ns
per call; every callable is called through a lambda, so all three pay the same
Python call.

With modules of an earlier build (run.py --baseline DIR), their time per
call is shown beside ours as "before".

Usage: python bench/bench_percall.py [--quick]"""

from __future__ import annotations

import pathlib
import sys
import sysconfig
import time

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
if str(ROOT) not in sys.path:
    sys.path.insert(0, str(ROOT))

import _atomlines as al  # noqa: E402
import _cellgeom as cg  # noqa: E402
import _coordtext as ct  # noqa: E402

from bench.bench_coordtext import fractional, structure  # noqa: E402
from bench.common import editable_build, load_built  # noqa: E402

SIZES = [1, 3, 10, 100]
FLOOR_PATH = editable_build() / "bench" / "floor" / f"_akcallfloor{sysconfig.get_config_var('EXT_SUFFIX')}"
NEAR_DIAGONAL = np.array([[1.0, 0.01, 0.0], [0.0, 1.0, 0.02], [0.01, 0.0, 1.0]])
ATOM_COLUMNS = b"sfffib"

# The least speed-up over the Python-built result at one atom, and the most
# our time may be over the per-call floor.
PYTHON_BOUNDS = {
    "parse_xyz_block_rs": 1.3, "read_atom_lines_rs": 1.3,
    "parse_poscar_positions_rs": 1.4, "parse_xdatcar_coords_rs": 1.4,
    "minkowski_reduce_rs": 1.5, "make_supercell_positions_rs": 1.5,
    "format_xyz_block_rs": 0.5, "format_poscar_positions_rs": 0.5, "format_xdatcar_config_rs": 0.5,
    "write_atoms_rs": 0.45,
}
FLOOR_BOUND = 1.25


def load_call_floor():
    return load_built("_akcallfloor", FLOOR_PATH)


def calls(n: int, floor, before: dict | None = None) -> dict[str, tuple]:
    """For each function: (ours, floor, python-built[, before]), each a
    no-argument callable; `before` holds modules of an earlier build."""
    symbols, pos = structure(n, seed=n)
    frac = fractional(n, seed=n)
    flags = np.random.default_rng(n).random((n, 3)) < 0.5
    xyz = ct.format_xyz_block_rs(symbols, pos).splitlines(keepends=True)
    poscar = ct.format_poscar_positions_rs(frac, flags).splitlines(keepends=True)
    xdatcar = ct.format_xdatcar_config_rs(frac, 1).splitlines(keepends=True)[1:]
    codepoints = np.array([[ord(c) for c in s.ljust(2, "\0")] for s in symbols], np.uint32).reshape(n, 2)
    fm, im = pos.copy(), np.arange(n, dtype=np.int64).reshape(n, 1)
    bm = (np.arange(n) % 2).astype(np.uint8).reshape(n, 1)
    atoms = al.write_atoms_rs(codepoints, 2, fm, im, bm, ATOM_COLUMNS).splitlines(keepends=True)
    lattice = np.zeros((1, 3))
    texts = {name: len(text) for name, text in [
        ("format_xyz_block_rs", ct.format_xyz_block_rs(symbols, pos)),
        ("format_poscar_positions_rs", ct.format_poscar_positions_rs(frac, flags)),
        ("format_xdatcar_config_rs", ct.format_xdatcar_config_rs(frac, 1)),
        ("write_atoms_rs", al.write_atoms_rs(codepoints, 2, fm, im, bm, ATOM_COLUMNS))]}
    arguments = {
        "parse_xyz_block_rs": ((xyz,), lambda: (list(symbols), np.empty((n, 3)))),
        "parse_poscar_positions_rs": ((poscar, True), lambda: (np.empty((n, 3)), np.zeros((n, 3), bool))),
        "parse_xdatcar_coords_rs": ((xdatcar,), lambda: np.empty((n, 3))),
        "read_atom_lines_rs": ((atoms, ATOM_COLUMNS), lambda: {
            "floats": np.empty((n, 3)), "ints": np.empty((n, 1), np.int64), "bools": np.empty((n, 1), np.uint8),
            "strs": [list(symbols)]}),
        "format_xyz_block_rs": ((symbols, pos), lambda: " " * texts["format_xyz_block_rs"]),
        "format_poscar_positions_rs": ((frac, flags), lambda: " " * texts["format_poscar_positions_rs"]),
        "format_xdatcar_config_rs": ((frac, 1), lambda: " " * texts["format_xdatcar_config_rs"]),
        "write_atoms_rs": ((codepoints, 2, fm, im, bm, ATOM_COLUMNS), lambda: " " * texts["write_atoms_rs"]),
        "minkowski_reduce_rs": ((NEAR_DIAGONAL,), lambda: (np.empty((3, 3)), np.empty((3, 3), np.int64))),
        "make_supercell_positions_rs": ((pos, lattice, True), lambda: np.empty((n, 3))),
    }
    modules = {"_coordtext": ct, "_atomlines": al, "_cellgeom": cg}
    table = {}
    for name, (args, python_built) in arguments.items():
        module = next(m for m, mod in modules.items() if hasattr(mod, name))
        ours, theirs = getattr(modules[module], name), getattr(floor, name)
        table[name] = (lambda f=ours, a=args: f(*a), lambda f=theirs, a=args: f(*a), python_built)
        if before and module in before:
            table[name] += (lambda f=getattr(before[module], name), a=args: f(*a),)
    return table


def best_ns(callables: list, rounds: int = 9, batch: int = 2000) -> list[float]:
    best = [float("inf")] * len(callables)
    for r in range(rounds):
        order = list(range(len(callables)))
        order = order[r % len(order):] + order[:r % len(order)]
        for i in order:
            f = callables[i]
            start = time.perf_counter()
            for _ in range(batch):
                f()
            best[i] = min(best[i], (time.perf_counter() - start) / batch * 1e9)
    return best


def run(sizes=SIZES, floor=None, rounds: int = 9, before: dict | None = None) -> tuple[str, list[tuple]]:
    """The table as Markdown, and the target rows (function, measure, bound, value, met)."""
    floor = floor or load_call_floor()
    results = {}
    for n in sizes:
        for name, timed in calls(n, floor, before).items():
            results[(name, n)] = best_ns(list(timed), rounds=rounds)
    shown_before = any(len(r) > 3 for r in results.values())
    lines = ["| function | atoms | ours (ns) | floor (ns) | Python-built (ns) | ours / floor | Python-built / ours |"
             + (" before (ns) | before / ours |" if shown_before else ""),
             "|---|---:|---:|---:|---:|---:|---:|" + ("---:|---:|" if shown_before else "")]
    targets = []
    for name in PYTHON_BOUNDS:
        for n in sizes:
            ours, fl, py, *old = results[(name, n)]
            line = f"| `{name}` | {n} | {ours:.0f} | {fl:.0f} | {py:.0f} | {ours / fl:.2f} | {py / ours:.2f} |"
            if shown_before:
                line += f" {old[0]:.0f} | {old[0] / ours:.2f} |" if old else "  |  |"
            lines.append(line)
        if 1 in sizes:
            ours, fl, py, *_ = results[(name, 1)]
            targets.append((name, "x floor at 1 atom", f"<= {FLOOR_BOUND}", ours / fl, ours / fl <= FLOOR_BOUND))
            bound = PYTHON_BOUNDS[name]
            targets.append((name, "x Python-built at 1 atom", f">= {bound}", py / ours, py / ours >= bound))
    return "\n".join(lines), targets


def main() -> None:
    table, targets = run(rounds=5 if "--quick" in sys.argv else 9)
    print(table)
    print()
    for name, measure, bound, value, met in targets:
        print(f"{name:30s} {measure:26s} {bound:>7s} {value:6.2f} {'ok' if met else 'NO'}")


if __name__ == "__main__":
    main()
