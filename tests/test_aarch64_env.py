"""The offline parts of tools/aarch64_env.py: the wheel tags and platforms it
asks for, the cross file it writes, and the emulated venv's launcher."""

from __future__ import annotations

import configparser
import os
import pathlib
import subprocess

import pytest

from test_packaging import tool


@pytest.fixture(scope="module")
def env():
    return tool("aarch64_env")


@pytest.mark.parametrize("libc6, first, count", [
    ("2.43-7", "manylinux_2_43_aarch64", 27),
    ("2.17-1", "manylinux_2_17_aarch64", 1),
    ("2.36-9+deb12u4", "manylinux_2_36_aarch64", 20),
    ("2.16-0", None, 0),     # older than any manylinux aarch64 wheel
    ("3.0-1", None, 0),
])
def test_wheel_platforms(env, libc6, first, count):
    if first is None:
        with pytest.raises(env.Failure):
            env.wheel_platforms(libc6)
        return
    platforms = env.wheel_platforms(libc6)
    assert (platforms[0], platforms[-1], len(platforms)) == (first, "manylinux_2_17_aarch64", count)


@pytest.mark.parametrize("python, tag", [("3.14", ("cp314", "cp314", "linux_aarch64")),
                                         ("3.15", ("cp315", "cp315", "linux_aarch64"))])
def test_wheel_tag(env, python, tag):
    assert env.wheel_tag(python) == tag


def test_cache_key_follows_every_input(env):
    base = (("python3.14", "libc6"), ("libc6-dev",), ("numpy>=2.1",), ("meson>=1.3",))
    key = env.cache_key(*base)
    assert key == env.cache_key(*base)
    for i in range(len(base)):
        changed = list(base)
        changed[i] = base[i] + ("x",)
        assert env.cache_key(*changed) != key, i


def meson_value(text: str) -> str:
    # The inverse of meson_string for the escapes it makes.
    assert text[0] == text[-1] == "'"
    return text[1:-1].replace("\\'", "'").replace("\\\\", "\\")


@pytest.mark.parametrize("root", ["/cache/sys root", "/o'brien/x", "/back\\slash"])
def test_cross_file_paths_survive_quoting(env, root):
    sysroot = pathlib.Path(root)
    text = env.cross_file(sysroot, sysroot / "bin/python", sysroot / "numpy/include")
    ini = configparser.ConfigParser()
    ini.read_string(text)
    assert meson_value(ini["binaries"]["python"]) == f"{root}/bin/python"
    assert meson_value(ini["properties"]["sys_root"]) == root
    assert meson_value(ini["properties"]["numpy-include-dir"]) == f"{root}/numpy/include"
    assert ini["binaries"]["exe_wrapper"].endswith(env.meson_string(sysroot) + "]")
    assert ini["host_machine"]["cpu_family"] == "'aarch64'"


def test_launcher_runs_the_interpreter_under_the_emulator(env, tmp_path):
    # A stand-in emulator prints what it was given: the sysroot, the
    # launcher's own path as argv[0], the interpreter, then the arguments.
    fake = tmp_path / "fakebin"
    fake.mkdir()
    (fake / "qemu-aarch64-static").write_text('#!/bin/sh\nfor a in "$@"; do printf "%s\\n" "$a"; done\n')
    (fake / "qemu-aarch64-static").chmod(0o755)
    sysroot = tmp_path / "sys root"
    python = env.make_venv(tmp_path / "v env", sysroot, tmp_path / "deps")
    run = subprocess.run([str(python), "-c", "print(1)", "a b", ""], capture_output=True, text=True,
                         env={**os.environ, "PATH": f"{fake}{os.pathsep}{os.environ['PATH']}"}, check=True)
    assert run.stdout.split("\n")[:-1] == ["-L", str(sysroot), "-0", str(python),
                                           str(sysroot / "usr/bin/python3.14"), "-c", "print(1)", "a b", ""]
    site = tmp_path / "v env/lib/python3.14/site-packages"
    assert (site / "aarch64-requirements.pth").read_text() == f"{tmp_path / 'deps'}\n"


def test_requirements_for_the_emulated_interpreter(env):
    # Markers are evaluated for the emulated interpreter, not for the one
    # running the tool.
    pyproject = {"project": {
        "dependencies": ["numpy>=2.1; python_version < '3.14'", "numpy>=2.3.2; python_version == '3.14'",
                         "numpy>=2.5.5; python_version >= '3.15'"],
        "optional-dependencies": {"test": ["pytest>=8", "mypy>=1.10 ; python_version >= '3.14'"]}}}
    assert env.requirements(pyproject, "3.14") == ["numpy>=2.3.2", "pytest>=8", "mypy>=1.10"]
    assert env.requirements(pyproject, "3.13") == ["numpy>=2.1", "pytest>=8"]
