"""Cell geometry: Minkowski reduction (exact results, bit-for-bit agreement
with the Python transcription in minkowski_reference.py, failures) and
supercell positions (orders, layouts, size limits)."""

import math
import pathlib
import sys

import numpy as np
import pytest
from hypothesis import assume, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

_cellgeom = pytest.importorskip("_cellgeom")
from _cellgeom import PanicException, make_supercell_positions_rs, minkowski_reduce_rs  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import minkowski_reference as ref  # noqa: E402
from exact import assert_same  # noqa: E402

NAN_KEY = "called `Option::unwrap()` on a `None` value"
OOB = "ndarray: index out of bounds"
SHAPE_TOO_LARGE = "ndarray: Shape too large, product of non-zero axis lengths overflows isize"


def reduce(cell):
    return minkowski_reduce_rs(np.array(cell, dtype=np.float64))


def expect_reference(cell):
    """(rcell, op) from the transcription, or None where it fails on a NaN key."""
    try:
        rcell, op = ref.minkowski_reduce(np.asarray(cell).tolist())
    except ref.NanKeyError:
        return None
    return np.array(rcell, dtype=np.float64), np.array(op, dtype=np.int64)


def assert_bits_equal(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    assert got.tobytes() == want.tobytes(), (got, want)


def assert_matches_reference(cell):
    want = expect_reference(cell)
    if want is None:
        with pytest.raises(PanicException) as info:
            minkowski_reduce_rs(cell)
        assert info.value.args == (NAN_KEY,)
        return
    rcell, op = minkowski_reduce_rs(cell)
    assert_bits_equal(rcell, want[0])
    assert_bits_equal(op, want[1])


def lattice_rows(cell, op):
    """Rows of op applied to cell, accumulated from +0.0 in the reduction's order."""
    h = op.astype(np.float64)
    return ((0.0 + h[:, 0:1] * cell[0]) + h[:, 1:2] * cell[1]) + h[:, 2:3] * cell[2]


# --- Minkowski reduction: worked examples --------------------------------------

I3 = [[1, 0, 0], [0, 1, 0], [0, 0, 1]]

EXAMPLES = [
    pytest.param(I3, I3, I3, id="identity"),
    # equal lengths keep their input order
    pytest.param([[0, 1, 0], [1, 0, 0], [0, 0, 1]], [[0, 1, 0], [1, 0, 0], [0, 0, 1]], I3, id="equal-lengths"),
    pytest.param([[2, 0, 0], [0, 1, 0], [0, 0, 3]], [[0, 1, 0], [2, 0, 0], [0, 0, 3]],
                 [[0, 1, 0], [1, 0, 0], [0, 0, 1]], id="ordered-by-length"),
    # a quotient of 2.5 rounds away from zero
    pytest.param([[1, 0, 0], [2.5, 1, 0], [0, 0, 3]], [[1, 0, 0], [-0.5, 1, 0], [0, 0, 3]],
                 [[1, 0, 0], [-3, 1, 0], [0, 0, 1]], id="tie-up"),
    pytest.param([[1, 0, 0], [-2.5, 1, 0], [0, 0, 3]], [[1, 0, 0], [0.5, 1, 0], [0, 0, 3]],
                 [[1, 0, 0], [3, 1, 0], [0, 0, 1]], id="tie-down"),
    # determinant -1 is not corrected; the zero candidate wins a distance tie
    pytest.param([[1, 0, 0], [0.5, 1, 0], [0, 0, 1]], [[1, 0, 0], [0, 0, 1], [0.5, 1, 0]],
                 [[1, 0, 0], [0, 0, 1], [0, 1, 0]], id="left-handed"),
    # two search candidates tie at sqrt(5): the earlier in sorted order is taken
    pytest.param([[1, 0, 0], [5, 1, 0], [3, 7, 1]], I3, [[1, 0, 0], [-5, 1, 0], [32, -7, 1]], id="search-tie"),
    pytest.param([[-0.0, 1, 0], [-1, 0, 0], [-2, 0, 1]], [[0.0, 1, 0], [-1, 0, 0], [0, 0, 1]],
                 [[1, 0, 0], [0, 1, 0], [0, -2, 1]], id="negative-zero"),
]


@pytest.mark.parametrize("cell, rcell, op", EXAMPLES)
def test_worked_examples(cell, rcell, op):
    got_rcell, got_op = reduce(cell)
    assert got_rcell.flags.c_contiguous and got_op.flags.c_contiguous
    # Compared as bytes, so zero signs count too: rows are accumulated from +0.0,
    # which turns the -0.0 of the "negative-zero" input into +0.0.
    assert_bits_equal(got_rcell, np.array(rcell, dtype=np.float64))
    assert_bits_equal(got_op, np.array(op, dtype=np.int64))
    assert_matches_reference(np.array(cell, dtype=np.float64))


def test_keywords_and_text_signatures():
    np.testing.assert_array_equal(minkowski_reduce_rs(cell=np.eye(3))[0], np.eye(3))
    out = make_supercell_positions_rs(lattice_points=np.zeros((2, 3)), cell_major=False,
                                      prim_positions=np.ones((1, 3)))
    np.testing.assert_array_equal(out, np.ones((2, 3)))
    assert minkowski_reduce_rs.__text_signature__ == "(cell)"
    assert make_supercell_positions_rs.__text_signature__ == "(prim_positions, lattice_points, cell_major)"


# --- Minkowski reduction: failures ---------------------------------------------


@pytest.mark.parametrize("shape", [(3, 4), (2, 3), (4, 3), (0, 3), (3, 0)])
def test_wrong_shape_is_value_error(shape):
    with pytest.raises(ValueError) as info:
        minkowski_reduce_rs(np.ones(shape))
    assert str(info.value) == "cell must be shape (3, 3)"


@pytest.mark.parametrize(
    "cell, type_name",
    [
        (np.eye(3).ravel(), "ndarray"),
        (np.eye(3, dtype=np.float32), "ndarray"),
        (np.eye(3).reshape(3, 3, 1), "ndarray"),
        (np.eye(3, dtype=np.int64), "ndarray"),
        (np.eye(3).astype(">f8"), "ndarray"),
        (np.eye(3).tolist(), "list"),
        (None, "NoneType"),
    ],
)
def test_wrong_kind_is_type_error(cell, type_name):
    with pytest.raises(TypeError) as info:
        minkowski_reduce_rs(cell)
    assert str(info.value) == f"argument 'cell': '{type_name}' object cannot be converted to 'PyArray<T, D>'"


DEGENERATE = [
    pytest.param([[0, 0, 0], [0, 1, 0], [0, 0, 1]], id="zero-row-0"),
    pytest.param([[1, 0, 0], [0, 1, 0], [0, 0, 0]], id="zero-row-2"),
    pytest.param([[1, 0, 0], [2, 0, 0], [0, 0, 1]], id="parallel"),
    pytest.param([[0, 0, 0]] * 3, id="all-zero"),
]


@pytest.mark.parametrize("cell", DEGENERATE)
def test_degenerate_cell_panics(cell):
    with pytest.raises(PanicException) as info:
        reduce(cell)
    assert info.value.args == (NAN_KEY,)
    assert expect_reference(np.array(cell, float)) is None


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf])
@pytest.mark.parametrize("position", range(9))
def test_non_finite_entry_panics(value, position):
    # 0 * inf and 0 * nan are NaN, so any non-finite entry reaches the sort keys.
    cell = np.diag([1.0, 2.0, 3.0])
    cell.flat[position] = value
    with pytest.raises(PanicException) as info:
        minkowski_reduce_rs(cell)
    assert info.value.args == (NAN_KEY,)


