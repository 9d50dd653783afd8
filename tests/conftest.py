"""Shared fixtures.

`realdata`: the folder of real files written by independent projects, read in
place and never copied into the project. ATOMKERNELS_REALDATA names it;
by default it is shared/realdata beside the project checkout. Tests that need
it skip when it is missing, except under CI=true, where they fail: a CI run
must not pass without having read them."""

import os
import pathlib

import pytest

REALDATA = pathlib.Path(os.environ.get("ATOMKERNELS_REALDATA")
                        or pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "realdata")


@pytest.fixture
def realdata() -> pathlib.Path:
    if not REALDATA.is_dir():
        message = f"real-data folder {REALDATA} not found (set ATOMKERNELS_REALDATA)"
        if os.environ.get("CI") == "true":
            pytest.fail(message + " and CI=true")
        pytest.skip(message)
    return REALDATA
