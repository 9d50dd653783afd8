"""Instructions per call at one atom, counted by callgrind (valgrind), for our
build and, with --baseline, an earlier one: a figure that a noisy machine
cannot blur, for changes on the call path too small to time.

Only the instructions inside the function itself count (callgrind collects
while an exported function's entry point is on the stack: binding,
conversions, work, result objects), not the Python loop around it, nor the
release of the result. Each function runs in two child processes, one with
K calls and one with 3K calls after the same warm-up call (which loads
NumPy); the difference over 2K is the count of one call.

Usage: python bench/callgrind_percall.py [--baseline DIR] [--calls K]"""

from __future__ import annotations

import argparse
import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Each child makes the one-atom arguments the per-call benchmark uses.
CHILD = """
import pathlib, sys
sys.path[:0] = [{root!r}]
import numpy as np
from bench.common import load_baseline_modules
if {baseline!r}:
    m = load_baseline_modules(pathlib.Path({baseline!r}))
    ct, al, cg = m["_coordtext"], m["_atomlines"], m["_cellgeom"]
else:
    import _atomlines as al, _cellgeom as cg, _coordtext as ct
pos = np.array([[0.25, -1.5, 3.0]])
flags = np.array([[True, False, True]])
cp, fm = np.array([[72, 101]], np.uint32), np.array([[0.5]])
im, bm = np.array([[7]], np.int64), np.array([[1]], np.uint8)
cell = np.array([[1.0, 0.01, 0.0], [0.0, 1.0, 0.02], [0.01, 0.0, 1.0]])
calls = {{
    "parse_xyz_block_rs": lambda: ct.parse_xyz_block_rs(["Fe 0.25 -1.5 3.0\\n"]),
    "read_atom_lines_rs": lambda: al.read_atom_lines_rs(["Fe 0.25 -1.5 3.0 7 T\\n"], b"sfffib"),
    "parse_poscar_positions_rs": lambda: ct.parse_poscar_positions_rs(["  0.25 -1.5 3.0 T F T\\n"], True),
    "parse_xdatcar_coords_rs": lambda: ct.parse_xdatcar_coords_rs(["  0.25 -1.5 3.0\\n"]),
    "minkowski_reduce_rs": lambda: cg.minkowski_reduce_rs(cell),
    "make_supercell_positions_rs": lambda: cg.make_supercell_positions_rs(pos, pos, True),
    "format_xyz_block_rs": lambda: ct.format_xyz_block_rs(["Fe"], pos),
    "format_poscar_positions_rs": lambda: ct.format_poscar_positions_rs(pos, flags),
    "format_xdatcar_config_rs": lambda: ct.format_xdatcar_config_rs(pos, 1),
    "write_atoms_rs": lambda: al.write_atoms_rs(cp, 2, fm, im, bm, b"sfib"),
}}
call = calls[{function!r}]
call()
for _ in range({count}):
    call()
"""

FUNCTIONS = ["parse_xyz_block_rs", "read_atom_lines_rs", "parse_poscar_positions_rs", "parse_xdatcar_coords_rs",
             "minkowski_reduce_rs", "make_supercell_positions_rs", "format_xyz_block_rs",
             "format_poscar_positions_rs", "format_xdatcar_config_rs", "write_atoms_rs"]


def collected(function: str, count: int, baseline: str) -> int:
    script = CHILD.format(root=str(ROOT), baseline=baseline, function=function, count=count)
    env = dict(os.environ, PYTHONHASHSEED="0")
    if baseline:
        env["MESONPY_EDITABLE_SKIP"] = str(ROOT / "build" / "editable")
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                          "--toggle-collect=*ak::frame::fastcall*", sys.executable, "-c", script],
                         capture_output=True, text=True, env=env)
    found = re.search(r"Collected : (\d+)", run.stderr)
    if run.returncode != 0 or not found:
        unknown = re.search(r"unhandled instruction bytes: ([0-9A-Fx ]+)", run.stderr)
        if unknown:
            raise Undecodable(unknown.group(1).strip())
        raise SystemExit(f"callgrind run failed for {function}:\n{run.stderr[-2000:]}")
    return int(found.group(1))


class Undecodable(Exception):
    """The code path chosen for this machine holds an instruction valgrind cannot run."""


def per_call(function: str, calls: int, baseline: str = "") -> float:
    return (collected(function, 3 * calls, baseline) - collected(function, calls, baseline)) / (2 * calls)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", type=pathlib.Path, help="folder holding modules of an earlier build")
    parser.add_argument("--calls", type=int, default=200)
    args = parser.parse_args()
    head = "| function | instructions a call |" + (" before | after - before |" if args.baseline else "")
    print(head + "\n|---|---:|" + ("---:|---:|" if args.baseline else ""))
    for function in FUNCTIONS:
        try:
            ours = per_call(function, args.calls)
            row = f"| `{function}` | {ours:,.0f} |"
            if args.baseline:
                before = per_call(function, args.calls, str(args.baseline.resolve()))
                row += f" {before:,.0f} | {ours - before:+,.0f} |"
        except Undecodable as exc:
            row = f"| `{function}` | valgrind cannot run this machine's code path (instruction bytes {exc}) |"
        print(row, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