def test_panic_exception_is_base_exception_and_module_survives():
    assert issubclass(PanicException, BaseException)
    assert not issubclass(PanicException, Exception)
    with pytest.raises(PanicException):
        reduce([[0, 0, 0], [0, 1, 0], [0, 0, 1]])
    np.testing.assert_array_equal(reduce(I3)[0], np.eye(3))


# --- Minkowski reduction: layouts -----------------------------------------------

SKEWED = np.array([[1.0, 0.2, 0.1], [7.3, 1.1, -0.4], [-3.2, 9.9, 1.7]])


def layouts(cell):
    big = np.zeros((7, 9))
    big[1:7:2, 2:9:3] = cell
    readonly = cell.copy()
    readonly.setflags(write=False)

    class Sub(np.ndarray):
        pass

    return {
        "c": np.ascontiguousarray(cell),
        "fortran": np.asfortranarray(cell),
        "transposed": np.ascontiguousarray(cell.T).T,
        "sliced": big[1:7:2, 2:9:3],
        "reversed": np.ascontiguousarray(cell[::-1, ::-1])[::-1, ::-1],
        "readonly": readonly,
        "subclass": cell.copy().view(Sub),
    }


@pytest.mark.parametrize("layout", list(layouts(SKEWED)))
def test_strided_cell_equals_contiguous_copy(layout):
    view = layouts(SKEWED)[layout]
    want_rcell, want_op = minkowski_reduce_rs(SKEWED.copy())
    rcell, op = minkowski_reduce_rs(view)
    assert_bits_equal(rcell, want_rcell)
    assert_bits_equal(op, want_op)


