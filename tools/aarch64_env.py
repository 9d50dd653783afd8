#!/usr/bin/env python3
"""Cross-build the modules for aarch64 and run them under user-mode emulation.

    aarch64_env.py prepare BUILD_DIR   the environment (cached), then BUILD_DIR's
                                       venv, sysroot link and meson cross file
    aarch64_env.py install BUILD_DIR   cross-build the wheel, install it into
                                       BUILD_DIR's venv

The environment, made once and kept under $ATOMKERNELS_AARCH64_CACHE (default
beside debian_sid.py's cache, ~/.cache/atomkernels/aarch64/KEY):
  sysroot/        Debian sid's arm64 interpreter and the libraries it loads
                  (debian_sid.py), its standard library precompiled;
  site-packages/  the runtime and test requirements of pyproject.toml, as
                  aarch64 wheels from PyPI, precompiled;
  host/           a venv of this machine's Python with the build requirements
                  (meson-python, meson, ninja) and `wheel`.
KEY hashes everything the environment is made from, so a change of package
or requirement makes a new one; a complete one is reused as it is.

BUILD_DIR/venv/bin/python is a script that runs the aarch64 interpreter under
qemu-aarch64-static with the sysroot. It is a venv of its own (pyvenv.cfg),
so sys.executable names the script and a test's child interpreter runs
emulated too, without binfmt_misc. Its site-packages holds the project's
wheel and a .pth naming the cached site-packages.

Precompiling matters: an emulated import compiles from source every time
when bytecode is not written, and that took most of a test run. Any failure
(network, hash, build) ends the run with status 1: a CI run must never pass
without having run the tests.
"""

from __future__ import annotations

import argparse
import contextlib
import fcntl
import hashlib
import os
import pathlib
import shlex
import shutil
import subprocess
import sys
import tomllib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import debian_sid  # noqa: E402
from requirements import applying  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
PYTHON = "3.14"
TRIPLET = "aarch64-linux-gnu"
PACKAGES = (f"python{PYTHON}", f"python{PYTHON}-dev", f"python{PYTHON}-venv", f"libpython{PYTHON}",
            "libc6", "libstdc++6")
# The closure brings in the C library's headers and tools (the cross compiler
# has its own), debconf and data files the interpreter does not need to run.
EXCLUDE = ("libc6-dev", "libc-dev-bin", "linux-libc-dev", "libexpat1-dev", "zlib1g-dev", "debconf",
           "tzdata", "media-types", "netbase", "ca-certificates", "openssl")
# Folders of the standard library that no test imports, left uncompiled.
STDLIB_SKIP = r"/(test|tests|idlelib|tkinter|turtledemo)/"
OLDEST_MANYLINUX = 17
# Bump when the way an environment is made changes.
LAYOUT = "1"


class Failure(Exception):
    """A step that failed: ends the run with its message."""


def run(cmd: list[str], what: str, **kw) -> str:
    done = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        raise Failure(f"{what} failed ({shlex.join(cmd)}):\n{done.stdout[-3000:]}{done.stderr[-3000:]}".rstrip())
    return done.stdout


def log(message: str) -> None:
    print(f"aarch64: {message}", file=sys.stderr, flush=True)


# --- What the environment is made from ------------------------------------------

def requirements(pyproject: dict, python: str = PYTHON) -> list[str]:
    """The runtime requirements and the `test` extra (what the suite imports)
    that apply to Python `python`, their markers evaluated for it: pip would
    evaluate them for the interpreter running pip."""
    project = pyproject["project"]
    version = tuple(int(p) for p in python.split("."))
    every = list(project["dependencies"]) + list(project["optional-dependencies"]["test"])
    return [wanted for req in every if (wanted := applying(req, version)) is not None]


def host_requirements(pyproject: dict) -> list[str]:
    return list(pyproject["build-system"]["requires"]) + ["wheel"]


def wheel_platforms(glibc_version: str) -> list[str]:
    """pip --platform values for wheels the sysroot's C library can load:
    every manylinux tag from the newest it allows down to 2.17 (manylinux2014).
    glibc_version is the Debian version of libc6, e.g. 2.43-7."""
    major, minor = (int(x) for x in glibc_version.split("-")[0].split(".")[:2])
    if major != 2 or minor < OLDEST_MANYLINUX:
        raise Failure(f"libc6 {glibc_version}: expected glibc 2.{OLDEST_MANYLINUX} or newer")
    return [f"manylinux_2_{m}_aarch64" for m in range(minor, OLDEST_MANYLINUX - 1, -1)]


def wheel_tag(python: str) -> tuple[str, str, str]:
    """The (python, abi, platform) tags of a wheel for the emulated interpreter:
    the wheel is built by this machine's Python, whose tags it would carry."""
    major, minor = python.split(".")
    return f"cp{major}{minor}", f"cp{major}{minor}", "linux_aarch64"


