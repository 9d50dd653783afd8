"""`make bench`: every exported function against its floor and its rivals, in
one run on the same data; prints the tables and writes bench/results/.

For each case the rivals' results are first checked against ours (the run
stops on any disagreement); then ours, the floor and the rivals are timed in
interleaved rounds and the best round of each counts. Ratios: "vs floor" is
our time over the floor's (1.00 would be the floor itself); every other
ratio is the rival's time over ours (above 1 means we are faster).

The trajectory section times a host's loop instead: 10**4 frames of 3, 64
and 512 atoms, one reader or writer call a frame (bench/bench_trajectory.py),
in a table of its own, also written to bench/results/trajectory.md. The
crafted-token section (bench/bench_hostile.py) reads 2^14 and 2^16 lines whose
tokens share one standard-library hash value beside random ones, written to
bench/results/hostile.md. The scale-out section (bench/bench_threads.py) runs
one call per task on a thread pool of 1, 2 and all CPUs against a plain loop,
written to bench/results/threads.md.

Usage: python bench/run.py [--quick] [--only TEXT] [--baseline DIR] [--out DIR]
  --quick       sizes 10**3 and 10**5 only; 10**3 frames in the trajectory section
  --only TEXT   only cases whose name contains TEXT ("trajectory", "per call", "crafted", "threads": that
                section only)
  --baseline    also time the modules built earlier and kept in DIR ("before")
"""

from __future__ import annotations

import argparse
import datetime
import os
import pathlib
import platform
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
if str(ROOT) not in sys.path:
    sys.path.insert(0, str(ROOT))

import numpy as np  # noqa: E402

from bench import (bench_atomlines, bench_cellgeom, bench_coordtext, bench_hostile, bench_percall,  # noqa: E402
                   bench_threads, bench_trajectory, memory)
from bench.common import Case, check_agreement, fmt_seconds, load_baseline_modules, load_floor, measure  # noqa: E402

TEXT_SIZES = [10**3, 10**5, 10**6]
SUPERCELL_SIZES = [10**3, 10**4, 10**5, 10**6, 10**7]
QUICK_SIZES = [10**3, 10**5]
RIVAL_ORDER = ["python loop", "python % loop", "python transcription", "numpy.loadtxt", "numpy.savetxt",
               "numpy broadcast", "numpy empty+fill", "pandas.read_csv(c)", "pyarrow.csv 1 thread", "pyarrow.csv threads", "before"]

# What the functions must reach (function, variant, n, rival or "floor", bound).
# A rival bound is the least speed-up over it; the floor bound is the most our
# time may be over the floor's; minkowski's bound is its time a call.
TARGETS = [
    ("parse_xyz_block_rs", "", 10**5, "python loop", 25), ("parse_xyz_block_rs", "", 10**5, "pyarrow.csv 1 thread", 3),
    ("parse_xyz_block_rs", "", 10**5, "floor", 1.15),
    ("parse_poscar_positions_rs", "selective", 10**5, "python loop", 20),
    ("parse_poscar_positions_rs", "selective", 10**5, "pyarrow.csv 1 thread", 3.5),
    ("parse_poscar_positions_rs", "selective", 10**5, "floor", 1.15),
    ("parse_xdatcar_coords_rs", "", 10**5, "python loop", 30), ("parse_xdatcar_coords_rs", "", 10**5, "numpy.loadtxt", 4),
    ("parse_xdatcar_coords_rs", "", 10**5, "pyarrow.csv 1 thread", 2.5), ("parse_xdatcar_coords_rs", "", 10**5, "floor", 1.15),
    ("read_atom_lines_rs", "s, 6 f, i, b", 10**5, "python loop", 25),
    ("read_atom_lines_rs", "s, 6 f, i, b", 10**5, "pyarrow.csv 1 thread", 3.5),
    ("read_atom_lines_rs", "s, 6 f, i, b", 10**5, "floor", 1.15),
    *[(f, v, 10**5, "python % loop", bound) for f, v, bound in (
        ("format_xyz_block_rs", "", 30), ("format_poscar_positions_rs", "with flags", 35),
        ("format_xdatcar_config_rs", "", 30), ("write_atoms_rs", "s, 6 f, i, b", 35))],
    *[(f, v, 10**6, "python % loop", 25) for f, v in (("format_xyz_block_rs", ""), ("format_poscar_positions_rs", "with flags"),
                                                     ("format_xdatcar_config_rs", ""), ("write_atoms_rs", "s, 6 f, i, b"))],
    *[(f, v, n, "floor", 1.15) for n in (10**5, 10**6)
      for f, v in (("format_xyz_block_rs", ""), ("format_poscar_positions_rs", "with flags"),
                   ("format_xdatcar_config_rs", ""), ("write_atoms_rs", "s, 6 f, i, b"))],
    *[("make_supercell_positions_rs", v, n, "numpy broadcast", 1.5) for v in ("cell-major", "atom-major")
      for n in SUPERCELL_SIZES],
    *[("make_supercell_positions_rs", v, n, "floor", 1.1) for v in ("cell-major", "atom-major") for n in SUPERCELL_SIZES],
    *[("make_supercell_positions_rs", v, 10**6, "within " + bench_cellgeom.FILL, 1.1) for v in ("cell-major", "atom-major")],
    ("minkowski_reduce_rs", "ordinary cell", 1, "ns a call", 350),
]
READERS = [("parse_xyz_block_rs", ""), ("parse_poscar_positions_rs", "selective"), ("parse_xdatcar_coords_rs", ""),
           ("read_atom_lines_rs", "s, 6 f, i, b")]


