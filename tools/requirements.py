#!/usr/bin/env python3
"""Print requirements read from pyproject.toml, one per line, so that the
Makefile and CI install exactly what the packaging declares.

    build          the [build-system] requires (for builds without isolation)
    tools          of those, the build tools alone (meson, ninja): enough for
                   the build dirs without the modules (fuzzers, checks)
    extra NAME     the optional dependencies of extra NAME
    oldest NAME    NAME pinned to the lower bound of its runtime requirement
                   for the running interpreter, e.g. numpy>=2.1 gives
                   numpy==2.1 (which matches 2.1.0)

A requirement may carry an environment marker on python_version (e.g.
`numpy>=2.3.2; python_version == '3.14'`); `oldest` takes the one requirement
whose marker holds for the running interpreter. Any other marker is an
error, so that a pin is never taken from a requirement that was misread.
"""

from __future__ import annotations

import operator
import pathlib
import re
import sys
import tomllib

PYPROJECT = pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml"

_COMPARE = {"==": operator.eq, "!=": operator.ne, "<=": operator.le, ">=": operator.ge,
            "<": operator.lt, ">": operator.gt}
_CLAUSE = re.compile(r"""python_version\s*(==|!=|<=|>=|<|>)\s*(['"])(\d+(?:\.\d+)*)\2""")


def marker_holds(marker: str, python: tuple[int, int]) -> bool:
    """Evaluates `python_version OP 'X.Y'` clauses joined by `and`."""
    result = True
    for clause in re.split(r"\s+and\s+", marker.strip()):
        m = _CLAUSE.fullmatch(clause.strip())
        if m is None:
            raise SystemExit(f"unsupported environment marker {marker!r}")
        wanted = tuple(int(p) for p in m.group(3).split("."))
        result = result and _COMPARE[m.group(1)](python[:len(wanted)], wanted)
    return result


def applying(requirement: str, python: tuple[int, ...]) -> str | None:
    """The requirement without its environment marker when the marker holds
    for Python `python` (or there is none); None when it does not apply."""
    wanted, _, marker = requirement.partition(";")
    if marker.strip() and not marker_holds(marker, python):
        return None
    return wanted.strip()


def oldest(requirements: list[str], name: str, python: tuple[int, int] = sys.version_info[:2]) -> str:
    found = []
    for req in requirements:
        m = re.fullmatch(r"\s*([A-Za-z0-9_.-]+)\s*(.*)", req.partition(";")[0])
        if m is None or m.group(1).lower() != name.lower() or applying(req, python) is None:
            continue
        bounds = re.findall(r">=\s*([0-9][0-9A-Za-z.]*)", m.group(2))
        if len(bounds) != 1:
            raise SystemExit(f"{req!r}: expected exactly one '>=' lower bound")
        found.append(f"{m.group(1)}=={bounds[0]}")
    where = f"for Python {python[0]}.{python[1]}"
    if not found:
        raise SystemExit(f"{name} is not a runtime requirement {where} in {PYPROJECT}")
    if len(found) > 1:
        raise SystemExit(f"{name} has {len(found)} runtime requirements {where}: {', '.join(found)}")
    return found[0]


TOOLS = {"meson", "ninja"}


def tools(requirements: list[str]) -> list[str]:
    return [req for req in requirements if re.match(r"\s*([A-Za-z0-9_.-]+)", req).group(1).lower() in TOOLS]


def main(argv: list[str]) -> int:
    project = tomllib.loads(PYPROJECT.read_text(encoding="utf-8"))
    if argv == ["build"]:
        print("\n".join(project["build-system"]["requires"]))
    elif argv == ["tools"]:
        print("\n".join(tools(project["build-system"]["requires"])))
    elif len(argv) == 2 and argv[0] == "extra":
        print("\n".join(project["project"]["optional-dependencies"][argv[1]]))
    elif len(argv) == 2 and argv[0] == "oldest":
        print(oldest(project["project"]["dependencies"], argv[1]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