def cache_key(packages, exclude, reqs, host_reqs) -> str:
    text = "\n".join([LAYOUT, PYTHON, *packages, "--", *exclude, "--", *reqs, "--", *host_reqs])
    return hashlib.sha256(text.encode()).hexdigest()[:16]


def cache_root() -> pathlib.Path:
    if os.environ.get("ATOMKERNELS_AARCH64_CACHE"):
        return pathlib.Path(os.environ["ATOMKERNELS_AARCH64_CACHE"])
    return debian_sid.cache_dir().parent / "aarch64"


# --- Files written for a build directory ------------------------------------------

def meson_string(value: str | os.PathLike) -> str:
    # A meson machine-file string literal.
    return "'" + str(value).replace("\\", "\\\\").replace("'", "\\'") + "'"


def cross_file(sysroot: pathlib.Path, python: pathlib.Path, numpy_include: pathlib.Path) -> str:
    """The meson cross file. `python` is the emulated interpreter: meson runs
    it to learn the extension suffix and install paths, and finds the
    interpreter's headers through its pkg-config file below sys_root. Its
    pyconfig.h includes the architecture's copy by a path under /usr/include,
    so the sysroot's include folder is searched, after the cross compiler's
    own folders (whose C library headers must win)."""
    s = meson_string
    return "\n".join([
        "[binaries]",
        f"c = {s(TRIPLET + '-gcc')}",
        f"cpp = {s(TRIPLET + '-g++')}",
        f"ar = {s(TRIPLET + '-ar')}",
        f"strip = {s(TRIPLET + '-strip')}",
        "pkg-config = 'pkg-config'",
        f"python = {s(python)}",
        f"exe_wrapper = ['qemu-aarch64-static', '-L', {s(sysroot)}]",
        "",
        "[properties]",
        f"sys_root = {s(sysroot)}",
        f"pkg_config_libdir = [{s(sysroot / 'usr/lib' / TRIPLET / 'pkgconfig')}, {s(sysroot / 'usr/share/pkgconfig')}]",
        f"numpy-include-dir = {s(numpy_include)}",
        "",
        "[built-in options]",
        f"cpp_args = ['-idirafter', {s(sysroot / 'usr/include')}]",
        "",
        "[host_machine]",
        "system = 'linux'",
        "cpu_family = 'aarch64'",
        "cpu = 'aarch64'",
        "endian = 'little'",
        "",
    ])


def launcher(sysroot: pathlib.Path) -> str:
    """bin/python of an emulated venv: the interpreter is told the script's
    own path as its argv[0], which makes the script its sys.executable."""
    interpreter = sysroot / "usr/bin" / f"python{PYTHON}"
    return (f"#!/bin/sh\n# The aarch64 interpreter under emulation (tools/aarch64_env.py).\n"
            f"exec qemu-aarch64-static -L {shlex.quote(str(sysroot))} -0 \"$0\" {shlex.quote(str(interpreter))} \"$@\"\n")


def make_venv(venv: pathlib.Path, sysroot: pathlib.Path, deps: pathlib.Path | None) -> pathlib.Path:
    """An emulated venv at `venv` (only the files the interpreter looks at),
    whose site-packages names `deps` in a .pth; returns its bin/python."""
    site = venv / "lib" / f"python{PYTHON}" / "site-packages"
    site.mkdir(parents=True, exist_ok=True)
    (venv / "bin").mkdir(exist_ok=True)
    (venv / "pyvenv.cfg").write_text(f"home = /usr/bin\ninclude-system-site-packages = false\nversion = {PYTHON}\n")
    python = venv / "bin" / "python"
    python.write_text(launcher(sysroot))
    python.chmod(0o755)
    if deps is not None:
        (site / "aarch64-requirements.pth").write_text(f"{deps}\n")
    return python


# --- The cached environment --------------------------------------------------------

@contextlib.contextmanager
def locked(path: pathlib.Path):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "w") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        yield


def build_sysroot(sysroot: pathlib.Path) -> dict[str, str]:
    log(f"fetching Debian sid arm64 {' '.join(PACKAGES)}")
    index = debian_sid.load_index("arm64", False)
    packages = debian_sid.resolve(index, list(PACKAGES), EXCLUDE)
    try:
        debs = debian_sid.fetch_debs(packages)
    except debian_sid.NotFound:
        packages = debian_sid.resolve(debian_sid.load_index("arm64", True), list(PACKAGES), EXCLUDE)
        debs = debian_sid.fetch_debs(packages)
    debian_sid.extract(debs, sysroot)
    # sid's packages put everything under /usr; the loader named in every
    # binary is /lib/ld-linux-aarch64.so.1.
    for name in ("bin", "lib", "sbin"):
        if not (sysroot / name).exists() and (sysroot / "usr" / name).is_dir():
            (sysroot / name).symlink_to(f"usr/{name}")
    return {p.name: p.version for p in packages}


