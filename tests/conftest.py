"""Shared fixtures and the Hypothesis profile.

`realdata`: the folder of real files written by independent projects, read in
place and never copied into the project. ATOMKERNELS_REALDATA names it;
by default it is shared/realdata beside the project checkout. Tests that need
it skip when it is missing, except under CI=true, where they fail: a CI run
must not pass without having read them.

Every property test runs under one Hypothesis profile: no deadline and no
health check that times the data generation, so that a sanitizer build or a
loaded machine cannot fail a test on time alone, and a failure prints the
blob that replays it. The examples stay random (a new seed each run, or
--hypothesis-seed). Loaded here, before any test module makes its settings,
since those inherit from the profile in force when they are made."""

import os
import pathlib

import pytest
from hypothesis import HealthCheck, settings

settings.register_profile("atomkernels", deadline=None, print_blob=True,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("atomkernels")

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
