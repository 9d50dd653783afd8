#!/usr/bin/env python3
"""Print requirements read from pyproject.toml, one per line, so that the
Makefile and CI install exactly what the packaging declares.

    build          the [build-system] requires (for builds without isolation)
    tools          of those, the build tools alone (meson, ninja): enough for
                   the build dirs without the modules (fuzzers, checks)
    oldest NAME    NAME pinned to the lower bound of its runtime requirement,
                   e.g. numpy>=2.1 gives numpy==2.1 (which matches 2.1.0)
"""

from __future__ import annotations

import pathlib
import re
import sys
import tomllib

PYPROJECT = pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml"


def oldest(requirements: list[str], name: str) -> str:
    for req in requirements:
        m = re.fullmatch(r"\s*([A-Za-z0-9_.-]+)\s*(.*)", req)
        if m is None or m.group(1).lower() != name.lower():
            continue
        bounds = re.findall(r">=\s*([0-9][0-9A-Za-z.]*)", m.group(2))
        if len(bounds) != 1:
            raise SystemExit(f"{req!r}: expected exactly one '>=' lower bound")
        return f"{m.group(1)}=={bounds[0]}"
    raise SystemExit(f"{name} is not a runtime requirement in {PYPROJECT}")


TOOLS = {"meson", "ninja"}


def tools(requirements: list[str]) -> list[str]:
    return [req for req in requirements if re.match(r"\s*([A-Za-z0-9_.-]+)", req).group(1).lower() in TOOLS]


def main(argv: list[str]) -> int:
    project = tomllib.loads(PYPROJECT.read_text(encoding="utf-8"))
    if argv == ["build"]:
        print("\n".join(project["build-system"]["requires"]))
    elif argv == ["tools"]:
        print("\n".join(tools(project["build-system"]["requires"])))
    elif len(argv) == 2 and argv[0] == "oldest":
        print(oldest(project["project"]["dependencies"], argv[1]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
