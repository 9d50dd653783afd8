"""The exact comparison the reference tests rely on (tests/exact.py), and the
trajectory benchmark's rivals checked against ours on a few small frames."""

import math
import pathlib

import numpy as np
import pytest

from exact import assert_same, difference

NEG_NAN = -math.nan
PAYLOAD_NAN = np.array([0x7FF8000000000001], dtype=np.uint64).view(np.float64)[0].item()


@pytest.mark.parametrize("got, want, any_nan, same", [
    ([[float("nan")]], [[float("nan")]], False, True),        # two NaN objects
    ([NEG_NAN], [math.nan], False, False),                    # the sign of a NaN
    ([PAYLOAD_NAN], [math.nan], False, False),                # its payload
    ([NEG_NAN, PAYLOAD_NAN], [math.nan, math.nan], True, True),
    ([-0.0], [0.0], False, False),
    ([-0.0], [0.0], True, False),                             # zero signs count even then
    ((1.0, None), (1.0, None), False, True),
    ((1.0, None), [1.0, None], False, False),                 # tuple against list
    ([1], [1.0], False, False),                               # int against float
    ([1], [True], False, False),
    ({"a": [1.0], "b": []}, {"b": [], "a": [1.0]}, False, False),   # key order
    (np.array([np.nan, -0.0]), np.array([np.nan, -0.0]), False, True),
    (np.array([NEG_NAN]), np.array([np.nan]), False, False),
    (np.array([NEG_NAN]), np.array([np.nan]), True, True),
    (np.array([0.0, -0.0]), np.array([0.0, 0.0]), False, False),
    (np.zeros((2, 3)), np.zeros((3, 2)), False, False),
    (np.zeros(3), np.zeros(3, np.float32), False, False),
    (np.zeros(3), [0.0, 0.0, 0.0], False, False),
    (np.zeros((2, 3))[:, ::2], np.zeros((2, 2)), False, True),  # layouts do not matter
])
def test_exact_comparison(got, want, any_nan, same):
    assert (difference(got, want, any_nan) is None) == same


def test_difference_names_the_first_element():
    assert difference({"floats": [[1.0, -0.0]]}, {"floats": [[1.0, 0.0]]}) == (
        "result['floats'][0][1]: -0.0 (bits 0x8000000000000000) != 0.0 (bits 0x0000000000000000)")
    assert difference(np.array([[1.0, 2.0]]), np.array([[1.0, 3.0]])).startswith("result[0, 1]: 2.0")
    with pytest.raises(AssertionError, match=r"^result\[1\]: 2 \(int\) != 3 \(int\)$"):
        assert_same([1, 2], [1, 3])


ROOT = pathlib.Path(__file__).resolve().parents[1]


@pytest.mark.skipif(not (ROOT / "bench" / "bench_trajectory.py").exists(), reason="no bench/ beside the tests")
@pytest.mark.parametrize("atoms", [1, 3])
def test_trajectory_rivals_agree_with_ours(atoms, monkeypatch):
    # Every frame is checked (the benchmark checks a sample), and each timed
    # loop runs once.
    monkeypatch.syspath_prepend(str(ROOT))
    bench_trajectory = pytest.importorskip("bench.bench_trajectory")
    monkeypatch.setattr(bench_trajectory, "ATOMS", [atoms])
    monkeypatch.setattr(bench_trajectory, "CHECKED_FRAMES", 6)
    found = list(bench_trajectory.cases(frames=6))
    assert [c.function for c in found] == [f for pair in bench_trajectory.FORMATS.values() for f in pair]
    for case in found:
        case.check()
        assert case.n == 6 * atoms
        for run in (case.ours, *case.rivals.values()):
            assert run() is None