def build_cases(text_sizes, cell_sizes, floor, before) -> list[Case]:
    cases: list[Case] = bench_cellgeom.minkowski_cases(before.get("_cellgeom"))
    for n in text_sizes:
        cases += bench_coordtext.cases(n, floor, before.get("_coordtext"))
        cases += bench_atomlines.cases(n, floor, before.get("_atomlines"))
    for n in cell_sizes:
        cases += bench_cellgeom.supercell_cases(n, floor, before.get("_cellgeom"))
    return cases


def rival_columns(cases: list[Case]) -> list[str]:
    present = {r for c in cases for r in c.rivals}
    return [r for r in RIVAL_ORDER if r in present] + sorted(present - set(RIVAL_ORDER))


def table(cases: list[Case]) -> list[str]:
    rivals = rival_columns(cases)
    head = ["function", "n", "ours", "per line", "vs floor", *rivals]
    lines = ["| " + " | ".join(head) + " |", "|" + "|".join(["---"] + ["---:"] * (len(head) - 1)) + "|"]
    for c in cases:
        ours = c.seconds["ours"]
        cells = [f"`{c.function}`" + (f" ({c.variant})" if c.variant else ""), f"{c.n:,}", fmt_seconds(ours),
                 f"{ours / c.n * 1e9:.1f} ns" if c.n > 1 else "",
                 f"{ours / c.floor:.2f}" if c.floors else ""]
        # An earlier build is within a few percent: two decimals tell those apart.
        cells += [(f"{c.ratio(r):.2f}x" if r == "before" else f"{c.ratio(r):.1f}x") if r in c.rivals else ""
                  for r in rivals]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def find(cases, function, variant, n):
    for c in cases:
        if c.function == function and c.variant == variant and c.n == n:
            return c
    return None


