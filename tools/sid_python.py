#!/usr/bin/env python3
"""Make a runnable CPython of Debian sid's build in a private prefix and
print the path of its interpreter.

    sid_python.py [--refresh] VERSION        e.g. 3.14 or 3.15 (amd64 only)

The interpreter, its -dev and -venv packages and the libraries they need (a
newer glibc among them) are fetched with debian_sid.py and unpacked into
$ATOMKERNELS_SID_PYTHONS/VERSION (default: beside debian_sid.py's cache,
~/.cache/atomkernels/sid-pythons/VERSION). Then:
  - the interpreter is pointed at the prefix's own dynamic loader, and given
    an RPATH (not RUNPATH: it also applies to what the extension modules
    load) of the prefix's library folders;
  - include/pythonX.Y/pyconfig.h, which only includes the multiarch copy by a
    path relative to /usr/include, is replaced by that copy;
  - the build's WHEEL_PKG_DIR (where ensurepip, and so `-m venv`, looks for
    pip) is pointed at the prefix's wheels, and its INCLUDEPY at the
    prefix's headers.
The result is checked by running it (version, standard extension modules,
venv with pip); only then is it marked complete. A complete prefix is reused
as it is (a second run takes well under a second); --refresh rebuilds it.
Concurrent runs are serialised by a lock file. Any failure exits non-zero.
patchelf is installed with apt-get when missing and we are root.
"""

from __future__ import annotations

import argparse
import fcntl
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import debian_sid  # noqa: E402

ARCH, TRIPLET = "amd64", "x86_64-linux-gnu"
# Pulled in by the closure but not needed to run or build against the
# interpreter: headers and tools of the C library (builds use the machine's
# own compiler and C library), debconf, and data the interpreter reads by
# absolute path from the machine anyway (/etc, /usr/share/zoneinfo).
EXCLUDE = ("libc6-dev", "libc-dev-bin", "linux-libc-dev", "libexpat1-dev", "zlib1g-dev", "debconf",
           "tzdata", "media-types", "netbase", "ca-certificates", "openssl")
# Bump when the way a prefix is made changes, so old prefixes are rebuilt.
LAYOUT = "2"


def prefix_root() -> pathlib.Path:
    if os.environ.get("ATOMKERNELS_SID_PYTHONS"):
        return pathlib.Path(os.environ["ATOMKERNELS_SID_PYTHONS"])
    return debian_sid.cache_dir().parent / "sid-pythons"


def run(cmd: list[str], what: str) -> str:
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise debian_sid.Failure(f"{what} failed ({' '.join(cmd)}):\n{done.stdout}{done.stderr}".rstrip())
    return done.stdout


