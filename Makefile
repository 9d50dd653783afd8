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

.PHONY: demo test bench install clean

$(PY):
	@test -n "$(PYTHON313)" || { echo "Python 3.13 not found (looked for python3.13 on PATH and under pyenv)"; exit 1; }
	$(PYTHON313) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

$(STAMP): $(PY) pyproject.toml
	$(PY) -m pip install --quiet meson-python meson ninja "numpy>=2.0"
	$(PY) -m pip install --quiet --no-build-isolation -Cbuild-dir=build/editable -e '.[test,bench]'
	@touch $(STAMP)

install: $(STAMP)

demo: $(STAMP)
	$(PY) examples/demo.py

test: $(STAMP)
	$(PY) -m pytest -q

bench: $(STAMP)
	$(PY) bench/run.py

clean:
	rm -rf build $(VENV)
