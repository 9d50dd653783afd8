"""Peak resident memory of each reader beyond its input, against the size of
its output. Each reader runs in a child interpreter: the input is built,
the kernel's high-water mark is reset (/proc/self/clear_refs), the reader
runs once, and the growth of the high-water mark over the resident size
before the call is compared with the bytes of the result (arrays, lists and
their distinct str objects)."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap

from bench.common import ROOT

CHILD = textwrap.dedent("""
    import gc, json, sys
    import numpy as np
    sys.path.insert(0, {root!r})
    from bench import bench_atomlines, bench_coordtext
    import _atomlines, _coordtext as ct

    def status(key):
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024

    def size_of(result):
        if isinstance(result, np.ndarray):
            return result.nbytes
        if isinstance(result, (list, tuple)):
            inner = sum(size_of(x) for x in result if not isinstance(x, str))
            strs = {{id(x): sys.getsizeof(x) for x in result if isinstance(x, str)}}
            return sys.getsizeof(result) + inner + sum(strs.values())
        if isinstance(result, dict):
            return sys.getsizeof(result) + sum(size_of(v) for v in result.values())
        return 0 if result is None else sys.getsizeof(result)

    n = {n}
    which = {which!r}
    if which == "parse_xyz_block_rs":
        syms, pos = bench_coordtext.structure(n)
        lines = ct.format_xyz_block_rs(syms, pos).splitlines(keepends=True)
        call = lambda: ct.parse_xyz_block_rs(lines)
    elif which == "parse_poscar_positions_rs":
        pos = bench_coordtext.fractional(n, 1)
        lines = ct.format_poscar_positions_rs(pos, pos > 0.5).splitlines(keepends=True)
        call = lambda: ct.parse_poscar_positions_rs(lines, True)
    elif which == "parse_xdatcar_coords_rs":
        pos = bench_coordtext.fractional(n, 3)
        lines = ct.format_xdatcar_config_rs(pos, 1).splitlines(keepends=True)[1:]
        call = lambda: ct.parse_xdatcar_coords_rs(lines)
    else:
        s, f, i, b = bench_atomlines.frame(n)
        text = _atomlines.write_atoms_rs(s.view(np.uint32).reshape(n, -1), 2, f, i, b, bench_atomlines.COL_TYPES)
        lines = text.splitlines(keepends=True)
        call = lambda: _atomlines.read_atom_lines_rs(lines, bench_atomlines.COL_TYPES)
    pos = None  # only the lines stay
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status("VmRSS")
    result = call()
    peak = status("VmHWM")
    print(json.dumps({{"grew": peak - before, "output": size_of(result)}}))
""")

READERS = ["parse_xyz_block_rs", "parse_poscar_positions_rs", "parse_xdatcar_coords_rs", "read_atom_lines_rs"]


def measure(which: str, n: int) -> dict:
    script = CHILD.format(root=str(ROOT), n=n, which=which)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def report(n: int) -> list[str]:
    out = ["| reader | output | peak growth | ratio |", "|---|---:|---:|---:|"]
    for which in READERS:
        m = measure(which, n)
        out.append(f"| `{which}` | {m['output'] / 2**20:.1f} MiB | {m['grew'] / 2**20:.1f} MiB | "
                   f"{m['grew'] / m['output']:.2f} |")
    return out
