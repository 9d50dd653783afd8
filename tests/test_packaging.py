"""The installed distribution's metadata, and the helpers in tools/ that the
packaging targets rely on (which exist only in a source tree or sdist)."""

from __future__ import annotations

import importlib.metadata
import pathlib
import re
import runpy
import sys
import types

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]


def tool(name: str):
    path = ROOT / "tools" / f"{name}.py"
    if not path.exists():
        pytest.skip("tools/ is not beside the tests")
    return types.SimpleNamespace(**runpy.run_path(str(path), run_name=f"tool_{name}"))


def test_distribution_metadata():
    dist = importlib.metadata.distribution("atomkernels")
    meta = dist.metadata
    assert meta["License-Expression"] == "MIT"
    assert meta.get_all("License-File") == ["LICENSE"]
    assert meta["Author"] == "the atomkernels developers"
    # The NumPy the metadata asks for here is the first with wheels for this
    # interpreter (the suite runs on each supported one).
    first_numpy = {(3, 13): "numpy==2.1", (3, 14): "numpy==2.3.2", (3, 15): "numpy==2.5.5"}
    assert tool("requirements").oldest(dist.requires, "numpy") == first_numpy[sys.version_info[:2]]
    licence = [f for f in dist.files if f.parts[-2:] == ("licenses", "LICENSE")]
    assert len(licence) == 1 and licence[0].read_text().startswith("MIT License")
    if (ROOT / "meson.build").exists():
        # One version source: meson's project version is what gets installed.
        declared = re.search(r"version:\s*'([^']+)'", (ROOT / "meson.build").read_text())
        assert meta["Version"] == declared.group(1)
        assert licence[0].read_text() == (ROOT / "LICENSE").read_text()


@pytest.mark.parametrize("requirement, pin", [
    ("numpy>=2.1", "numpy==2.1"),
    ("numpy >= 2.1.3, <3", "numpy==2.1.3"),
    ("NumPy>=2.1", "NumPy==2.1"),
    ("numpy<3,>=2.2rc1", "numpy==2.2rc1"),
    ("numpy", SystemExit),          # no lower bound to test against
    ("numpy>2.1", SystemExit),      # an exclusive bound has no oldest release
    ("numpy>=2.1,>=2.2", SystemExit),
    ("numpyx>=2.1", SystemExit),    # another package is not numpy
])
def test_oldest_pin(requirement, pin):
    oldest = tool("requirements").oldest
    if pin is SystemExit:
        with pytest.raises(SystemExit):
            oldest(["pytest>=8", requirement], "numpy")
    else:
        assert oldest(["pytest>=8", requirement], "numpy") == pin


@pytest.mark.parametrize("requires, kept", [
    (["meson-python>=0.18", "meson>=1.3", "ninja", "numpy>=2.1"], ["meson>=1.3", "ninja"]),
    (["Meson >= 1.4", "ninja>=1.11; sys_platform != 'win32'"], ["Meson >= 1.4", "ninja>=1.11; sys_platform != 'win32'"]),
    (["meson_python", "ninja-build", "mesonbuild"], []),  # other packages, names alike
])
def test_build_tools(requires, kept):
    assert tool("requirements").tools(requires) == kept


def test_build_tools_of_this_project():
    # The fuzz and check build dirs get meson and ninja from these alone.
    requirements = tool("requirements")
    requires = requirements.tomllib.loads(requirements.PYPROJECT.read_text())["build-system"]["requires"]
    assert [re.match(r"[a-z]+", r).group() for r in requirements.tools(requires)] == ["meson", "ninja"]


MARKED = ["numpy>=2.1; python_version < '3.14'", 'numpy>=2.3.2 ; python_version == "3.14"',
          "numpy>=2.5.5; python_version >= '3.15' and python_version < '4'"]


@pytest.mark.parametrize("python, pin", [
    ((3, 12), "numpy==2.1"),
    ((3, 13), "numpy==2.1"),
    ((3, 14), "numpy==2.3.2"),
    ((3, 15), "numpy==2.5.5"),
    ((3, 16), "numpy==2.5.5"),
    ((4, 0), SystemExit),           # no requirement applies
])
def test_oldest_pin_by_python(python, pin):
    oldest = tool("requirements").oldest
    if pin is SystemExit:
        with pytest.raises(SystemExit):
            oldest(MARKED, "numpy", python)
    else:
        assert oldest(MARKED, "numpy", python) == pin


@pytest.mark.parametrize("requirements", [
    ["numpy>=2.1", "numpy>=2.3; python_version >= '3.14'"],    # two apply on 3.14
    ["numpy>=2.1; sys_platform == 'linux'"],                    # a marker it cannot read
    ["numpy>=2.1; python_version >= '3.10' or python_version < '3.0'"],
])
def test_oldest_pin_refuses(requirements):
    with pytest.raises(SystemExit):
        tool("requirements").oldest(requirements, "numpy", (3, 14))


@pytest.mark.parametrize("line, parsed", [
    ("0000000000000000      DF *UND*\t0000000000000000 (GLIBCXX_3.4.29) _ZSt28__throw_bad_array_new_lengthv",
     ("GLIBCXX", "3.4.29", "_ZSt28__throw_bad_array_new_lengthv")),
    ("0000000000000000      DF *UND*\t0000000000000000  GLIBC_2.14  memcpy", ("GLIBC", "2.14", "memcpy")),
    ("0000000000000000  w   D  *UND*\t0000000000000000 (CXXABI_1.3) __cxa_finalize", ("CXXABI", "1.3", "__cxa_finalize")),
    ("0000000000000000      D  *UND*\t0000000000000000  Base        PyLong_AsLong", None),
    ("0000000000001040 g    DF .text\t0000000000000020  Base        PyInit__cellgeom", None),
])
def test_objdump_lines(line, parsed):
    assert tool("abi_floor").parse_objdump(line) == ([parsed] if parsed else [])


POLICIES = [
    {"name": "linux", "symbol_versions": {}},
    {"name": "manylinux_2_17", "symbol_versions": {"x86_64": {"GLIBC": ["2.2.5", "2.14"]},
                                                   "aarch64": {"GLIBC": ["2.17"]}}},
    {"name": "manylinux_2_28", "symbol_versions": {"x86_64": {"GLIBC": ["2.2.5", "2.14", "2.28"],
                                                              "GLIBCXX": ["3.4.24"]}}},
]


@pytest.mark.parametrize("lib, version, arch, policy", [
    ("GLIBC", "2.14", "x86_64", "manylinux_2_17"),   # the oldest allowing it wins
    ("GLIBC", "2.28", "x86_64", "manylinux_2_28"),
    ("GLIBCXX", "3.4.29", "x86_64", "none"),         # newer than every policy
    ("GLIBC", "2.14", "aarch64", "none"),            # versions are per architecture
    ("GLIBC", "2.17", "aarch64", "manylinux_2_17"),
])
def test_oldest_policy(lib, version, arch, policy):
    assert tool("abi_floor").oldest_policy(lib, version, POLICIES, arch) == policy
