"""Crafted tokens (`make bench`, or alone: python bench/bench_hostile.py).

The two readers that keep a table of texts (the XYZ symbols, an atom-line
string column) on lines `<token> 1 2 3` whose 16-byte tokens all share one
value of the C++ standard library's string hash (tests/colliding_tokens.py),
beside the same number of random tokens of the same size and alphabet. A
table keyed by that hash made such a file quadratic; ours are keyed per
process, so the crafted tokens should cost what random ones do (at most 1.5
times). The Python loop (split, a dict of symbols, float per field) is timed
on both too: its dict is keyed per process as well. With --baseline, an
earlier build reads both kinds of lines at 2^14 (the crafted ones at 2^16
take it minutes).

Usage: python bench/bench_hostile.py [--baseline DIR] [--rounds N]"""

from __future__ import annotations

import argparse
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
for path in (ROOT, ROOT / "tests"):
    if str(path) not in sys.path:
        sys.path.insert(0, str(path))

import _atomlines as al  # noqa: E402
import _coordtext as ct  # noqa: E402
from colliding_tokens import colliding_tokens, random_tokens  # noqa: E402

from bench.common import Case, fmt_seconds, load_baseline_modules, measure  # noqa: E402

SIZES = [1 << 14, 1 << 16]
BASELINE_UP_TO = 1 << 14
BOUND = 1.5


def python_loop(lines):
    """What a user would write: split, one str per distinct symbol, floats."""
    symbols, seen, rows = [], {}, []
    for line in lines:
        # Split at the single spaces these lines have: str.split() would also
        # cut at the control characters the crafted tokens hold.
        s, x, y, z = line.split(" ")[:4]
        symbols.append(seen.setdefault(s, s))
        rows.append((float(x), float(y), float(z)))
    return symbols, rows


def readers(before: dict):
    """(name, ours, earlier build's or None) for each reader, each taking the lines."""
    old_ct, old_al = before.get("_coordtext"), before.get("_atomlines")
    return [
        ("parse_xyz_block_rs", ct.parse_xyz_block_rs, old_ct.parse_xyz_block_rs if old_ct else None),
        ("read_atom_lines_rs", lambda lines: al.read_atom_lines_rs(lines, b"sfff"),
         (lambda lines: old_al.read_atom_lines_rs(lines, b"sfff")) if old_al else None),
    ]


def cases(n: int, before: dict) -> list[Case]:
    crafted = [f"{t} 1 2 3" for t in colliding_tokens(n)]
    random = [f"{t} 1 2 3" for t in random_tokens(n)]
    out = []
    for name, ours, old in readers(before):
        rivals = {"random tokens": lambda ours=ours: ours(random),
                  "python loop, crafted": lambda: python_loop(crafted),
                  "python loop, random": lambda: python_loop(random)}
        if old is not None and n <= BASELINE_UP_TO:
            rivals["before, crafted"] = lambda old=old: old(crafted)
            rivals["before, random"] = lambda old=old: old(random)
        out.append(Case(name, n, ours=lambda ours=ours: ours(crafted), rivals=rivals, variant="crafted tokens"))
    return out


def lines_of(done: list[Case]) -> list[str]:
    out = ["| reader | lines | crafted | random | crafted / random | met | python loop crafted / random "
           "| before, crafted | before, random |", "|---|---:|---:|---:|---:|:---:|---:|---:|---:|"]
    for c in done:
        s = c.seconds
        ratio = s["ours"] / s["random tokens"]
        before = s.get("before, crafted")
        before_cells = f"{fmt_seconds(before)} | {fmt_seconds(s['before, random'])}" if before else "- | -"
        out.append(f"| `{c.function}` | {c.n:,} | {fmt_seconds(s['ours'])} | {fmt_seconds(s['random tokens'])} "
                   f"| {ratio:.2f} | {'yes' if ratio <= BOUND else 'NO'} "
                   f"| {s['python loop, crafted'] / s['python loop, random']:.2f} | {before_cells} |")
    return out


def run(rounds: int = 5, before: dict | None = None) -> list[str]:
    done = []
    for n in SIZES:
        for c in cases(n, before or {}):
            measure(c, rounds=rounds)
            done.append(c)
            print(f"  {c.name:48} n={c.n:>10,}  {fmt_seconds(c.seconds['ours']):>10}  "
                  f"{c.seconds['ours'] / c.seconds['random tokens']:.2f}x random", flush=True)
    return lines_of(done)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", type=pathlib.Path, help="folder holding modules of an earlier build")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    before = load_baseline_modules(args.baseline) if args.baseline else {}
    print("\n".join(run(args.rounds, before)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
