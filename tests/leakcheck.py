"""Shared leak check: run a table of calls many times and require that the
reference counts of the arguments, the traced Python memory and the resident
size stay flat. Each call is (fn, args, kwargs, expected exception or None)."""

from __future__ import annotations

import gc
import os
import sys
import tracemalloc


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run_calls(calls, rounds: int) -> None:
    """Runs every call `rounds` times; a call that should fail must fail so."""
    for _ in range(rounds):
        for fn, args, kwargs, exc in calls:
            if exc is None:
                fn(*args, **kwargs)
                continue
            try:
                fn(*args, **kwargs)
            except exc:
                pass
            else:
                raise AssertionError(f"{fn.__name__}{args!r:.80} did not raise {exc.__name__}")


def assert_no_leaks(calls, watched, *, traced_limit: int, rss_limit: int, rounds: int = 30) -> None:
    """Warms up, then checks that `rounds` more rounds leave reference counts
    of `watched` unchanged, traced memory within `traced_limit` bytes and the
    resident size (native buffers are not traced) within `rss_limit` bytes."""
    run_calls(calls, 3)
    gc.collect()
    counts = [sys.getrefcount(o) for o in watched]
    rss0 = rss_bytes()
    tracemalloc.start()
    try:
        run_calls(calls, 5)
        gc.collect()
        traced0 = tracemalloc.get_traced_memory()[0]
        run_calls(calls, rounds)
        gc.collect()
        traced1 = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    run_calls(calls, 2 * rounds)
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == counts
    assert traced1 - traced0 < traced_limit
    assert rss_bytes() - rss0 < rss_limit
