"""A tour of atomkernels on a structure of 100,000 atoms.

Each step runs the native function and, next to it, the plain Python code a
user would otherwise write, checks that both agree, and prints both times.
"""

from __future__ import annotations

import time

import numpy as np

import _atomlines
import _cellgeom
import _coordtext

N_ATOMS = 100_000
ELEMENTS = np.array(["H", "C", "N", "O", "Fe", "Si"])


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return result, time.perf_counter() - start


def report(step: str, ours: float, python: float) -> None:
    print(f"  {step:44} {ours * 1e3:9.1f} ms   python {python * 1e3:9.1f} ms   "
          f"{python / ours:6.1f}x")


def make_structure(rng: np.random.Generator):
    cell = np.array([[40.0, 0.0, 0.0], [12.0, 38.0, 0.0], [5.0, 7.0, 45.0]])
    scaled = rng.random((N_ATOMS, 3))
    symbols = ELEMENTS[rng.integers(0, len(ELEMENTS), N_ATOMS)]
    return cell, scaled, scaled @ cell, symbols


def demo_xyz(symbols, positions) -> None:
    print("Plain XYZ")
    sym_list = symbols.tolist()
    text, t_write = timed(lambda: _coordtext.format_xyz_block_rs(sym_list, positions))
    py_text, t_py_write = timed(lambda: "".join(
        "%-2s %22.15f %22.15f %22.15f\n" % (s, x, y, z)
        for s, (x, y, z) in zip(sym_list, positions.tolist())))
    assert text == py_text
    report("write (format_xyz_block_rs)", t_write, t_py_write)

    lines = text.splitlines(keepends=True)
    (syms, pos), t_read = timed(lambda: _coordtext.parse_xyz_block_rs(lines))

    def python_read():
        out_syms, rows = [], []
        for line in lines:
            f = line.split()
            out_syms.append(f[0])
            rows.append([float(f[1]), float(f[2]), float(f[3])])
        return out_syms, np.array(rows)

    (py_syms, py_pos), t_py_read = timed(python_read)
    assert syms == py_syms and np.array_equal(pos, py_pos)
    assert np.allclose(pos, positions, rtol=0, atol=1e-14)
    report("read (parse_xyz_block_rs)", t_read, t_py_read)


def demo_poscar(scaled, rng) -> None:
    print("POSCAR positions with selective dynamics")
    frozen = rng.random((N_ATOMS, 3)) < 0.3
    text, t_write = timed(lambda: _coordtext.format_poscar_positions_rs(scaled, frozen))
    letters = np.where(frozen, "F", "T").tolist()
    py_text, t_py_write = timed(lambda: "".join(
        " %19.16f %19.16f %19.16f   %s   %s   %s\n" % (x, y, z, a, b, c)
        for (x, y, z), (a, b, c) in zip(scaled.tolist(), letters)))
    assert text == py_text
    lines = text.splitlines(keepends=True)
    (pos, flags), t_read = timed(lambda: _coordtext.parse_poscar_positions_rs(lines, True))

    def python_read():
        rows, mask = [], []
        for line in lines:
            f = line.split()
            rows.append([float(v) for v in f[:3]])
            mask.append([flag == "F" for flag in f[3:6]])
        return np.array(rows), np.array(mask)

    (py_pos, py_flags), t_py_read = timed(python_read)
    assert np.array_equal(flags, frozen) and np.array_equal(py_flags, frozen)
    assert np.array_equal(pos, py_pos)
    report("write (format_poscar_positions_rs)", t_write, t_py_write)
    report("read back (parse_poscar_positions_rs)", t_read, t_py_read)


def demo_xdatcar(scaled, rng) -> None:
    print("XDATCAR trajectory, 100 frames")
    frames = [(scaled + 0.001 * k) % 1.0 for k in range(100)]
    blocks, t_write = timed(lambda: [_coordtext.format_xdatcar_config_rs(f, k + 1)
                                     for k, f in enumerate(frames)])
    _, t_py_write = timed(lambda: ["Direct configuration=%6d\n" % (k + 1) + "".join(
        "  %11.8f %11.8f %11.8f\n" % tuple(row) for row in f.tolist())
        for k, f in enumerate(frames[:2])])
    report("write 100 frames (python: 2 frames x 50)", t_write, t_py_write * 50)
    frame_lines = [b.splitlines(keepends=True)[1:] for b in blocks]
    read, t_read = timed(lambda: [_coordtext.parse_xdatcar_coords_rs(ls) for ls in frame_lines])
    for got, want in zip(read, frames):
        assert np.allclose(got, want, rtol=0, atol=5e-9)
    print(f"  read 100 frames back in {t_read * 1e3:.1f} ms; all within 5e-9 of the originals")