def target_lines(cases: list[Case]) -> list[str]:
    out = ["| function | n | measure | bound | measured | met |", "|---|---:|---|---:|---:|:---:|"]
    for function, variant, n, what, bound in TARGETS:
        if function == "make_supercell_positions_rs":
            c = next((c for c in cases if c.function == function and c.variant == variant
                      and abs(c.n - n) <= n // 10), None)
        else:
            c = find(cases, function, variant, n)
        if c is None:
            continue
        if what == "floor":
            value, ok, shown = c.seconds["ours"] / c.floor, None, "x floor"
            ok = value <= bound
        elif what.startswith("within ") and what[7:] in c.rivals:
            value = c.seconds["ours"] / c.seconds[what[7:]]
            ok, shown = value <= bound, f"x {what[7:]}"
        elif what == "ns a call":
            value = c.seconds["ours"] * 1e9
            ok, shown = value <= bound, "ns"
        elif what in c.rivals:
            value = c.ratio(what)
            ok, shown = value >= bound, f"x vs {what}"
        else:
            continue
        name = f"`{function}`" + (f" ({variant})" if variant else "")
        sign = "<=" if what in ("floor", "ns a call") or what.startswith("within ") else ">="
        out.append(f"| {name} | {c.n:,} | {shown} | {sign} {bound:g} | {value:.2f} | {'yes' if ok else 'NO'} |")
    return out


def flatness_lines(cases: list[Case], sizes) -> list[str]:
    """Cost per line at 10^6 against 10^3, ours and the floor's: what a
    reader adds as its input outgrows the caches."""
    if min(sizes) > 10**3 or max(sizes) < 10**6:
        return []
    out = ["| reader | ns/line at 10^3 | ns/line at 10^6 | ratio | floor's ratio |", "|---|---:|---:|---:|---:|"]
    for function, variant in READERS:
        small, large = find(cases, function, variant, 10**3), find(cases, function, variant, 10**6)
        if small and large:
            a, b = small.seconds["ours"] / small.n * 1e9, large.seconds["ours"] / large.n * 1e9
            floor = (large.floor / large.n) / (small.floor / small.n)
            out.append(f"| `{function}` | {a:.1f} | {b:.1f} | {b / a:.2f} | {floor:.2f} |")
    return out


def trajectory_lines(cases: list[bench_trajectory.TrajectoryCase]) -> list[str]:
    """ns per atom of the whole loop, ours and the rivals' (with how many
    times faster ours is)."""
    order = [f for functions in bench_trajectory.FORMATS.values() for f in functions]
    out = ["| function | atoms | frames | ours | ours per atom | python loop | numpy |",
           "|---|---:|---:|---:|---:|---:|---:|"]
    for c in sorted(cases, key=lambda c: (order.index(c.function), c.atoms)):
        ours = c.seconds["ours"]
        cells = [f"`{c.function}`", f"{c.atoms}", f"{c.frames:,}", fmt_seconds(ours), f"{ours / c.n * 1e9:.1f} ns"]
        for kind in ("python", "numpy"):
            rival = next((r for r in c.seconds if r.startswith(kind)), None)
            cells.append(f"{c.seconds[rival] / c.n * 1e9:,.0f} ns ({c.ratio(rival):.1f}x)" if rival else "")
        out.append("| " + " | ".join(cells) + " |")
    return out


TRAJECTORY_BUDGET = 2.0  # seconds of timed runs a loop may take


def run_trajectory(frames: int, only: str, rounds: int) -> list[bench_trajectory.TrajectoryCase]:
    """Checks and times each trajectory case as its data is built, then drops
    the data. Each loop is timed in rounds until its runs add up to about two
    seconds: a loop of over two seconds (the rivals at 512 atoms) runs once."""
    done = []
    start = time.perf_counter()
    for c in bench_trajectory.cases(frames, only):
        c.check()
        measure(c, rounds=rounds, budget_seconds=TRAJECTORY_BUDGET)
        c.release()
        done.append(c)
        print(f"  {c.name:48} n={c.n:>10,}  {fmt_seconds(c.seconds['ours']):>10}  "
              f"{c.seconds['ours'] / c.n * 1e9:6.1f} ns/atom", flush=True)
    print(f"timed {len(done)} trajectory cases in {time.perf_counter() - start:.0f} s\n")
    return done


def machine() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    import importlib.metadata as md
    versions = []
    for dist in ("pandas", "pyarrow"):
        try:
            versions.append(f"{dist} {md.version(dist)}")
        except md.PackageNotFoundError:
            versions.append(f"no {dist} (its columns are left out)")
    return (f"Python {platform.python_version()}, NumPy {np.__version__}, {', '.join(versions)}; {cpu}, "
            f"{os.cpu_count()} logical CPUs; {datetime.date.today().isoformat()}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="sizes 10**3 and 10**5 only")
    parser.add_argument("--only", default="", help="only cases whose name contains this text")
    parser.add_argument("--baseline", type=pathlib.Path, help="folder holding modules of an earlier build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--out", type=pathlib.Path, default=ROOT / "bench" / "results")
    args = parser.parse_args(argv)

    text_sizes = QUICK_SIZES if args.quick else TEXT_SIZES
    cell_sizes = QUICK_SIZES if args.quick else SUPERCELL_SIZES
    before = load_baseline_modules(args.baseline) if args.baseline else {}
    # No other case has "trajectory", "per call", "crafted" or "threads" in its name: their data is not even
    # built then.
    own_section = any(name in args.only for name in ("trajectory", "per call", "crafted", "threads"))
    cases = [] if own_section else [
        c for c in build_cases(text_sizes, cell_sizes, load_floor(), before) if args.only in c.name]
    start = time.perf_counter()
    for c in cases:
        check_agreement(c)
        measure(c, rounds=args.rounds)
        print(f"  {c.name:48} n={c.n:>10,}  {fmt_seconds(c.seconds['ours']):>10}"
              + (f"  {c.seconds['ours'] / c.floor:5.2f}x floor" if c.floors else ""), flush=True)
    if cases:
        print(f"timed {len(cases)} cases in {time.perf_counter() - start:.0f} s\n")
    frames = bench_trajectory.QUICK_FRAMES if args.quick else bench_trajectory.FRAMES
    trajectory = run_trajectory(frames, args.only, args.rounds)
    per_call = []
    # More rounds than the big blocks by default: a call of a few hundred ns
    # is the easiest to disturb.
    per_call_rounds = 5 if args.quick else max(9, args.rounds)
    if not args.only or "per call" in args.only:
        start = time.perf_counter()
        per_call_table, per_call_targets = bench_percall.run(rounds=per_call_rounds, before=before)
        print(f"timed the per-call cases in {time.perf_counter() - start:.0f} s\n")
        per_call = ["## Fixed cost of a call: 1 to 100 atoms", "", bench_percall.__doc__.split("\n\n")[1].replace("\n", " "),
                    "", per_call_table, "", "| function | measure | bound | measured | met |", "|---|---|---:|---:|:---:|",
                    *[f"| `{name}` | {measure} | {bound} | {value:.2f} | {'yes' if met else 'NO'} |"
                      for name, measure, bound, value, met in per_call_targets], ""]

    crafted = []
    if not args.only or "crafted" in args.only:
        start = time.perf_counter()
        crafted = ["## Crafted tokens", "", bench_hostile.__doc__.split("\n\n")[1].replace("\n", " "), "",
                   *bench_hostile.run(rounds=args.rounds, before=before), ""]
        print(f"timed the crafted-token cases in {time.perf_counter() - start:.0f} s\n")

    threads = []
    if not args.only or "threads" in args.only:
        start = time.perf_counter()
        threads = ["## Scale-out: one call per task on a thread pool", "",
                   bench_threads.__doc__.split("\n\n")[1].replace("\n", " "), "",
                   *bench_threads.run(rounds=args.rounds), ""]
        print(f"timed the scale-out cases in {time.perf_counter() - start:.0f} s\n")

    report = []
    if cases:
        report += ["## Speed", "", *table(cases), "", "## Targets", "", *target_lines(cases), ""]
    flat = flatness_lines(cases, text_sizes) if cases else []
    if flat:
        report += ["## Cost per line from 10^3 to 10^6 lines", "", *flat, ""]
    section = []
    if trajectory:
        section = ["## Trajectory loop: one call a frame", "",
                   "Time of the whole loop over frames x atoms. Readers: each frame's atom lines sliced from one "
                   "list of the file's lines; python loop = split and float per line, numpy = numpy.loadtxt on "
                   "the slice. Writers: each frame's arrays; python = a `%`-format loop, numpy = numpy.savetxt to "
                   "a StringIO (with the object table it needs for mixed columns built in the loop). Each loop is "
                   f"timed in interleaved rounds until its runs add up to {TRAJECTORY_BUDGET:g} s (the best run "
                   "counts): ours in every round, the rivals at 512 atoms once.", "",
                   *trajectory_lines(trajectory), ""]
    report += section + per_call + crafted + threads
    if not args.only and not args.quick:
        report += ["## Peak memory of the readers at 10^6 lines", "", *memory.report(10**6), ""]
    footer = [f"Best of {args.rounds} interleaved rounds. {machine()}.", ""]
    print("\n".join(report + footer))
    # results.md holds the whole report; the trajectory section also goes
    # to a file of its own, so that a run of that section alone
    # (--only trajectory) leaves results.md as it was.
    args.out.mkdir(parents=True, exist_ok=True)
    per_call_footer = [f"Best of {per_call_rounds} interleaved rounds. {machine()}.", ""]
    for name, lines, end in (("results.md", report if cases else [], footer), ("trajectory.md", section, footer),
                             ("percall.md", per_call, per_call_footer), ("hostile.md", crafted, footer),
                             ("threads.md", threads, footer)):
        if lines:
            (args.out / name).write_text("\n".join(lines + end))
            print(f"wrote {args.out / name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
