"""Trajectory cases: a whole trajectory read and written frame by frame, one
call a frame, as a host runs its loop.

Each format gets one list of lines for the whole file (headers included);
the reader is given each frame's atom lines sliced from that list, and the
writer each frame's arrays, one call a frame. The rivals run the same loop
with a plain Python frame reader (split and float per line) or numpy.loadtxt
on the same slice, and with a `%`-format Python loop or numpy.savetxt to a
StringIO (given the object table it needs, built in the loop) for writing.
Per-atom figures divide the time of the whole loop by frames x atoms, so the
cost of each call (argument checks, result arrays) is part of them.

Before timing, every rival is checked against ours on a sample of frames
spread over the trajectory (all frames are made alike); the data of one
format is built when its cases are reached and dropped after them.
"""

from __future__ import annotations

import io
from dataclasses import dataclass
from typing import Any, Callable, Iterator

import numpy as np

import _atomlines
import _coordtext as ct

from bench.bench_atomlines import SYMBOLS, TRUE_WORDS
from bench.bench_coordtext import ELEMENTS
from bench.common import Case, same, same_array

ATOMS = [3, 64, 512]
FRAMES = 10**4
QUICK_FRAMES = 10**3
CHECKED_FRAMES = 50
EXTXYZ_CODES = b"sfffib"  # species, position, an integer tag, a logical flag
EXTXYZ_LINE = "%-2s" + " %16.8f" * 3 + " %8d" + "  %s\n"
EXTXYZ_LOADTXT = [("species", "U2"), ("pos", "f8", (3,)), ("tag", "i8"), ("fixed", "U5")]


@dataclass
class TrajectoryCase(Case):
    atoms: int = 0                      # atoms a frame
    frames: int = 0
    # check(): rivals against ours on a sample of frames; AssertionError names the first difference
    check: Callable[[], None] | None = None

    def release(self) -> None:
        """Drops the callables and with them the trajectory's data."""
        self.ours, self.rivals, self.check = None, {}, None


def moving(base: np.ndarray, frames: int, seed: int, wrap: bool = False) -> np.ndarray:
    """(frames, atoms, 3) positions: base plus small steps, as an MD run gives."""
    steps = np.random.default_rng(seed).normal(scale=0.01, size=(frames, *base.shape))
    out = base + np.cumsum(steps, axis=0)
    return out % 1.0 if wrap else out


def reading(read: Callable[[list[str]], Any], lines: list[str], starts: list[int], k: int):
    def run():
        for s in starts:
            read(lines[s:s + k])
    return run


def writing(write: Callable[[int], Any], frames: int):
    def run():
        for i in range(frames):
            write(i)
    return run


def checker(name: str, per_frame: dict[str, Callable[[int], Any]], agree, sample: list[int]):
    """check() for a case whose per-frame callables take a frame index."""
    def check():
        ours = [per_frame["ours"](i) for i in sample]
        for rival, fn in per_frame.items():
            if rival == "ours":
                continue
            for i, mine in zip(sample, ours):
                try:
                    agree(rival, mine, fn(i))
                except AssertionError as exc:
                    raise AssertionError(f"{name}: {rival} disagrees at frame {i}: {exc}") from None
    return check


def sample_of(frames: int) -> list[int]:
    return sorted({int(i) for i in np.linspace(0, frames - 1, CHECKED_FRAMES)})


def savetxt(table: np.ndarray, fmt: str, header: str = "") -> str:
    out = io.StringIO()
    np.savetxt(out, table, fmt=fmt, header=header, comments="")
    return out.getvalue()


def object_table(*columns) -> np.ndarray:
    """The object table savetxt needs for mixed columns (each of k rows, one
    or more columns wide)."""
    return np.hstack([np.asarray(c, dtype=object).reshape(len(c), -1) for c in columns])


def variant_of(atoms: int) -> str:
    return f"trajectory, {atoms} atoms"


def pair(function_read: str, function_write: str, atoms: int, frames: int, *, lines, starts,
         readers: dict[str, Callable[[list[str]], Any]], agree_read,
         writers: dict[str, Callable[[int], Any]], agree_write) -> list[TrajectoryCase]:
    """The reading and the writing case of one format."""
    sample = sample_of(frames)
    variant = variant_of(atoms)
    read_case = TrajectoryCase(
        function_read, frames * atoms, reading(readers["ours"], lines, starts, atoms),
        rivals={name: reading(fn, lines, starts, atoms) for name, fn in readers.items() if name != "ours"},
        variant=variant, atoms=atoms, frames=frames)
    read_case.check = checker(read_case.name, {name: (lambda i, fn=fn: fn(lines[starts[i]:starts[i] + atoms]))
                                               for name, fn in readers.items()}, agree_read, sample)
    write_case = TrajectoryCase(
        function_write, frames * atoms, writing(writers["ours"], frames),
        rivals={name: writing(fn, frames) for name, fn in writers.items() if name != "ours"},
        variant=variant, atoms=atoms, frames=frames)
    write_case.check = checker(write_case.name, writers, agree_write, sample)
    return [read_case, write_case]


