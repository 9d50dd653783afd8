#!/usr/bin/env bash
# Installs a wheel into a new virtual environment outside the source tree and
# runs the whole test suite against the installed modules.
#
#   tools/test_wheel.sh PYTHON WHEEL [EXTRA_REQUIREMENT...]
#
# PYTHON creates the environment; the EXTRA_REQUIREMENTs (e.g. numpy==2.1) are
# installed together with the wheel and its test extra, so pip resolves them
# as one set. The tests, stubs, tools, meson.build, pyproject.toml, LICENSE
# and README.md (what the tests compare with and read) are copied into a
# scratch folder, laid out as in an unpacked sdist, so no module can come
# from the checkout; the shared folder beside the checkout, when there is
# one, is linked in for the real-data tests. The scratch folder is removed
# at the end.
set -euo pipefail
python=$1 wheel=$(realpath "$2"); shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/atomkernels-wheeltest.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

"$python" -m venv "$scratch/venv"
py=$scratch/venv/bin/python
"$py" -m pip install --quiet --upgrade pip
"$py" -m pip install --quiet "${wheel}[test]" "$@"

mkdir "$scratch/project"
cp -r "$root/tests" "$root/stubs" "$root/tools" "$root/meson.build" "$root/pyproject.toml" "$root/LICENSE" "$root/README.md" "$scratch/project/"
if [ -d "$root/../shared" ]; then ln -s "$(realpath "$root/../shared")" "$scratch/shared"; fi

cd "$scratch/project"
# Every module must be the wheel's copy in the new environment's site-packages.
"$py" - <<'PY'
import importlib, pathlib, sysconfig
import numpy
site = pathlib.Path(sysconfig.get_paths()["platlib"]).resolve()
for name in ("_coordtext", "_atomlines", "_cellgeom"):
    path = pathlib.Path(importlib.import_module(name).__file__).resolve()
    if site not in path.parents:
        raise SystemExit(f"{name} imported from {path}, not from {site}")
    print(f"{name}: {path}")
print(f"NumPy {numpy.__version__} at run time")
PY
"$py" -m pytest -q -ra -p no:cacheprovider tests