# --- Minkowski reduction: agreement with the transcription ---------------------

# Cells found by search that stop through the operator history, spend the whole
# closest-vector budget, or run all 100000 passes; each path must agree exactly.
HARD_CELLS = {
    "operator-history": "0x1.364ba6c27e2f3p-4 0x1.c8d5384c60627p-4 -0x1.f3acb2c9bdd5ap-2 -0x1.c08f199b0047ap+0 "
    "-0x1.29933e9102a3dp-3 0x1.ad3a778e0082ap+0 0x1.138f3e97e7d58p+2 0x1.5d9600727467ep-1 -0x1.59fabdb20678dp+2",
    "operator-history-2": "0x1.2a8b35b5ef73p+1 -0x1.d8fc42895aedp-2 -0x1.93ae3a244985p-4 0x1.220f588701385p+0 "
    "0x1.07113861bea21p-2 0x1.75944cc57237p-2 -0x1.3f6f0308b27d3p+3 0x1.48147b4a11d43p+1 0x1.d9588457b8a3ep-1",
    "search-budget": "-0x1.feaff50752d94p+81 0x1.ae3339351c912p+374 -0x1.fe37000617467p+183 -0x1.fe07763917b43p-410 "
    "-0x1.80a8d9de45ae1p+384 -0x1.4198edf3ac49p+321 -0x1.db108360a52fp+202 -0x1.cfb018f791d06p+355 "
    "-0x1.1357c7ec75079p+377",
    "pass-limit": "0x1.718b35e83bb02p-449 0x1.f4ed4126aaee3p-456 0x1.18b291b9938f7p+226 -0x1.11904a595c056p-170 "
    "-0x1.e4f9981fb2963p+22 0x1.94a3d676b51bep-17 -0x1.55efbda79dbp-220 0x1.6399b91d66794p-60 "
    "-0x1.53ba07f8961fcp+269",
}


@pytest.mark.parametrize("name", list(HARD_CELLS))
def test_history_and_limit_paths_match_reference(name):
    cell = np.array([float.fromhex(t) for t in HARD_CELLS[name].split()]).reshape(3, 3)
    assert_matches_reference(cell)


def unimodular(draw_ints):
    """Product of elementary integer row operations (determinant +-1)."""
    op = np.eye(3, dtype=object)
    for i, j, c, swap in draw_ints:
        if i != j:
            op[i] = op[i] + c * op[j]
            if swap:
                op[[i, j]] = op[[j, i]]
    return op


def apply(op, base):
    return np.array([[sum(float(op[i, k]) * base[k, j] for k in range(3)) for j in range(3)] for i in range(3)])


finite = st.floats(-1e3, 1e3, allow_nan=False, allow_infinity=False)
row_ops = st.lists(st.tuples(st.integers(0, 2), st.integers(0, 2), st.integers(-6, 6), st.booleans()),
                   max_size=25)


