"""`make bench`: every benchmark in one table, saved with a plot of the ratios.

Runs bench_coordtext, bench_atomlines and bench_cellgeom, prints one table
(ratio = baseline time / our time, so above 1 means we are faster) and writes
bench/results/results.md and bench/results/ratios.png.

Usage: python bench/run.py [--quick] [--out DIR]
  --quick   10**3 and 10**5 only (a minute or two instead of several).
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

from bench import bench_atomlines, bench_cellgeom, bench_coordtext  # noqa: E402
from bench.common import Row, fmt_seconds, print_rows  # noqa: E402

TEXT_SIZES = [10**3, 10**5, 10**6]
SUPERCELL_SIZES = [10**3, 10**4, 10**5, 10**6, 10**7]
QUICK_SIZES = [10**3, 10**5]

# bench_atomlines names its rows "<what> vs <baseline>".
ATOMLINES_FUNCTIONS = {"atomlines.write": "write_atoms_rs", "atomlines.read": "read_atom_lines_rs"}


def atomlines_rows(sizes: list[int]) -> list[Row]:
    rows = []
    for name, n, ours, base, _ratio in bench_atomlines.run(sizes):
        what, _, baseline = name.partition(" vs ")
        baseline = {"% loop": "python % loop", "python loop": "python loop split/convert",
                    "pandas": "pandas.read_csv(c)"}.get(baseline, baseline)
        rows.append(Row(ATOMLINES_FUNCTIONS.get(what, what), n, baseline, ours, base))
    return rows


def run_all(quick: bool) -> list[Row]:
    text_sizes = QUICK_SIZES if quick else TEXT_SIZES
    cell_sizes = QUICK_SIZES if quick else SUPERCELL_SIZES
    rows: list[Row] = []
    for label, fn, sizes in (("coordtext", bench_coordtext.run, text_sizes),
                             ("atomlines", atomlines_rows, text_sizes),
                             ("cellgeom", bench_cellgeom.run, cell_sizes)):
        start = time.perf_counter()
        print(f"[{label}] sizes {', '.join(f'{n:,}' for n in sizes)} ...", flush=True)
        rows += fn(sizes)
        print(f"[{label}] done in {time.perf_counter() - start:.0f} s", flush=True)
    return rows


def machine() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"Python {platform.python_version()}, NumPy {np.__version__}, {cpu}, "
            f"{os.cpu_count()} logical CPUs, {datetime.date.today().isoformat()}")


def write_markdown(rows: list[Row], path: pathlib.Path, quick: bool) -> None:
    lines = [
        "| function | n | baseline | ours | baseline | speed-up |",
        "|---|---:|---|---:|---:|---:|",
    ]
    for r in rows:
        lines.append(f"| `{r.case}` | {r.n:,} | {r.baseline} | {fmt_seconds(r.ours)} | "
                     f"{fmt_seconds(r.theirs)} | {r.ratio:.1f}x |")
    note = " (--quick)" if quick else ""
    lines += ["", f"Best of several runs per cell; n is atoms (lines) for the text "
              f"functions and output rows for the supercell. {machine()}{note}.", ""]
    path.write_text("\n".join(lines))


def plot(rows: list[Row], path: pathlib.Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    groups: dict[tuple[str, str], dict[int, float]] = {}
    for r in rows:
        groups.setdefault((r.case, r.baseline), {})[r.n] = r.ratio
    sizes = sorted({r.n for r in rows if r.n > 1})
    colors = dict(zip(sizes, plt.cm.viridis(np.linspace(0.1, 0.85, len(sizes)))))

    # One band per (function, baseline), top to bottom in table order; the
    # band is shared by that pair's sizes, smallest n on top.
    fig, ax = plt.subplots(figsize=(10, 0.5 * len(groups) + 1.6))
    labels = []
    for g, ((case, baseline), by_n) in enumerate(groups.items()):
        y0 = len(groups) - 1 - g
        labels.append((y0, f"{case}\nvs {baseline}"))
        height = 0.8 / len(by_n)
        for k, (n, ratio) in enumerate(sorted(by_n.items())):
            ax.barh(y0 + 0.4 - height * (k + 0.5), ratio, height=height,
                    color=colors.get(n, "tab:gray"), edgecolor="none")
    ax.set_xscale("log")
    ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda x, _: f"{x:g}x"))
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_yticks([y for y, _ in labels], [label for _, label in labels], fontsize=7)
    ax.set_ylim(-0.6, len(groups) - 0.4)
    ax.set_xlabel("speed-up: baseline time / our time (log scale; > 1 means faster)")
    ax.grid(axis="x", which="both", alpha=0.3)
    handles = [plt.Rectangle((0, 0), 1, 1, color=colors[n]) for n in sizes]
    handles.append(plt.Rectangle((0, 0), 1, 1, color="tab:gray"))
    ax.legend(handles, [f"n = {n:,}" for n in sizes] + ["per call"], loc="lower right",
              fontsize=8)
    ax.set_title("atomkernels against the alternatives, same data, same run")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="sizes 10**3 and 10**5 only")
    parser.add_argument("--out", type=pathlib.Path, default=ROOT / "bench" / "results",
                        help="folder for results.md and ratios.png")
    args = parser.parse_args(argv)

    rows = run_all(args.quick)
    print()
    print_rows(rows)
    args.out.mkdir(parents=True, exist_ok=True)
    write_markdown(rows, args.out / "results.md", args.quick)
    try:
        plot(rows, args.out / "ratios.png")
    except ImportError:
        print("matplotlib is not installed: no plot (pip install -e '.[bench]')")
    print(f"\nwrote {args.out / 'results.md'}" + (f" and {args.out / 'ratios.png'}"
                                                  if (args.out / 'ratios.png').exists() else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
