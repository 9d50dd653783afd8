"""Which build of the modules this suite runs against, and its C++ library.

A run against a second build (`make test-clang`) names it in the
environment: ATOMKERNELS_MODULE_DIR, the folder the modules must come from,
and ATOMKERNELS_CXX_RUNTIME, the soname of the C++ library they must link.
Then a path mistake that falls back to another build, or a compiler that
quietly links the other C++ library, fails here instead of passing the
suite on the wrong modules. Without them, each module must link at most one
C++ library, and that one must be loaded in this process."""

from __future__ import annotations

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import _atomlines
import _cellgeom
import _coordtext

pytestmark = pytest.mark.skipif(sys.platform != "linux", reason="ELF modules and /proc/self/maps")

MODULES = [_coordtext, _atomlines, _cellgeom]
IDS = [m.__name__ for m in MODULES]
CXX_RUNTIMES = {"libstdc++.so.6", "libc++.so.1"}
MODULE_DIR = os.environ.get("ATOMKERNELS_MODULE_DIR")
CXX_RUNTIME = os.environ.get("ATOMKERNELS_CXX_RUNTIME")


def needed(path: str) -> list[str]:
    """The module's DT_NEEDED entries, as objdump (binutils) reads them."""
    objdump = shutil.which("objdump")
    if objdump is None:
        pytest.skip("objdump (binutils) not found")
    out = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    return re.findall(r"^\s*NEEDED\s+(\S+)\s*$", out, flags=re.M)


def loaded(soname: str) -> bool:
    """Whether a file of that soname is mapped into this process. The file
    is usually the one the soname links to: libc++.so.1 -> libc++.so.1.0."""
    with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
        fields = [line.split(maxsplit=5) for line in maps]
    names = {pathlib.PurePath(f[5].strip()).name for f in fields if len(f) == 6}
    return any(name == soname or name.startswith(soname + ".") for name in names)


@pytest.mark.parametrize("module", MODULES, ids=IDS)
def test_module_build_and_its_cxx_runtime(module):
    if MODULE_DIR is not None:
        here = pathlib.Path(module.__file__).resolve()
        assert here.is_relative_to(pathlib.Path(MODULE_DIR).resolve()), here
    runtimes = CXX_RUNTIMES.intersection(needed(module.__file__))
    if CXX_RUNTIME is not None:
        assert runtimes == {CXX_RUNTIME}
    assert len(runtimes) <= 1, runtimes
    assert all(map(loaded, runtimes)), runtimes