@st.composite
def cells(draw):
    kind = draw(st.sampled_from(["plain", "skewed", "degenerate", "halves", "scaled", "special"]))
    if kind == "plain":
        return draw(hnp.arrays(np.float64, (3, 3), elements=finite))
    if kind == "skewed":
        base = draw(hnp.arrays(np.float64, (3, 3), elements=st.floats(-1, 1))) + np.diag([3.0, 4.0, 5.0])
        op = unimodular(draw(row_ops))
        return apply(op, base)
    if kind == "degenerate":
        r0, r1 = (draw(hnp.arrays(np.float64, 3, elements=st.floats(-3, 3))) for _ in range(2))
        a, b = draw(finite), draw(finite)
        eps = 10.0 ** -draw(st.integers(3, 18))
        return np.array([r0, r1, a * r0 + b * r1 + eps * draw(hnp.arrays(np.float64, 3, elements=st.floats(-1, 1)))])
    if kind == "halves":
        return draw(hnp.arrays(np.float64, (3, 3), elements=st.integers(-12, 12).map(lambda n: n / 2)))
    if kind == "scaled":
        scale = 10.0 ** draw(st.integers(-300, 300))
        return draw(hnp.arrays(np.float64, (3, 3), elements=st.floats(-1, 1))) * scale
    values = st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e308, 5e-324, 1e154, math.nan, math.inf])
    return draw(hnp.arrays(np.float64, (3, 3), elements=values))


@settings(max_examples=600)
@given(cells())
def test_matches_reference_bit_for_bit(cell):
    assert_matches_reference(cell)


@settings(max_examples=200)
@given(st.lists(st.tuples(st.integers(1, 10**6), st.integers(-10**6, 10**6)), min_size=3, max_size=3),
       hnp.arrays(np.float64, (3, 3), elements=st.floats(-1, 1)))
def test_strongly_skewed_matches_reference(coeffs, base):
    # Huge shears drive the integer operator and the rounding to their limits.
    (s0, c0), (s1, c1), (s2, c2) = coeffs
    base = base + np.eye(3) * 2
    cell = np.array([base[0], base[1] + c0 * base[0] + s0 * base[2], base[2] + c1 * base[0] + c2 * base[1]])
    assert_matches_reference(cell)


@settings(max_examples=300)
@given(hnp.arrays(np.float64, (3, 3), elements=st.floats(-10, 10)), row_ops)
def test_reduction_properties(base, ops):
    with np.errstate(all="ignore"):  # a singular base is refused, not warned about
        assume(abs(np.linalg.det(base)) > 1e-2 * max(1.0, np.abs(base).max()) ** 3)
    op0 = unimodular(ops)
    cell = apply(op0, base)
    rcell, op = minkowski_reduce_rs(cell)

    # op is an integer matrix with determinant +-1 (exactly, in Python integers)
    m = op.tolist()
    det = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
           + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))
    assert det in (1, -1)

    # rcell is op applied to the input rows, with the same operation order
    assert_bits_equal(rcell, lattice_rows(cell, op))

    # the rows come out by non-decreasing length, and reducing again keeps them
    lengths = np.linalg.norm(rcell, axis=1)
    assert lengths[0] <= lengths[1] * (1 + 1e-12) and lengths[1] <= lengths[2] * (1 + 1e-12)
    again, _ = minkowski_reduce_rs(rcell)
    np.testing.assert_allclose(np.sort(np.linalg.norm(again, axis=1)), np.sort(lengths), rtol=1e-9)


# --- Supercell positions ---------------------------------------------------------

PRIM = [[0, 0, 0], [0.5, 0.5, 0.5]]
LATTICE = [[0, 0, 0], [1, 0, 0], [0, 1, 0]]


@pytest.mark.parametrize(
    "cell_major, rows",
    [
        (True, [[0, 0, 0], [0.5, 0.5, 0.5], [1, 0, 0], [1.5, 0.5, 0.5], [0, 1, 0], [0.5, 1.5, 0.5]]),
        (False, [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0.5, 0.5, 0.5], [1.5, 0.5, 0.5], [0.5, 1.5, 0.5]]),
        (np.True_, [[0, 0, 0], [0.5, 0.5, 0.5], [1, 0, 0], [1.5, 0.5, 0.5], [0, 1, 0], [0.5, 1.5, 0.5]]),
        (np.False_, [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0.5, 0.5, 0.5], [1.5, 0.5, 0.5], [0.5, 1.5, 0.5]]),
    ],
)
def test_supercell_example(cell_major, rows):
    out = make_supercell_positions_rs(np.array(PRIM, float), np.array(LATTICE, float), cell_major)
    assert out.dtype == np.float64 and out.flags.c_contiguous and out.flags.writeable
    np.testing.assert_array_equal(out, np.array(rows, dtype=np.float64))