def same_text(name, ours, theirs):
    same(ours, theirs, "texts")


# --- formats ------------------------------------------------------------------

def xyz(atoms: int, frames: int) -> list[TrajectoryCase]:
    rng = np.random.default_rng(10)
    symbols = [ELEMENTS[i] for i in rng.integers(0, len(ELEMENTS), atoms)]
    positions = list(moving(rng.uniform(-20.0, 20.0, (atoms, 3)), frames, 11))
    lines, starts = [], []
    for i, pos in enumerate(positions):
        lines += [f"{atoms}\n", f"frame {i}\n"]
        starts.append(len(lines))
        lines += ct.format_xyz_block_rs(symbols, pos).splitlines(keepends=True)

    def python_frame(block):
        syms, rows = [], []
        for line in block:
            f = line.split()
            syms.append(f[0])
            rows.append((float(f[1]), float(f[2]), float(f[3])))
        return syms, np.array(rows)

    def agree_read(name, ours, theirs):
        if name == "numpy.loadtxt":
            same_array(ours[1], theirs, "positions")
        else:
            same(ours[0], theirs[0], "symbols")
            same_array(ours[1], theirs[1], "positions")

    def percent(i):
        return "".join("%-2s %22.15f %22.15f %22.15f\n" % (s, x, y, z)
                       for s, (x, y, z) in zip(symbols, positions[i].tolist()))

    return pair("parse_xyz_block_rs", "format_xyz_block_rs", atoms, frames, lines=lines, starts=starts,
                readers={"ours": ct.parse_xyz_block_rs, "python loop": python_frame,
                         "numpy.loadtxt": lambda block: np.loadtxt(block, usecols=(1, 2, 3), ndmin=2)},
                agree_read=agree_read,
                writers={"ours": lambda i: ct.format_xyz_block_rs(symbols, positions[i]),
                         "python % loop": percent,
                         "numpy.savetxt": lambda i: savetxt(object_table(symbols, positions[i]),
                                                            "%-2s %22.15f %22.15f %22.15f")},
                agree_write=same_text)


POSCAR_HEADER = ["1.0\n", "  10.0 0.0 0.0\n", "  0.0 10.0 0.0\n", "  0.0 0.0 10.0\n", "Fe\n"]


def poscar(atoms: int, frames: int) -> list[TrajectoryCase]:
    # A run saved as one POSCAR an image (selective dynamics, fixed flags).
    rng = np.random.default_rng(20)
    positions = list(moving(rng.uniform(0.0, 1.0, (atoms, 3)), frames, 21, wrap=True))
    flags = rng.random((atoms, 3)) < 0.5
    lines, starts = [], []
    for i, pos in enumerate(positions):
        lines += [f"image {i}\n", *POSCAR_HEADER, f"{atoms}\n", "Selective dynamics\n", "Direct\n"]
        starts.append(len(lines))
        lines += ct.format_poscar_positions_rs(pos, flags).splitlines(keepends=True)

    def python_frame(block):
        coords, mask = [], []
        for line in block:
            f = line.split()
            coords.append((float(f[0]), float(f[1]), float(f[2])))
            mask.append((f[3] == "F", f[4] == "F", f[5] == "F"))
        return np.array(coords), np.array(mask)

    def agree_read(name, ours, theirs):
        if name == "numpy.loadtxt":
            same_array(ours[0], theirs, "positions")
        else:
            same_array(ours[0], theirs[0], "positions")
            same_array(ours[1], theirs[1], "flags")

    def percent(i):
        letters = np.where(flags, "F", "T").tolist()
        return "".join(" %19.16f %19.16f %19.16f   %s   %s   %s\n" % (x, y, z, a, b, c)
                       for (x, y, z), (a, b, c) in zip(positions[i].tolist(), letters))

    return pair("parse_poscar_positions_rs", "format_poscar_positions_rs", atoms, frames, lines=lines,
                starts=starts,
                readers={"ours": lambda block: ct.parse_poscar_positions_rs(block, True),
                         "python loop": python_frame,
                         "numpy.loadtxt": lambda block: np.loadtxt(block, usecols=(0, 1, 2), ndmin=2)},
                agree_read=agree_read,
                writers={"ours": lambda i: ct.format_poscar_positions_rs(positions[i], flags),
                         "python % loop": percent,
                         "numpy.savetxt": lambda i: savetxt(
                             object_table(positions[i], np.where(flags, "F", "T")),
                             " %19.16f %19.16f %19.16f   %s   %s   %s")},
                agree_write=same_text)


