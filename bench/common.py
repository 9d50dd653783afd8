"""Shared helpers for the benchmarks: timing and result rows."""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import Callable


@dataclass
class Row:
    """One comparison: our function against one alternative on the same data."""

    case: str          # e.g. "parse_xyz_block_rs"
    n: int             # atoms (or output rows)
    baseline: str      # what a user would otherwise run
    ours: float        # seconds per call, best of several
    theirs: float      # seconds per call, best of several

    @property
    def ratio(self) -> float:
        return self.theirs / self.ours if self.ours > 0 else float("inf")


def best_time(fn: Callable[[], object], budget: float = 1.0, max_repeat: int = 50) -> float:
    """Best wall time of fn() over repeats that fit in about `budget` seconds (at least 3)."""
    best = float("inf")
    spent = 0.0
    repeat = 0
    while repeat < 3 or (spent < budget and repeat < max_repeat):
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        repeat += 1
    return best


def compare(case: str, n: int, ours: Callable[[], object],
            baselines: dict[str, Callable[[], object]], budget: float = 1.0) -> list[Row]:
    """Times ours once and every baseline, all on the same prepared data."""
    t_ours = best_time(ours, budget)
    return [Row(case, n, name, t_ours, best_time(fn, budget)) for name, fn in baselines.items()]


def print_rows(rows: list[Row]) -> None:
    print(f"{'function':34} {'n':>9} {'baseline':30} {'ours':>10} {'baseline':>10} {'ratio':>8}")
    for r in rows:
        print(f"{r.case:34} {r.n:>9} {r.baseline:30} {fmt_seconds(r.ours):>10} "
              f"{fmt_seconds(r.theirs):>10} {r.ratio:>7.1f}x")


def fmt_seconds(t: float) -> str:
    if t < 1e-6:
        return f"{t * 1e9:.0f} ns"
    if t < 1e-3:
        return f"{t * 1e6:.1f} us"
    if t < 1:
        return f"{t * 1e3:.2f} ms"
    return f"{t:.2f} s"
