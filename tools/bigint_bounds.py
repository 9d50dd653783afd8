#!/usr/bin/env python3
"""Bound the big integers of the number code: every one fits its BigUint.

BigUint<N> (frame/pure/src/text/bigint.hpp) holds N 64-bit limbs and never
writes past them; a value that would not fit would give a wrong result. This
script bounds, over every input, the bit length of every value each caller
builds, and checks the bound against 64 * N.

float_parse.cpp, BigUint<64> (4096 bits). compare_with_midpoint(a, qd, b)
scales a * 10^qd and the midpoint (2 mant + 1) * 2^mid_exp above the double b
to integers on one binary exponent: for qd >= 0, a * 5^qd, else
mid * 5^-qd (mid_exp - qd), then shifts the one with the larger binary
exponent up to the other's. Each value only grows, so the final ones are the
largest; their bit lengths are at most

    bits(a) + bits(5^max(qd, 0)) + max(0, a_exp - mid_exp)
    54      + bits(5^max(-qd, 0)) + max(0, mid_exp - a_exp)      (after the - qd)

The first falls and the second rises with mid_exp, so over a range of
candidate doubles b the extremes of b's exponent field give the maximum. The
callers:
  - long_value, more than 19 digits: a below 10^used (used = 20..800 digits
    kept, 801 with the sticky digit), qd = lead_exp - (used - 1) with
    -324 <= lead_exp <= 308, and b within a unit of the value in
    [10^lead_exp, 10^(lead_exp + 1));
  - long_value with at most 19 digits and decimal_bits_slow: a = m < 2^64,
    -342 <= qd <= 308, b within a unit of m * 10^qd in [10^qd, 2^64 * 10^qd).
long_value also builds a digit by digit: below 10^801.

number_format.cpp, BigUint<20> (1280 bits): the integer part mant * 2^e2
(mant < 2^53, e2 <= 971) and the fraction F < 2^n (n <= 1074) times 10^take
(take <= 19) before its top bits are taken off.

As a check on the formula, random inputs are run through a mirror of
compare_with_midpoint on Python integers and their real bit lengths compared
with the bound. Standard library only; runs in about a second:

    python3 tools/bigint_bounds.py
"""

from __future__ import annotations

import random
import struct
import sys

FLOAT_PARSE_BITS = 64 * 64
NUMBER_FORMAT_BITS = 64 * 20
MAX_FIELD = 2046  # 2047 is infinity, for which decide returns before any big integer


def floor_log2_pow10(e: int) -> int:
    return (10**e).bit_length() - 1 if e >= 0 else -((10**-e).bit_length())


def field_of(log2: int) -> int:
    """Exponent field of a double in [2^log2, 2^(log2 + 1)), 0 when subnormal."""
    return min(max(log2 + 1023, 0), MAX_FIELD)


def mid_exp_of(field: int) -> int:
    return (-1074 if field == 0 else field - 1075) - 1


def bound_bits(a_bits: int, qd: int, field: int) -> int:
    """Largest bit length compare_with_midpoint reaches, by the formula above."""
    mid_exp = mid_exp_of(field)
    a_exp = 0
    a = a_bits
    mid = 54
    if qd >= 0:
        a += (5**qd).bit_length()
        a_exp = qd
    else:
        mid += (5**-qd).bit_length()
        mid_exp -= qd
    if a_exp > mid_exp:
        a += a_exp - mid_exp
    else:
        mid += mid_exp - a_exp
    return max(a, mid)


def worst(a_bits: int, qd: int, low_log2: int, high_log2: int) -> int:
    """Worst case for a value in [2^low_log2, 2^(high_log2 + 1)): b one field either side."""
    fields = (field_of(low_log2 - 1), field_of(high_log2 + 1))
    return max(bound_bits(a_bits, qd, f) for f in fields)


def mirror_bits(a: int, qd: int, b: int) -> int:
    """Real largest bit length of compare_with_midpoint(a, qd, b)."""
    field = b >> 52
    fraction = b & ((1 << 52) - 1)
    mant = fraction if field == 0 else fraction | (1 << 52)
    mid = 2 * mant + 1
    mid_exp = mid_exp_of(field)
    a_exp = 0
    if qd >= 0:
        a *= 5**qd
        a_exp = qd
    else:
        mid *= 5**-qd
        mid_exp -= qd
    if a_exp > mid_exp:
        a <<= a_exp - mid_exp
    else:
        mid <<= mid_exp - a_exp
    return max(a.bit_length(), mid.bit_length())


def main() -> int:
    long_worst = (0, None)
    for lead_exp in range(-324, 309):
        low, high = floor_log2_pow10(lead_exp), floor_log2_pow10(lead_exp + 1)
        for used in range(20, 802):
            a_bits = (10**used - 1).bit_length()
            bits = worst(a_bits, lead_exp - (used - 1), low, high)
            if bits > long_worst[0]:
                long_worst = (bits, (lead_exp, used))
    short_worst = (0, None)
    for qd in range(-342, 309):
        bits = worst(64, qd, floor_log2_pow10(qd), floor_log2_pow10(qd) + 64)
        if bits > short_worst[0]:
            short_worst = (bits, qd)
    digits_bits = (10**801 - 1).bit_length()

    # The formula against the real values, on random inputs: b the nearest
    # double to the value, or one either side.
    rng = random.Random(14)
    checked = 0
    while checked < 20000:
        lead_exp = rng.randint(-324, 308)
        used = rng.randint(1, 801)
        a = rng.randrange(10 ** (used - 1), 10**used)
        qd = lead_exp - (used - 1)
        try:
            nearest = a * 10**qd / 1 if qd >= 0 else a / 10**-qd
        except OverflowError:
            continue
        b = max(struct.unpack("<Q", struct.pack("<d", nearest))[0] + rng.randint(-1, 1), 0)
        if b >> 52 > MAX_FIELD:
            continue
        low, high = floor_log2_pow10(lead_exp), floor_log2_pow10(lead_exp + 1)
        assert mirror_bits(a, qd, b) <= worst(a.bit_length(), qd, low, high), (lead_exp, used, b)
        checked += 1

    print(f"float_parse, long tokens: at most {long_worst[0]} bits (lead_exp, used = {long_worst[1]})")
    print(f"float_parse, m < 2^64:    at most {short_worst[0]} bits (qd = {short_worst[1]})")
    print(f"float_parse, the digits:  at most {digits_bits} bits")
    int_part = 53 + 971
    fraction = 1074 + (10**19).bit_length()
    print(f"number_format: integer part {int_part} bits, fraction times 10^19 {fraction} bits")
    ok = max(long_worst[0], short_worst[0], digits_bits) <= FLOAT_PARSE_BITS and max(int_part, fraction) <= NUMBER_FORMAT_BITS
    print(f"verdict: {'every value fits' if ok else 'A VALUE DOES NOT FIT'} "
          f"(BigUint<64> holds {FLOAT_PARSE_BITS} bits, BigUint<20> {NUMBER_FORMAT_BITS})")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
