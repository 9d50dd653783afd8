"""Tokens that all share one value of the C++ standard library's 64-bit string
hash (libstdc++'s std::hash<std::string_view>, what the readers' symbol and
string tables once used): the crafted file a reader must still read in time
in proportion to its lines.

That hash is a multiply-xorshift hash with a fixed seed, so it can be solved
word by word: for a 16-byte token, pick the first 8 bytes freely, then the
hash state after them fixes the one second word that lands on a chosen
state. A token is kept when that word's bytes are all allowed (ASCII, no
whitespace, no capital letter past the first byte, so the XYZ reader's
symbol normalisation leaves it unchanged); about one draw in 2,600 is.
"""

from __future__ import annotations

import numpy as np

MASK = (1 << 64) - 1
MUL = 0xC6A4A7935BD1E995
MUL_INVERSE = pow(MUL, -1, 1 << 64)
SEED = 0xC70F6907
WHITESPACE = b"\t\n\x0c\r "
# Token bytes that the readers keep as they are: ASCII without NUL or
# whitespace, and no capital letter (only the first byte is one).
ALLOWED = bytes(b for b in range(1, 128) if b not in WHITESPACE and not 65 <= b <= 90)
TOKEN_SIZE = 16
TARGET_STATE = 0x5EED5EED5EED5EED  # the hash state every token ends its words in


def _shift_mix(v: int) -> int:
    return v ^ (v >> 47)


def std_hash(data: bytes) -> int:
    """std::hash<std::string_view> of libstdc++ on a 64-bit machine."""
    n = len(data)
    h = (SEED ^ (n * MUL)) & MASK
    whole = n & ~7
    for k in range(0, whole, 8):
        word = int.from_bytes(data[k:k + 8], "little")
        h ^= (_shift_mix(word * MUL & MASK) * MUL) & MASK
        h = h * MUL & MASK
    if n & 7:
        h ^= int.from_bytes(data[whole:], "little")
        h = h * MUL & MASK
    h = _shift_mix(h) * MUL & MASK
    return _shift_mix(h)


def colliding_tokens(count: int, first: bytes = b"X", seed: int = 0) -> list[str]:
    """`count` distinct 16-byte tokens starting with `first` (one byte) whose
    std_hash values are all equal."""
    rng = np.random.default_rng(seed)
    allowed = np.frombuffer(ALLOWED, dtype=np.uint8)
    is_allowed = np.zeros(256, dtype=bool)
    is_allowed[allowed] = True
    u = np.uint64
    start = u((SEED ^ (TOKEN_SIZE * MUL)) & MASK)
    # The second word's mixed value that takes the state after the first word
    # to TARGET_STATE: (state ^ mixed) * MUL == TARGET_STATE.
    target = u(TARGET_STATE * MUL_INVERSE & MASK)
    mul, mul_inverse, shift = u(MUL), u(MUL_INVERSE), u(47)
    found: dict[bytes, None] = {}
    while len(found) < count:
        head = allowed[rng.integers(0, allowed.size, size=(1 << 18, 8))]
        head[:, 0] = first[0]
        w1 = head.view("<u8").ravel()
        mixed1 = w1 * mul
        mixed1 = (mixed1 ^ (mixed1 >> shift)) * mul
        state = (start ^ mixed1) * mul
        # Undo the second word's mixing: multiply by the inverse, the
        # xorshift by 47 (its own inverse), the inverse again.
        v = (state ^ target) * mul_inverse
        w2 = (v ^ (v >> shift)) * mul_inverse
        tail = w2.astype("<u8").view(np.uint8).reshape(-1, 8)
        keep = is_allowed[tail].all(axis=1)
        for h, t in zip(head[keep], tail[keep]):
            found[h.tobytes() + t.tobytes()] = None
    tokens = list(found)[:count]
    return [t.decode("ascii") for t in tokens]


def random_tokens(count: int, first: bytes = b"X", seed: int = 0) -> list[str]:
    """`count` distinct tokens of the same size and alphabet, at random."""
    rng = np.random.default_rng(seed)
    allowed = np.frombuffer(ALLOWED, dtype=np.uint8)
    found: dict[bytes, None] = {}
    while len(found) < count:
        rows = allowed[rng.integers(0, allowed.size, size=(count, TOKEN_SIZE))]
        rows[:, 0] = first[0]
        for row in rows:
            found[row.tobytes()] = None
    return [t.decode("ascii") for t in list(found)[:count]]