def compile_all(python: pathlib.Path, *args: str) -> None:
    # compileall writes bytecode whatever PYTHONDONTWRITEBYTECODE says.
    run([str(python), "-m", "compileall", "-q", "-j", "0", *args], "precompiling under emulation")


def prepare_cache(root: pathlib.Path, pyproject: dict) -> pathlib.Path:
    reqs, host_reqs = requirements(pyproject), host_requirements(pyproject)
    env = root / cache_key(PACKAGES, EXCLUDE, reqs, host_reqs)
    with locked(root / ".lock"):
        if (env / "complete").exists():
            return env
        if env.exists():
            shutil.rmtree(env)
        sysroot, site, host = env / "sysroot", env / "site-packages", env / "host"
        versions = build_sysroot(sysroot)

        log("host build tools: " + " ".join(host_reqs))
        run([sys.executable, "-m", "venv", str(host)], "making the host venv")
        host_pip = [str(host / "bin/python"), "-m", "pip", "--disable-pip-version-check", "--quiet"]
        run(host_pip + ["install", *host_reqs], "installing the host build tools")

        log("aarch64 wheels: " + " ".join(reqs))
        platforms = [a for p in wheel_platforms(versions["libc6"]) for a in ("--platform", p)]
        run(host_pip + ["install", "--target", str(site), "--only-binary=:all:", "--implementation", "cp",
                        "--python-version", PYTHON, *platforms, *reqs], "fetching the aarch64 wheels")

        log("precompiling the standard library and the wheels (emulated)")
        python = make_venv(env / "probe", sysroot, site)
        compile_all(python, "-x", STDLIB_SKIP, "-s", str(sysroot), "-p", "/",
                    str(sysroot / "usr/lib" / f"python{PYTHON}"))
        compile_all(python, "-x", r"/tests?/", str(site))
        out = run([str(python), "-c", "import platform, numpy; print(platform.machine(), numpy.__version__)"],
                  "running the emulated interpreter")
        log(f"emulated interpreter: {out.strip()}")
        (env / "complete").write_text("".join(f"{k} {v}\n" for k, v in sorted(versions.items())))
    return env


# --- Commands ------------------------------------------------------------------------

def prepare(build: pathlib.Path) -> None:
    pyproject = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))
    env = prepare_cache(cache_root(), pyproject)
    build.mkdir(parents=True, exist_ok=True)
    for name in ("sysroot", "host", "site-packages"):
        link = build / name
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(env / name)
    python = make_venv(build / "venv", env / "sysroot", env / "site-packages")
    numpy_include = env / "site-packages" / "numpy" / "_core" / "include"
    if not (numpy_include / "numpy" / "arrayobject.h").exists():
        raise Failure(f"NumPy's headers not found in {numpy_include}")
    (build / "cross.ini").write_text(cross_file(env / "sysroot", python.resolve(), numpy_include))


def install(build: pathlib.Path) -> None:
    host = build / "host" / "bin" / "python"
    dist = build / "dist"
    shutil.rmtree(dist, ignore_errors=True)
    log("cross-building the wheel")
    run([str(host), "-m", "pip", "--disable-pip-version-check", "wheel", "--no-build-isolation", "--no-deps",
         "--wheel-dir", str(dist), "--config-settings", f"setup-args=--cross-file={(build / 'cross.ini').resolve()}",
         "--config-settings", f"build-dir={(build / 'meson').resolve()}", str(ROOT)],
        "the cross build", env={**os.environ, "PATH": f"{host.parent}:{os.environ['PATH']}"})
    wheels = list(dist.glob("*.whl"))
    if len(wheels) != 1:
        raise Failure(f"expected one wheel in {dist}, found {len(wheels)}")
    python_tag, abi_tag, platform_tag = wheel_tag(PYTHON)
    run([str(host), "-m", "wheel", "tags", "--remove", "--python-tag", python_tag, "--abi-tag", abi_tag,
         "--platform-tag", platform_tag, str(wheels[0])], "retagging the wheel")
    wheel, = dist.glob(f"*-{python_tag}-{abi_tag}-{platform_tag}.whl")
    site = build / "venv" / "lib" / f"python{PYTHON}" / "site-packages"
    run([str(host), "-m", "pip", "--disable-pip-version-check", "--quiet", "install", "--no-deps", "--upgrade",
         "--target", str(site), "--only-binary=:all:", "--implementation", "cp", "--python-version", PYTHON,
         "--platform", platform_tag, str(wheel)], "installing the wheel")
    log(f"installed {wheel.name}")


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(prog="aarch64_env.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=("prepare", "install"))
    parser.add_argument("build_dir", type=pathlib.Path)
    args = parser.parse_args(argv)
    try:
        (prepare if args.command == "prepare" else install)(args.build_dir.resolve())
    except (Failure, debian_sid.Failure) as e:
        print(f"aarch64: error: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