def xdatcar(atoms: int, frames: int) -> list[TrajectoryCase]:
    rng = np.random.default_rng(30)
    positions = list(moving(rng.uniform(0.0, 1.0, (atoms, 3)), frames, 31, wrap=True))
    lines = ["system\n", *POSCAR_HEADER, f"{atoms}\n"]
    starts = []
    for i, pos in enumerate(positions):
        block = ct.format_xdatcar_config_rs(pos, i + 1).splitlines(keepends=True)
        starts.append(len(lines) + 1)
        lines += block

    def python_frame(block):
        return np.array([[float(v) for v in line.split()[:3]] for line in block])

    def percent(i):
        return "Direct configuration=%6d\n" % (i + 1) + "".join(
            "  %11.8f %11.8f %11.8f\n" % (x, y, z) for x, y, z in positions[i].tolist())

    return pair("parse_xdatcar_coords_rs", "format_xdatcar_config_rs", atoms, frames, lines=lines, starts=starts,
                readers={"ours": ct.parse_xdatcar_coords_rs, "python loop": python_frame,
                         "numpy.loadtxt": lambda block: np.loadtxt(block, ndmin=2)},
                agree_read=lambda name, ours, theirs: same_array(ours, theirs, "positions"),
                writers={"ours": lambda i: ct.format_xdatcar_config_rs(positions[i], i + 1),
                         "python % loop": percent,
                         "numpy.savetxt": lambda i: savetxt(positions[i], "  %11.8f %11.8f %11.8f",
                                                            header="Direct configuration=%6d" % (i + 1))},
                agree_write=same_text)


def extxyz(atoms: int, frames: int) -> list[TrajectoryCase]:
    rng = np.random.default_rng(40)
    species = SYMBOLS[rng.integers(0, len(SYMBOLS), atoms)]
    codepoints = species.view(np.uint32).reshape(atoms, -1)
    species_list = species.tolist()
    tags = rng.integers(0, 4, size=(atoms, 1), dtype=np.int64)
    fixed = rng.integers(0, 2, size=(atoms, 1), dtype=np.uint8)
    positions = list(moving(rng.uniform(-20.0, 20.0, (atoms, 3)), frames, 41))
    comment = "Properties=species:S:1:pos:R:3:tag:I:1:fixed:L:1 frame=%d\n"
    lines, starts = [], []
    for i, pos in enumerate(positions):
        lines += [f"{atoms}\n", comment % i]
        starts.append(len(lines))
        lines += _atomlines.write_atoms_rs(codepoints, 2, pos, tags, fixed, EXTXYZ_CODES).splitlines(keepends=True)

    def python_frame(block):
        syms, fs, ks, bs = [], [], [], []
        for line in block:
            t = line.split()
            syms.append(t[0])
            fs.append([float(t[1]), float(t[2]), float(t[3])])
            ks.append(int(t[4]))
            bs.append(t[5] in TRUE_WORDS)
        return syms, np.array(fs), np.array(ks), np.array(bs, dtype=np.uint8)

    def agree_read(name, ours, theirs):
        if name == "numpy.loadtxt":
            theirs = (theirs["species"].tolist(), theirs["pos"], theirs["tag"],
                      np.isin(theirs["fixed"], list(TRUE_WORDS)).astype(np.uint8))
        same(ours["strs"][0], theirs[0], "species")
        same_array(ours["floats"], theirs[1], "positions")
        same_array(ours["ints"][:, 0], theirs[2], "tags")
        same_array(ours["bools"][:, 0], theirs[3], "flags")

    def percent(i):
        rows = zip(species_list, positions[i].tolist(), tags[:, 0].tolist(), fixed[:, 0].tolist())
        return "".join([EXTXYZ_LINE % (s, *f, t, "T" if b else "F") for s, f, t, b in rows])

    return pair("read_atom_lines_rs", "write_atoms_rs", atoms, frames, lines=lines, starts=starts,
                readers={"ours": lambda block: _atomlines.read_atom_lines_rs(block, EXTXYZ_CODES),
                         "python loop": python_frame,
                         "numpy.loadtxt": lambda block: np.loadtxt(block, dtype=EXTXYZ_LOADTXT, ndmin=1)},
                agree_read=agree_read,
                writers={"ours": lambda i: _atomlines.write_atoms_rs(codepoints, 2, positions[i], tags, fixed,
                                                                     EXTXYZ_CODES),
                         "python % loop": percent,
                         "numpy.savetxt": lambda i: savetxt(
                             object_table(species_list, positions[i], tags, np.where(fixed != 0, "T", "F")),
                             EXTXYZ_LINE.rstrip("\n"))},
                agree_write=same_text)


FORMATS = {
    xyz: ("parse_xyz_block_rs", "format_xyz_block_rs"),
    poscar: ("parse_poscar_positions_rs", "format_poscar_positions_rs"),
    xdatcar: ("parse_xdatcar_coords_rs", "format_xdatcar_config_rs"),
    extxyz: ("read_atom_lines_rs", "write_atoms_rs"),
}


def cases(frames: int, only: str = "") -> Iterator[TrajectoryCase]:
    """The cases whose name contains `only`, each format's data built when
    its cases are reached; release() a case once it is measured."""
    for atoms in ATOMS:
        for build, functions in FORMATS.items():
            if any(only in f"{f} ({variant_of(atoms)})" for f in functions):
                yield from (c for c in build(atoms, frames) if only in c.name)