def demo_extxyz(symbols, positions, rng) -> None:
    print("Extended XYZ: species, pos:R:3, forces:R:3, tag:I:1, fixed:L:1")
    forces = rng.normal(size=(N_ATOMS, 6))[:, :3]
    tags = rng.integers(-5, 100, (N_ATOMS, 1))
    mask = (rng.random((N_ATOMS, 1)) < 0.5).astype(np.uint8)
    codepoints = symbols.astype("<U2").view(np.uint32).reshape(N_ATOMS, -1)
    floats = np.hstack([positions, forces])
    col_types = b"sffffffib"
    text, t_write = timed(lambda: _atomlines.write_atoms_rs(
        codepoints, 2, floats, tags, mask, col_types))

    def python_write():
        return "".join(
            "%-2s" % s + "".join(" %16.8f" % v for v in f) + " %8d" % t + ("  T" if b else "  F") + "\n"
            for s, f, t, b in zip(symbols.tolist(), floats.tolist(), tags[:, 0].tolist(),
                                  mask[:, 0].tolist()))

    py_text, t_py_write = timed(python_write)
    assert text == py_text
    report("write (write_atoms_rs)", t_write, t_py_write)
    lines = text.splitlines(keepends=True)
    cols, t_read = timed(lambda: _atomlines.read_atom_lines_rs(lines, col_types))
    assert cols["strs"][0] == symbols.tolist()
    assert np.array_equal(cols["ints"], tags) and np.array_equal(cols["bools"], mask)
    assert np.allclose(cols["floats"], floats, rtol=0, atol=5e-9)
    print(f"  read back (read_atom_lines_rs)               {t_read * 1e3:9.1f} ms; "
          "ints, bools and strings exact, floats to 8 digits")


def demo_cell(cell, scaled) -> None:
    print("Cell geometry")
    skewed = np.array([[1.0, 0.0, 0.0], [5.0, 1.0, 0.0], [3.0, 7.0, 1.0]]) @ cell
    (rcell, op), t = timed(lambda: [_cellgeom.minkowski_reduce_rs(skewed) for _ in range(1000)][-1])
    t /= 1000
    assert np.array_equal(op @ skewed, rcell) or np.allclose(op @ skewed, rcell)
    assert round(abs(np.linalg.det(op))) == 1
    print(f"  minkowski_reduce_rs: row lengths {np.linalg.norm(skewed, axis=1).round(1)} -> "
          f"{np.linalg.norm(rcell, axis=1).round(1)} in {t * 1e6:.2f} us per call")
    prim = (scaled @ cell)[:1000]
    grid = np.array([[i, j, k] for i in range(4) for j in range(4) for k in range(4)], float) @ cell
    sc, t_sc = timed(lambda: _cellgeom.make_supercell_positions_rs(prim, grid, True))
    ref, t_np = timed(lambda: (prim[None] + grid[:, None]).reshape(-1, 3))
    assert np.array_equal(sc, ref)
    report(f"4x4x4 supercell of 1000 atoms ({len(sc)} rows)", t_sc, t_np)
    print("    (the baseline here is NumPy broadcasting, not a Python loop)")


def main() -> None:
    rng = np.random.default_rng(2026)
    cell, scaled, positions, symbols = make_structure(rng)
    print(f"atomkernels demo: {N_ATOMS} atoms\n")
    demo_xyz(symbols, positions)
    demo_poscar(scaled, rng)
    demo_xdatcar(scaled, rng)
    demo_extxyz(symbols, positions, rng)
    demo_cell(cell, scaled)
    print("\nAll round trips checked.")


if __name__ == "__main__":
    main()
