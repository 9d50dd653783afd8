"""Shared machinery of the benchmarks: cases, interleaved timing, agreement
checks and the floors.

A case is one exported function at one size: our call, the floor of the same
work (bench/floor/floor.cpp; the fastest of its variants counts) and the
rivals a user would otherwise run, all on the same prepared data. Before
anything is timed, every rival's result is checked against ours; a case whose
results disagree stops the run. The timings are then taken in rounds that
interleave all the callables of the case (so a noisy neighbour on the machine
hits them alike), and the best round of each counts.
"""

from __future__ import annotations

import gc
import importlib.util
import pathlib
import sys
import sysconfig
import time
from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]


def load_extension(name: str, path: pathlib.Path):
    """The extension module in `path`, loaded under `name` without touching
    sys.path (so it may sit beside a module of the same name)."""
    module_spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def load_built(name: str, path: pathlib.Path):
    """A bench-only module built by `make bench`; stops the run when it is missing."""
    if not path.exists():
        raise SystemExit(f"{path} is missing: run `make bench` (it builds the floors first)")
    return load_extension(name, path)


def available(name: str) -> bool:
    """Whether a rival library can be imported here."""
    return importlib.util.find_spec(name) is not None


def editable_build() -> pathlib.Path:
    """The meson build folder of the modules this interpreter imports
    (build/editable, or build/editable-X.Y for another interpreter)."""
    import _coordtext

    here = pathlib.Path(_coordtext.__file__).resolve()
    return next((p for p in here.parents if (p / "build.ninja").exists()), ROOT / "build" / "editable")


def load_floor():
    """The floor module, built by `make bench` (in the editable build of the
    running interpreter)."""
    floor_dir = editable_build() / "bench" / "floor"
    return load_built("_akfloor", floor_dir / f"_akfloor{sysconfig.get_config_var('EXT_SUFFIX')}")


@dataclass
class Case:
    """One function at one size, with everything it is measured against."""

    function: str                       # exported name, e.g. "parse_xyz_block_rs"
    n: int                              # lines or rows per call
    ours: Callable[[], Any]
    floors: dict[str, Callable[[], Any]] = field(default_factory=dict)
    rivals: dict[str, Callable[[], Any]] = field(default_factory=dict)
    # agree(rival name, our result, its result) raises AssertionError with a
    # reason when they differ; the floors are checked the same way.
    agree: Callable[[str, Any, Any], None] | None = None
    variant: str = ""                   # e.g. "selective", "atom-major"
    seconds: dict[str, float] = field(default_factory=dict)

    @property
    def name(self) -> str:
        return f"{self.function} ({self.variant})" if self.variant else self.function

    @property
    def floor(self) -> float:
        return min((self.seconds[f"floor: {k}"] for k in self.floors), default=float("nan"))

    def ratio(self, rival: str) -> float:
        """How many times faster ours is than the rival."""
        return self.seconds[rival] / self.seconds["ours"]


def check_agreement(case: Case) -> None:
    if case.agree is None:
        return
    ours = case.ours()
    for name, fn in {**{f"floor: {k}": f for k, f in case.floors.items()}, **case.rivals}.items():
        try:
            case.agree(name, ours, fn())
        except AssertionError as exc:
            raise AssertionError(f"{case.name} at n={case.n}: {name} disagrees: {exc}") from None


def _batch(fn: Callable[[], Any], k: int) -> float:
    """Seconds per call over k calls. Each result is dropped as soon as it is
    made, as a caller who uses it and moves on would, so its release is part
    of the time and its memory goes back to the allocator for the next call."""
    start = time.perf_counter()
    for _ in range(k):
        fn()
    return (time.perf_counter() - start) / k


def measure(case: Case, rounds: int = 5, batch_seconds: float = 0.05, slow_seconds: float = 0.5,
            budget_seconds: float | None = None) -> Case:
    """Best seconds per call of every callable of the case, interleaved.

    Each round runs every callable once as a batch of k calls (k chosen so
    that a batch takes about batch_seconds); callables slower than
    slow_seconds a call take part in two rounds only. With budget_seconds, a
    callable also leaves the rounds once its timed calls (the first
    included) add up to that. The garbage collector is off while a batch
    runs, as in timeit.
    """
    callables = {"ours": case.ours, **{f"floor: {k}": f for k, f in case.floors.items()}, **case.rivals}
    first = {name: _batch(fn, 1) for name, fn in callables.items()}
    repeat = {name: max(1, int(batch_seconds / max(t, 1e-9))) for name, t in first.items()}
    best = dict(first)
    spent = dict(first)
    names = list(callables)
    for r in range(rounds):
        for name in names[r % len(names):] + names[:r % len(names)]:
            if r >= 2 and first[name] > slow_seconds:
                continue
            if budget_seconds is not None and spent[name] >= budget_seconds:
                continue
            gc.collect()
            gc.disable()
            try:
                seconds = _batch(callables[name], repeat[name])
            finally:
                gc.enable()
            best[name] = min(best[name], seconds)
            spent[name] += seconds * repeat[name]
    case.seconds = best
    return case


def path_rivals(floor, run: Callable[[str], Any]) -> dict[str, Callable[[], Any]]:
    """The same call on each code path the machine supports ("path sse2",
    ...), through the floors' module: timed beside ours and checked against
    it, so that every path is shown to give the same result."""
    return {f"path {name}": (lambda name=name: run(name)) for name in floor.paths()}


# --- agreement helpers ------------------------------------------------------

def same_array(ours, theirs, what: str = "values", ulps: int = 0) -> None:
    ours = np.asarray(ours)
    theirs = np.asarray(theirs)
    if ours.shape != theirs.shape:
        raise AssertionError(f"{what}: shape {theirs.shape} != {ours.shape}")
    if ulps == 0:
        if not np.array_equal(ours, theirs):
            bad = np.argwhere(ours != theirs)[0]
            raise AssertionError(f"{what}: differ first at {tuple(bad)}: {theirs[tuple(bad)]!r} != {ours[tuple(bad)]!r}")
        return
    spacing = np.spacing(np.abs(ours.astype(np.float64)))
    if not np.all(np.abs(theirs - ours) <= ulps * spacing):
        raise AssertionError(f"{what}: more than {ulps} ulp apart")


def same(ours, theirs, what: str) -> None:
    if ours != theirs:
        raise AssertionError(f"{what} differ")


def fmt_seconds(t: float) -> str:
    if t != t:
        return "-"
    if t < 1e-6:
        return f"{t * 1e9:.0f} ns"
    if t < 1e-3:
        return f"{t * 1e6:.1f} us"
    if t < 1:
        return f"{t * 1e3:.2f} ms"
    return f"{t:.2f} s"


def load_baseline_modules(folder: pathlib.Path) -> dict[str, Any]:
    """Extension modules of an earlier build (for before/after runs), loaded
    beside the current ones under their own names."""
    modules = {}
    for name in ("_coordtext", "_atomlines", "_cellgeom"):
        found = sorted(folder.glob(f"{name}.*so"))
        if not found:
            continue
        modules[name] = load_extension(name, found[0])
    return modules


def ensure_paths() -> None:
    for path in (ROOT, ROOT / "tests"):
        if str(path) not in sys.path:
            sys.path.insert(0, str(path))
