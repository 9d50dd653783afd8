"""Exact comparison of a result with what a reference computed.

Floats are compared by their bit patterns: a NaN equals a NaN of the same
sign and payload, and -0.0 differs from 0.0. (`==` on lists says NaN differs
from NaN unless both are one object, so a reference comparison holding a NaN
failed or passed by chance.) Arrays are compared by type, dtype, shape and
bytes; lists, tuples and dicts item by item in order; anything else by type
and `==`.

`any_nan=True` accepts any NaN for any NaN, for results whose NaN payload is
left to the machine (the NaN that an addition of two NaNs returns is not
fixed by IEEE 754)."""

from __future__ import annotations

import math
import struct

import numpy as np


def float_bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def _float_text(x: float) -> str:
    return f"{x!r} (bits {float_bits(x):#018x})"


def _array_difference(got: np.ndarray, want: np.ndarray, any_nan: bool, where: str) -> str | None:
    if got.dtype != want.dtype or got.shape != want.shape:
        return f"{where}: {got.dtype}{got.shape} != {want.dtype}{want.shape}"
    if any_nan and got.dtype.kind == "f":
        got, want = got.copy(), want.copy()
        got[np.isnan(got)] = np.nan
        want[np.isnan(want)] = np.nan
    if got.tobytes() == want.tobytes():
        return None
    for index in np.ndindex(got.shape):
        if got[index].tobytes() != want[index].tobytes():
            g, w = got[index].item(), want[index].item()
            if isinstance(g, float):
                return f"{where}{list(index)}: {_float_text(g)} != {_float_text(w)}"
            return f"{where}{list(index)}: {g!r} != {w!r}"
    raise AssertionError("unreachable: the bytes differ but no element does")


def difference(got, want, any_nan: bool = False, where: str = "result") -> str | None:
    """Where `got` first differs from `want`, or None when they are the same."""
    if isinstance(got, np.ndarray) or isinstance(want, np.ndarray):
        if type(got) is not type(want):
            return f"{where}: {type(got).__name__} != {type(want).__name__}"
        return _array_difference(got, want, any_nan, where)
    if isinstance(got, float) and isinstance(want, float):
        if float_bits(got) == float_bits(want) or (any_nan and math.isnan(got) and math.isnan(want)):
            return None
        return f"{where}: {_float_text(got)} != {_float_text(want)}"
    if isinstance(want, (list, tuple)):
        if type(got) is not type(want) or len(got) != len(want):
            return f"{where}: {type(got).__name__} of {len(got) if hasattr(got, '__len__') else '?'} items " \
                   f"!= {type(want).__name__} of {len(want)}"
        for i, (g, w) in enumerate(zip(got, want)):
            found = difference(g, w, any_nan, f"{where}[{i}]")
            if found:
                return found
        return None
    if isinstance(want, dict):
        if type(got) is not dict or list(got) != list(want):
            return f"{where}: keys {list(got) if isinstance(got, dict) else type(got).__name__} != {list(want)}"
        for key in want:
            found = difference(got[key], want[key], any_nan, f"{where}[{key!r}]")
            if found:
                return found
        return None
    if type(got) is not type(want) or got != want:
        return f"{where}: {got!r} ({type(got).__name__}) != {want!r} ({type(want).__name__})"
    return None


def assert_same(got, want, any_nan: bool = False) -> None:
    found = difference(got, want, any_nan)
    assert found is None, found