@pytest.mark.parametrize("prim_shape, lattice_shape",
                         [((0, 3), (3, 3)), ((0, 0), (3, 3)), ((0, 7), (2, 1)), ((2, 3), (0, 3)),
                          ((2, 1), (0, 0)), ((0, 0), (0, 0))])
@pytest.mark.parametrize("cell_major", [True, False])
def test_supercell_empty_input_gives_empty_result(prim_shape, lattice_shape, cell_major):
    out = make_supercell_positions_rs(np.ones(prim_shape), np.ones(lattice_shape), cell_major)
    assert out.shape == (0, 3) and out.dtype == np.float64


@pytest.mark.parametrize("prim_shape, lattice_shape", [((2, 2), (3, 3)), ((2, 3), (3, 2)), ((1, 0), (1, 3))])
@pytest.mark.parametrize("cell_major", [True, False])
def test_supercell_too_few_columns_panics(prim_shape, lattice_shape, cell_major):
    with pytest.raises(PanicException) as info:
        make_supercell_positions_rs(np.ones(prim_shape), np.ones(lattice_shape), cell_major)
    assert info.value.args == (OOB,)


def test_supercell_extra_columns_are_ignored():
    prim = np.array([[0, 0, 0, 9], [0.5, 0.5, 0.5, 9]])
    lattice = np.hstack([np.array(LATTICE, float), np.full((3, 2), 7.0)])
    for cell_major in (True, False):
        want = make_supercell_positions_rs(np.array(PRIM, float), np.array(LATTICE, float), cell_major)
        np.testing.assert_array_equal(make_supercell_positions_rs(prim, lattice, cell_major), want)


def broadcast_rows(n):
    """An (n, 3) float64 view of three values with row stride 0: no memory behind n."""
    return np.lib.stride_tricks.as_strided(np.zeros(3), shape=(n, 3), strides=(0, 8))


@pytest.mark.parametrize(
    "n_prim, n_super, message",
    [
        (2**58, 11, SHAPE_TOO_LARGE),  # 3 * N = 33 * 2^58 > 2^63 - 1
        (2**58, 10, "capacity overflow"),  # 3 * N = 30 * 2^58 >= 2^60
        (2**56, 6, "capacity overflow"),  # 3 * N = 18 * 2^56 >= 2^60
        (2**57, 8, "capacity overflow"),  # 3 * N = 3 * 2^60
    ],
)
def test_supercell_size_limits(n_prim, n_super, message):
    # The checks come before any allocation and before the columns are looked at.
    for prim, lattice in ((broadcast_rows(n_prim), broadcast_rows(n_super)),
                          (broadcast_rows(n_prim)[:, :2], broadcast_rows(n_super))):
        for cell_major in (True, False):
            with pytest.raises(PanicException) as info:
                make_supercell_positions_rs(prim, lattice, cell_major)
            assert info.value.args == (message,)
            with pytest.raises(PanicException) as info:
                make_supercell_positions_rs(lattice, prim, cell_major)
            assert info.value.args == (message,)


def test_supercell_unallocatable_result_is_memory_error():
    # 3 * N = 15 * 2^56 passes the size checks but no machine has 7 EiB.
    with pytest.raises(MemoryError):
        make_supercell_positions_rs(broadcast_rows(2**56), broadcast_rows(5), True)


@pytest.mark.parametrize("value", [1, 0, 1.0, None, "yes", np.int64(1)])
def test_supercell_cell_major_must_be_bool(value):
    with pytest.raises(TypeError) as info:
        make_supercell_positions_rs(np.array(PRIM, float), np.array(LATTICE, float), value)
    assert str(info.value) == f"argument 'cell_major': '{type(value).__qualname__}' object cannot be converted to 'PyBool'"