def ensure_patchelf() -> str:
    found = shutil.which("patchelf")
    if found:
        return found
    if os.geteuid() != 0 or shutil.which("apt-get") is None:
        raise debian_sid.Failure("patchelf not found (apt-get install patchelf)")
    print("sid_python: installing patchelf", file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    for cmd in (["apt-get", "update", "-qq"],
                ["apt-get", "install", "-y", "-qq", "-o", "DPkg::Lock::Timeout=600", "patchelf"]):
        done = subprocess.run(cmd, capture_output=True, text=True, env=env)
        if done.returncode != 0:
            raise debian_sid.Failure(f"{' '.join(cmd)} failed:\n{done.stderr.strip()}")
    return shutil.which("patchelf") or "/usr/bin/patchelf"


def replace_once(path: pathlib.Path, old: str, new: str) -> int:
    text = path.read_text(encoding="utf-8")
    if old not in text:
        return 0
    path.write_text(text.replace(old, new), encoding="utf-8")
    return 1


def make_prefix(version: str, prefix: pathlib.Path) -> list[str]:
    """Unpacks and adjusts the prefix; returns the package manifest."""
    patchelf = ensure_patchelf()
    if prefix.exists():
        shutil.rmtree(prefix)
    py = f"python{version}"
    out = subprocess.run([sys.executable, str(pathlib.Path(debian_sid.__file__)), "fetch", "--arch", ARCH,
                          "--dest", str(prefix), *[a for x in EXCLUDE for a in ("--exclude", x)],
                          py, f"{py}-dev", f"{py}-venv"], stdout=subprocess.PIPE, text=True)
    if out.returncode != 0:
        raise debian_sid.Failure(f"fetching {py} from Debian sid failed (see above)")
    usr = prefix / "usr"
    libdir = usr / "lib" / TRIPLET
    loader = libdir / "ld-linux-x86-64.so.2"
    exe = usr / "bin" / py
    for needed in (loader, exe, libdir / "libc.so.6"):
        if not needed.exists():
            raise debian_sid.Failure(f"{needed} missing after unpacking")
    run([patchelf, "--set-interpreter", str(loader), "--force-rpath", "--set-rpath",
         f"{libdir}:{prefix / 'lib' / TRIPLET}", str(exe)], "patchelf")

    include = usr / "include" / py
    multiarch = usr / "include" / TRIPLET / py / "pyconfig.h"
    if not multiarch.exists():
        raise debian_sid.Failure(f"{multiarch} missing")
    (include / "pyconfig.h").unlink()
    shutil.copyfile(multiarch, include / "pyconfig.h")

    wheels = usr / "share" / "python-wheels"
    if not any(wheels.glob("pip-*.whl")):
        raise debian_sid.Failure(f"no pip wheel in {wheels}")
    # The build's variables come as a module and as JSON, some by symlink.
    # Build tools read INCLUDEPY too: left at /usr/include it would pick up
    # another copy of the headers on a machine that has one.
    files = {f.resolve() for f in (usr / "lib" / py).glob("_sysconfig*")}
    for key, old, new in (("WHEEL_PKG_DIR", "/usr/share/python-wheels/", f"{wheels}/"),
                          ("INCLUDEPY", f"/usr/include/{py}", str(include)),
                          ("CONFINCLUDEPY", f"/usr/include/{py}", str(include))):
        if not sum(replace_once(f, f"{q}{key}{q}: {q}{old}{q}", f"{q}{key}{q}: {q}{new}{q}")
                   for f in files for q in "'\""):
            raise debian_sid.Failure(f"{key} = {old} not found in {usr / 'lib' / py}/_sysconfig*")
    return out.stdout.splitlines()


CHECK = """
import sys, sysconfig, pathlib
import ssl, sqlite3, ctypes, lzma, bz2, zlib, _decimal, readline, uuid, venv, ensurepip
want, prefix = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
got = "%d.%d" % sys.version_info[:2]
assert got == want, f"runs as {got}, not {want}"
assert pathlib.Path(sys.base_prefix).resolve() == prefix / "usr", sys.base_prefix
inc = pathlib.Path(sysconfig.get_paths()["include"]).resolve()
assert inc == prefix / "usr" / "include" / f"python{want}", inc
assert "linux-gnu/python" not in (inc / "pyconfig.h").read_text(), "pyconfig.h still includes the multiarch copy"
assert pathlib.Path(sysconfig.get_config_var("INCLUDEPY")).resolve() == inc, sysconfig.get_config_var("INCLUDEPY")
wheels = sysconfig.get_config_var("WHEEL_PKG_DIR")
assert pathlib.Path(wheels).resolve() == prefix / "usr" / "share" / "python-wheels", wheels
print(sys.version.split()[0])
"""


def check(exe: pathlib.Path, version: str, prefix: pathlib.Path) -> str:
    """Runs the interpreter: imports, paths, and a venv with pip."""
    full = run([str(exe), "-I", "-c", CHECK, version, str(prefix)], f"checking {exe}").strip()
    with tempfile.TemporaryDirectory(prefix="sid-python-venv-") as tmp:
        run([str(exe), "-I", "-m", "venv", tmp], f"{exe} -m venv")
        run([f"{tmp}/bin/python", "-m", "pip", "--version"], "pip in a new venv")
    return full


def ensure(version: str, refresh: bool) -> pathlib.Path:
    root = prefix_root()
    root.mkdir(parents=True, exist_ok=True)
    prefix = root / version
    exe = prefix / "usr" / "bin" / f"python{version}"
    stamp = prefix / ".complete"
    with open(root / f"{version}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not refresh and stamp.exists() and stamp.read_text().startswith(f"layout {LAYOUT}\n"):
            # A quick sign that the prefix still runs (nothing moved or was
            # half removed); the full check ran when it was made.
            probe = subprocess.run([str(exe), "-I", "-c", "pass"], capture_output=True)
            if probe.returncode == 0:
                return exe
            print(f"sid_python: {prefix} no longer runs; making it again", file=sys.stderr)
        stamp.unlink(missing_ok=True)
        manifest = make_prefix(version, prefix)
        full = check(exe, version, prefix)
        size = sum(f.stat().st_size for f in prefix.rglob("*") if f.is_file() and not f.is_symlink())
        print(f"sid_python: Python {full} ready in {prefix} ({size / 1e6:.0f} MB)", file=sys.stderr)
        stamp.write_text(f"layout {LAYOUT}\npython {full}\n" + "\n".join(manifest) + "\n")
    return exe


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(prog="sid_python.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--refresh", action="store_true", help="make the prefix again")
    parser.add_argument("version", help="X.Y, a version sid packages as pythonX.Y")
    args = parser.parse_args(argv)
    if not re.fullmatch(r"3\.\d+", args.version):
        parser.error(f"not a Python version: {args.version!r}")
    try:
        print(ensure(args.version, args.refresh))
    except debian_sid.Failure as e:
        print(f"sid_python: error: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
