#!/usr/bin/env python3
"""Which imported symbols decide the manylinux tag of a wheel or a .so.

    python tools/abi_floor.py WHEEL_OR_SO... [--arch x86_64] [--above POLICY]

Lists the versioned symbols the extension modules import (objdump -T) with
the oldest manylinux policy whose symbol-version list allows each, newest
first, so that the lines at the top are the ones that set the floor; symbols
that manylinux_2_12 or the policy given with --above allows are left out. The
policy table is auditwheel's own (the same one `auditwheel show` uses), so
auditwheel must be importable; objdump and c++filt come with binutils.
"""

from __future__ import annotations

import argparse
import collections
import importlib.resources
import json
import pathlib
import platform
import re
import subprocess
import sys
import tempfile
import zipfile

# An undefined dynamic symbol with a version: binutils >= 2.35 puts the
# version in parentheses, older releases do not.
UND_LINE = re.compile(r"\*UND\*\s+[0-9a-fA-F]+\s+\(?([A-Z_]+)_([0-9.]+)\)?\s+(\S+)\s*$")


def parse_objdump(text: str) -> list[tuple[str, str, str]]:
    """(library tag, version, symbol) for each versioned import, e.g.
    ("GLIBCXX", "3.4.29", "_ZSt28__throw_bad_array_new_lengthv")."""
    return [m.groups() for m in map(UND_LINE.search, text.splitlines()) if m]


def load_policies() -> list[dict]:
    ref = importlib.resources.files("auditwheel.policy") / "manylinux-policy.json"
    return json.loads(ref.read_text(encoding="utf-8"))


def oldest_policy(lib: str, version: str, policies: list[dict], arch: str) -> str:
    """The first policy (they are listed oldest first) that allows lib_version
    on arch; "none" when no manylinux policy does."""
    for policy in policies:
        if policy["name"] == "linux":
            continue
        if version in policy["symbol_versions"].get(arch, {}).get(lib, []):
            return policy["name"]
    return "none"


def shared_objects(paths: list[pathlib.Path], scratch: pathlib.Path) -> list[pathlib.Path]:
    found = []
    for path in paths:
        if path.suffix == ".whl":
            with zipfile.ZipFile(path) as wheel:
                for name in wheel.namelist():
                    if name.endswith(".so") or ".so." in name:
                        found.append(pathlib.Path(wheel.extract(name, scratch)))
        else:
            found.append(path)
    return found


def demangle(names: list[str]) -> dict[str, str]:
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True, check=True)
    return dict(zip(names, out.stdout.splitlines()))


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="+", type=pathlib.Path)
    parser.add_argument("--arch", default=platform.machine())
    parser.add_argument("--above", default="manylinux_2_12")
    args = parser.parse_args(argv)

    policies = load_policies()
    rank = {p["name"]: i for i, p in enumerate(policies)}
    rank["none"] = len(policies)
    if args.above not in rank:
        parser.error(f"--above: no policy {args.above!r}")
    # (policy, "LIB_version", symbol) -> modules importing it
    users: dict[tuple[str, str, str], list[str]] = collections.defaultdict(list)
    with tempfile.TemporaryDirectory() as tmp:
        for so in shared_objects(args.paths, pathlib.Path(tmp)):
            dump = subprocess.run(["objdump", "-T", str(so)], capture_output=True, text=True, check=True)
            for lib, version, symbol in parse_objdump(dump.stdout):
                policy = oldest_policy(lib, version, policies, args.arch)
                users[(policy, f"{lib}_{version}", symbol)].append(so.name.split(".")[0])
    if not users:
        print("no versioned imports")
        return 0
    names = demangle(sorted({key[2] for key in users}))
    floor = max((key[0] for key in users), key=rank.__getitem__)
    shown = [key for key in users if rank[key[0]] > rank[args.above]]
    for key in sorted(shown, key=lambda k: (-rank[k[0]], k[1], k[2])):
        policy, version, symbol = key
        print(f"{policy:16} {version:16} {names[symbol]}  [{', '.join(sorted(set(users[key])))}]")
    print(f"floor: {floor}_{args.arch}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