@pytest.mark.parametrize("name", ["prim_positions", "lattice_points"])
@pytest.mark.parametrize("bad", [np.zeros(3), np.zeros((2, 3), np.float32), [[0.0, 0.0, 0.0]]])
def test_supercell_array_arguments_are_type_checked(name, bad):
    args = {"prim_positions": np.array(PRIM, float), "lattice_points": np.array(LATTICE, float), "cell_major": True}
    args[name] = bad
    with pytest.raises(TypeError) as info:
        make_supercell_positions_rs(**args)
    assert str(info.value) == (f"argument '{name}': '{type(bad).__qualname__}' object cannot be converted to "
                               "'PyArray<T, D>'")


def strided_view(data, variant):
    """The same values as `data` in one of several memory layouts."""
    rows, cols = data.shape
    if variant == "fortran":
        return np.asfortranarray(data)
    if variant == "sliced":
        big = np.full((2 * rows + 1, cols + 3), np.nan)
        big[1::2, 2:2 + cols] = data
        return big[1::2, 2:2 + cols]
    if variant == "reversed":
        return np.ascontiguousarray(data[::-1, ::-1])[::-1, ::-1]
    if variant == "transposed":
        return np.ascontiguousarray(data.T).T
    return data


@settings(max_examples=300)
@given(
    hnp.arrays(np.float64, st.tuples(st.integers(0, 9), st.integers(3, 5)), elements=st.floats(width=64)),
    hnp.arrays(np.float64, st.tuples(st.integers(0, 9), st.integers(3, 5)), elements=st.floats(width=64)),
    st.sampled_from(["c", "fortran", "sliced", "reversed", "transposed"]),
    st.sampled_from(["c", "fortran", "sliced", "reversed", "transposed"]),
    st.booleans(),
)
def test_supercell_matches_numpy_broadcasting(prim, lattice, prim_layout, lattice_layout, cell_major):
    out = make_supercell_positions_rs(strided_view(prim, prim_layout), strided_view(lattice, lattice_layout),
                                      cell_major)
    p, t = prim[:, :3], lattice[:, :3]
    with np.errstate(all="ignore"):
        want = (p[None] + t[:, None]) if cell_major else (p[:, None] + t[None])
    assert out.flags.c_contiguous
    # Zero signs count; which NaN the sum of two NaNs gives is the machine's.
    assert_same(out, want.reshape(-1, 3), any_nan=True)


def outer_layout(data, variant):
    """`data` with contiguous columns but rows laid out otherwise."""
    if variant == "rows reversed":
        return np.ascontiguousarray(data[::-1])[::-1]
    if variant == "unaligned":
        raw = np.zeros(data.size * 8 + 1, np.uint8)
        view = np.frombuffer(raw.data, np.float64, data.size, offset=1).reshape(data.shape)
        view[...] = data
        return view
    return data


@pytest.mark.parametrize("inner_rows", range(1, 10))
@pytest.mark.parametrize("layout", ["c", "rows reversed", "unaligned"])
@pytest.mark.parametrize("cell_major", [True, False])
def test_supercell_small_inner_input_every_size(inner_rows, layout, cell_major):
    # One to nine inner rows (a whole block in registers, with and without
    # masked lanes, and one row past it) over outer rows in several layouts.
    rng = np.random.default_rng(inner_rows)
    inner, outer = rng.normal(size=(inner_rows, 3)), rng.normal(size=(37, 3))
    prim, lattice = (inner, outer_layout(outer, layout)) if cell_major else (outer_layout(outer, layout), inner)
    out = make_supercell_positions_rs(prim, lattice, cell_major)
    p, t = np.asarray(prim), np.asarray(lattice)
    want = (p[None] + t[:, None]) if cell_major else (p[:, None] + t[None])
    assert_same(out, want.reshape(-1, 3))


def test_supercell_large_output_is_filled_front_to_back():
    prim = np.arange(12.0).reshape(4, 3)
    lattice = np.arange(300000.0).reshape(-1, 3) * 2.0
    for cell_major in (True, False):
        out = make_supercell_positions_rs(prim, lattice, cell_major)
        want = (prim[None] + lattice[:, None]) if cell_major else (prim[:, None] + lattice[None])
        np.testing.assert_array_equal(out, want.reshape(-1, 3))
