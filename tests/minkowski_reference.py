"""Pure-Python Minkowski reduction, written operation by operation.

Python floats are IEEE doubles and every expression below is evaluated in the
same order as in the native routine, so the results must agree bit for bit.
Integers are wrapped to signed 64 bits after every operation on the operator
and the search coefficients. Division goes through ``_div`` because Python
raises on division by zero where IEEE arithmetic gives an infinity or NaN.

``minkowski_reduce(cell)`` takes a 3x3 nested sequence of floats and returns
``(rcell, op)`` as nested lists; a NaN sort key raises ``NanKeyError``.
"""

import math

LIMIT = 100000
PAIR_SLOTS = 60
OP_SLOTS = 3960
INT64_MIN = -(2**63)
INT64_MAX = 2**63 - 1


class NanKeyError(Exception):
    """The candidate sort met a NaN key (degenerate or non-finite cell)."""


def wrap(x):
    return ((x + 2**63) % 2**64) - 2**63


def _div(a, b):
    if b != 0.0:
        return a / b
    if a != a or a == 0.0:
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def nearest(x):
    """Round half away from zero, saturate to int64, NaN -> 0."""
    if x != x:
        return 0
    if x >= 2.0**63:
        return INT64_MAX
    if x < -(2.0**63):
        return INT64_MIN
    t = math.trunc(x)
    frac = x - t
    if frac >= 0.5:
        t += 1
    elif frac <= -0.5:
        t -= 1
    return t


def dot(p, q):
    return (p[0] * q[0] + p[1] * q[1]) + p[2] * q[2]


def norm(p):
    return math.sqrt(dot(p, p))


def lattice_vector(b, h):
    h0, h1, h2 = float(h[0]), float(h[1]), float(h[2])
    return [((0.0 + h0 * b[0][j]) + h1 * b[1][j]) + h2 * b[2][j] for j in range(3)]


class Ring:
    """Fixed ring of states; never-written slots hold the all-zero state.

    Membership is kept in a multiset of the slot contents so a lookup does not
    scan every slot (the answers are the same as a linear scan).
    """

    def __init__(self, slots, width):
        zero = (0,) * width
        self.entries = [zero] * slots
        self.counts = {zero: slots}
        self.index = 0

    def seen_then_store(self, state):
        state = tuple(state)
        seen = state in self.counts
        old = self.entries[self.index]
        self.counts[old] -= 1
        if not self.counts[old]:
            del self.counts[old]
        self.entries[self.index] = state
        self.counts[state] = self.counts.get(state, 0) + 1
        self.index = (self.index + 1) % len(self.entries)
        return seen


def gauss_reduce(b, h0, h1):
    p, q = list(h0), list(h1)
    history = Ring(PAIR_SLOTS, 6)
    steps = 0
    while steps != LIMIT:
        u = lattice_vector(b, p)
        v = lattice_vector(b, q)
        x = nearest(_div(dot(u, v), dot(u, u)))
        p, q = [wrap(q[j] - wrap(x * p[j])) for j in range(3)], p
        pv = lattice_vector(b, p)
        if dot(pv, pv) >= dot(u, u):
            break
        steps += 1
        if history.seen_then_store(p + q):
            break
    return q, p


def sorted_candidates(a, b):
    entries = []
    for c0 in (-1, 0, 1):
        for c1 in (-1, 0, 1):
            f0, f1 = float(c0), float(c1)
            x = f0 * a[0] + f1 * b[0]
            y = f0 * a[1] + f1 * b[1]
            entries.append((x * x + y * y, x, y, c0, c1))
    if any(e[0] != e[0] for e in entries):
        raise NanKeyError("called `Option::unwrap()` on a `None` value")
    # sorted() is stable and compares only the key here.
    return sorted(entries, key=lambda e: e[0])[:7]


def closest_vector(r, a, b, t0):
    k0 = k1 = 0
    tx, ty = t0
    previous = math.inf
    budget = LIMIT
    while True:
        best, best_d = 0, math.inf
        for i in range(7):
            dx = r[i][1] + tx
            dy = r[i][2] + ty
            d = math.sqrt(dx * dx + dy * dy)
            if d < best_d:
                best, best_d = i, d
        if best == 0 or best_d >= previous:
            break
        key, rx, ry, c0, c1 = r[best]
        m = nearest(_div(-(tx * rx + ty * ry), key))
        k0 = wrap(k0 + wrap(m * c0))
        k1 = wrap(k1 + wrap(m * c1))
        tx = (t0[0] + float(k0) * a[0]) + float(k1) * b[0]
        ty = (t0[1] + float(k0) * a[1]) + float(k1) * b[1]
        previous = best_d
        budget -= 1
        if budget == 0:
            break
    return k0, k1


def minkowski_reduce(cell):
    b = [[float(cell[i][j]) for j in range(3)] for i in range(3)]
    h = [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
    lengths = [norm(b[0]), norm(b[1]), norm(b[2])]
    history = Ring(OP_SLOTS, 9)
    passes = 0
    while True:
        s, l = (1, 0) if lengths[1] < lengths[0] else (0, 1)
        if not lengths[2] < lengths[l]:
            order = (s, l, 2)
        elif not lengths[2] < lengths[s]:
            order = (s, 2, l)
        else:
            order = (2, s, l)
        h = [list(h[k]) for k in order]
        passes += 1

        h[0], h[1] = gauss_reduce(b, h[0], h[1])

        r0 = lattice_vector(b, h[0])
        r1 = lattice_vector(b, h[1])
        r2 = lattice_vector(b, h[2])
        n0 = norm(r0)
        e1 = [_div(r0[j], n0) for j in range(3)]
        g = dot(r1, e1)
        w = [r1[j] - e1[j] * g for j in range(3)]
        nw = norm(w)
        e2 = [_div(w[j], nw) for j in range(3)]
        a = (dot(r0, e1), dot(r0, e2))
        bb = (g, dot(r1, e2))
        t0 = (dot(r2, e1), dot(r2, e2))

        cands = sorted_candidates(a, bb)
        k0, k1 = closest_vector(cands, a, bb, t0)
        h[2] = [wrap(wrap(wrap(k0 * h[0][j]) + wrap(k1 * h[1][j])) + h[2][j]) for j in range(3)]
        r2 = lattice_vector(b, h[2])

        n1 = norm(r1)
        n2 = norm(r2)
        if n2 >= n1:
            break
        if history.seen_then_store(h[0] + h[1] + h[2]):
            break
        if passes == LIMIT:
            break
        lengths = [n0, n1, n2]
    return [r0, r1, r2], [list(row) for row in h]
