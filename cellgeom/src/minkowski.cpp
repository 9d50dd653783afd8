// Minkowski reduction: Gauss reduction of the two shortest rows, then a
// closest-vector search in their plane for the third, repeated until the third
// row no longer gets shorter.
//
// Reproducibility rules followed throughout:
//  - floating-point expressions are evaluated exactly in the order written,
//    with explicit parentheses; this file must be compiled without fp
//    contraction or fast-math (the build passes -ffp-contract=off);
//  - integer arithmetic on operator rows and search coefficients wraps modulo
//    2^64 and is done on unsigned values, so overflow is defined behaviour;
//  - float -> integer rounding saturates and maps NaN to 0, so no conversion
//    is ever out of range.
#include "minkowski.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <limits>

#include "failure.hpp"

namespace ak::cellgeom {
namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

// Bound on the outer passes, on the steps of one Gauss reduction and on the
// updates of one closest-vector search (each counted separately). Reaching it
// is not an error: the loop just stops with what it has.
constexpr int kIterationLimit = 100000;

inline i64 wrap_add(i64 a, i64 b) noexcept {
  return static_cast<i64>(static_cast<u64>(a) + static_cast<u64>(b));
}
inline i64 wrap_sub(i64 a, i64 b) noexcept {
  return static_cast<i64>(static_cast<u64>(a) - static_cast<u64>(b));
}
inline i64 wrap_mul(i64 a, i64 b) noexcept {
  return static_cast<i64>(static_cast<u64>(a) * static_cast<u64>(b));
}

// Rounds to the nearest integer, ties away from zero; saturates at the int64
// range and maps NaN to 0.
inline i64 nearest(double x) noexcept {
  if (std::fabs(x) < 0x1p52) {  // false for NaN
    // Below 2^52 the truncation and the fraction x - trunc(x) are exact.
    i64 i = static_cast<i64>(x);
    const double frac = x - static_cast<double>(i);
    if (frac >= 0.5) {
      ++i;
    } else if (frac <= -0.5) {
      --i;
    }
    return i;
  }
  if (x != x) return 0;
  if (x >= 0x1p63) return std::numeric_limits<i64>::max();
  if (x < -0x1p63) return std::numeric_limits<i64>::min();
  return static_cast<i64>(x);  // |x| >= 2^52 is already integral
}

inline double dot(const double (&p)[3], const double (&q)[3]) noexcept {
  return (p[0] * q[0] + p[1] * q[1]) + p[2] * q[2];
}

inline double norm(const double (&p)[3]) noexcept { return std::sqrt(dot(p, p)); }

// out = h0*B[0] + h1*B[1] + h2*B[2], accumulated from +0.0 so that a component
// whose products are all -0.0 comes out as +0.0. Every input row is multiplied,
// even by a zero coefficient, so a NaN or infinity anywhere in B reaches every
// component.
inline void lattice_vector(const double (&b)[3][3], const i64 (&h)[3], double (&out)[3]) noexcept {
  const double h0 = static_cast<double>(h[0]);
  const double h1 = static_cast<double>(h[1]);
  const double h2 = static_cast<double>(h[2]);
  for (int j = 0; j < 3; ++j) out[j] = ((0.0 + h0 * b[0][j]) + h1 * b[1][j]) + h2 * b[2][j];
}

// Ring of the last `Slots` integer states of `Width` values each, used to stop
// loops that revisit a state. A slot that was never written stands for the
// all-zero state, so only the written slots are stored and compared. Nothing is
// zeroed up front: a fresh ring costs two counters.
//
// The first `Inline` states live in the ring object itself; only a run that
// goes on longer moves them to a heap block of all `Slots` entries, so the
// short runs of ordinary cells never allocate.
//
// The lookup is a linear scan, first over a 32-bit tag per slot (branch-free,
// so it vectorises) and only on a tag match over the full states; a long run
// of passes then costs a fraction of a microsecond per lookup.
template <std::size_t Width, std::size_t Slots, std::size_t Inline = Slots>
class StateRing {
  static_assert(Inline >= 1 && Inline <= Slots);

 public:
  StateRing() = default;
  StateRing(const StateRing&) = delete;
  StateRing& operator=(const StateRing&) = delete;

  // Reports whether `state` is among the remembered states (unwritten slots
  // included), then records it in the next slot, overwriting the oldest.
  bool seen_then_store(const i64 (&state)[Width]) {
    const std::uint32_t tag = tag_of(state);
    const bool seen = contains(state, tag);
    if (next_ == Inline && Inline < Slots && heap_ == nullptr) move_to_heap();
    std::memcpy(entries_[next_], state, sizeof state);
    tags_[next_] = tag;
    next_ = next_ + 1 == Slots ? 0 : next_ + 1;
    if (written_ < Slots) ++written_;
    return seen;
  }

 private:
  struct Block {
    i64 entries[Slots][Width];
    std::uint32_t tags[Slots];
  };

  void move_to_heap() {
    heap_.reset(new Block);  // uninitialised: only slots below written_ are read
    std::memcpy(heap_->entries, inline_entries_, sizeof inline_entries_);
    std::memcpy(heap_->tags, inline_tags_, sizeof inline_tags_);
    entries_ = heap_->entries;
    tags_ = heap_->tags;
  }

  bool contains(const i64 (&state)[Width], std::uint32_t tag) const noexcept {
    if (written_ < Slots && all_zero(state)) return true;
    if (!any_tag(tag)) return false;
    for (std::size_t i = 0; i < written_; ++i) {
      if (tags_[i] == tag && std::memcmp(entries_[i], state, sizeof state) == 0) return true;
    }
    return false;
  }

  // Whether any written slot carries `tag`: four tags per step without
  // branches (GCC/Clang vector extension; plain SSE2 on x86-64).
  bool any_tag(std::uint32_t tag) const noexcept {
    using Tags4 = std::uint32_t __attribute__((vector_size(16)));
    using Mask4 = std::int32_t __attribute__((vector_size(16)));
    const Tags4 key = {tag, tag, tag, tag};
    Mask4 hits = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= written_; i += 4) {
      Tags4 block;
      std::memcpy(&block, &tags_[i], sizeof block);
      hits |= block == key;
    }
    bool any = (hits[0] | hits[1] | hits[2] | hits[3]) != 0;
    for (; i < written_; ++i) any |= tags_[i] == tag;
    return any;
  }

  static bool all_zero(const i64 (&state)[Width]) noexcept {
    for (i64 v : state) {
      if (v != 0) return false;
    }
    return true;
  }

  static std::uint32_t tag_of(const i64 (&state)[Width]) noexcept {
    u64 h = 0;
    for (i64 v : state) h = (h ^ static_cast<u64>(v)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(h >> 32);
  }

  // Left uninitialised on purpose: only slots below written_ are read.
  i64 inline_entries_[Inline][Width];
  std::uint32_t inline_tags_[Inline];
  i64 (*entries_)[Width] = inline_entries_;
  std::uint32_t* tags_ = inline_tags_;
  std::unique_ptr<Block> heap_;
  std::size_t written_ = 0;
  std::size_t next_ = 0;
};

using PairHistory = StateRing<6, 60>;
// Ordinary cells converge in a few passes: their history stays in the object.
using OperatorHistory = StateRing<9, 3960, 16>;

// Gauss (Lagrange) reduction of the pair of operator rows (h0, h1). The working
// pair (p, q) starts as (h0, h1); each step replaces it by (q - x p, p) with
// x the rounded projection coefficient, until p stops getting shorter, a pair
// repeats, or the step limit is hit. On return h0 = q and h1 = p, which for an
// already reduced pair (x = 0) keeps the original order.
void gauss_reduce(const double (&b)[3][3], i64 (&h0)[3], i64 (&h1)[3]) noexcept {
  i64 p[3] = {h0[0], h0[1], h0[2]};
  i64 q[3] = {h1[0], h1[1], h1[2]};
  PairHistory history;

  // u is always V(p); v is V(q), and since the new q is the old p, each step
  // needs only one new lattice vector.
  double u[3];
  double v[3];
  lattice_vector(b, p, u);
  lattice_vector(b, q, v);
  double uu = dot(u, u);

  for (int steps = 0; steps != kIterationLimit;) {
    const i64 x = nearest(dot(u, v) / uu);
    const i64 np[3] = {wrap_sub(q[0], wrap_mul(x, p[0])), wrap_sub(q[1], wrap_mul(x, p[1])),
                       wrap_sub(q[2], wrap_mul(x, p[2]))};
    std::memcpy(q, p, sizeof p);
    std::memcpy(p, np, sizeof p);

    double pv[3];
    lattice_vector(b, p, pv);
    const double pp = dot(pv, pv);
    if (pp >= uu) break;  // no longer shorter; a NaN on either side goes on
    ++steps;

    const i64 state[6] = {p[0], p[1], p[2], q[0], q[1], q[2]};
    if (history.seen_then_store(state)) break;

    std::memcpy(v, u, sizeof u);
    std::memcpy(u, pv, sizeof u);
    uu = pp;
  }

  std::memcpy(h0, q, sizeof q);
  std::memcpy(h1, p, sizeof p);
}

// One of the nine lattice points c0*a + c1*b with c0, c1 in {-1, 0, 1},
// expressed in the orthonormal frame of the plane.
struct Candidate {
  double x;
  double y;
  double key;  // x*x + y*y
  i64 c0;
  i64 c1;
};

// Builds the nine candidates in their fixed order and keeps the first seven of
// them sorted by squared length, stably (equal keys keep that order). Panics
// on a NaN key, which is what a zero first row, parallel first rows or
// non-finite input produce.
void sorted_candidates(const double (&a)[2], const double (&b)[2], Candidate (&out)[7]) {
  Candidate table[9];
  int k = 0;
  for (int c0 = -1; c0 <= 1; ++c0) {
    for (int c1 = -1; c1 <= 1; ++c1) {
      const double f0 = static_cast<double>(c0);
      const double f1 = static_cast<double>(c1);
      // A zero coefficient still multiplies, so a NaN or infinite a or b
      // poisons every entry.
      const double x = f0 * a[0] + f1 * b[0];
      const double y = f0 * a[1] + f1 * b[1];
      table[k++] = Candidate{x, y, x * x + y * y, c0, c1};
    }
  }
  // Entry 8 - i is entry i with both coefficients negated: its x and y are
  // those of entry i negated (up to the sign of a zero), so its key, made of
  // squares, is the same bits. Only the keys of entries 0..4 are distinct.
  double key[5];
  for (int i = 0; i < 5; ++i) {
    key[i] = table[i].key;
    // Every entry of the sort takes part in a comparison, so any NaN key
    // would make the ordering undefined: refuse it up front.
    if (std::isnan(key[i])) panic(kUnwrapNone);
  }
  // Where a stable sort by key puts each entry: the entries with a smaller
  // key, plus those with the same key earlier in the table. Counted without
  // branches; entries 0..3 each stand for themselves and their mirror.
  for (int i = 0; i < 5; ++i) {
    int smaller = 0, same_before = 0, same_reps = 0, same_after = 0;
    for (int j = 0; j < 4; ++j) {
      smaller += 2 * (key[j] < key[i]);
      same_reps += key[j] == key[i];
      same_before += (j < i) & (key[j] == key[i]);
      same_after += (j > i) & (key[j] == key[i]);
    }
    smaller += key[4] < key[i];
    const int place = smaller + same_before;  // for i = 4: all reps come first
    if (place < 7) out[place] = table[i];
    if (i < 4) {
      // The mirror 8 - i comes after every rep and the centre of equal key,
      // and after the mirrors 8 - j of j > i.
      const int mirror = smaller + same_reps + (key[4] == key[i]) + same_after;
      if (mirror < 7) out[mirror] = table[8 - i];
    }
  }
}

struct Coefficients {
  i64 k0;
  i64 k1;
};

// Finds integers (k0, k1) that bring t0 + k0*a + k1*b close to the origin by
// stepping towards the nearest of the seven shortest candidates (r[0] is the
// zero vector for a sound basis). Stops when staying put is best, when the
// distance stops decreasing, or when the update budget is spent.
Coefficients closest_vector(const Candidate (&r)[7], const double (&a)[2], const double (&b)[2],
                            const double (&t0)[2]) noexcept {
  i64 k0 = 0;
  i64 k1 = 0;
  double tx = t0[0];
  double ty = t0[1];
  double previous = std::numeric_limits<double>::infinity();

  for (int budget = kIterationLimit;;) {
    int best = 0;
    double best_distance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 7; ++i) {
      const double dx = r[i].x + tx;
      const double dy = r[i].y + ty;
      const double d = std::sqrt(dx * dx + dy * dy);
      // Strictly smaller only: the lowest index wins ties and NaN never wins.
      // Index 0 is held even when no distance beats +infinity.
      if (d < best_distance) {
        best = i;
        best_distance = d;
      }
    }
    if (best == 0 || best_distance >= previous) break;

    const Candidate& c = r[best];
    const i64 m = nearest(-(tx * c.x + ty * c.y) / c.key);
    k0 = wrap_add(k0, wrap_mul(m, c.c0));
    k1 = wrap_add(k1, wrap_mul(m, c.c1));
    // Recomputed from t0 each time so rounding errors do not accumulate.
    const double f0 = static_cast<double>(k0);
    const double f1 = static_cast<double>(k1);
    tx = (t0[0] + f0 * a[0]) + f1 * b[0];
    ty = (t0[1] + f0 * a[1]) + f1 * b[1];

    previous = best_distance;
    if (--budget == 0) break;
  }
  return {k0, k1};
}

}  // namespace

Result<ReducedCell> minkowski_reduce(const StridedView<double>& cell) {
  if (cell.rows != 3 || cell.cols != 3) return failure("cell must be shape (3, 3)");
  double b[3][3];
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) b[i][j] = cell.get(i, j);
  }

  i64 h[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double lengths[3] = {norm(b[0]), norm(b[1]), norm(b[2])};
  double r[3][3];
  OperatorHistory history;

  for (int pass = 0;;) {
    // Stable ascending order of the three lengths; strict comparisons keep
    // equal lengths in place and never move a NaN.
    int s = 0;
    int l = 1;
    if (lengths[1] < lengths[0]) {
      s = 1;
      l = 0;
    }
    int order[3];
    if (!(lengths[2] < lengths[l])) {
      order[0] = s, order[1] = l, order[2] = 2;
    } else if (!(lengths[2] < lengths[s])) {
      order[0] = s, order[1] = 2, order[2] = l;
    } else {
      order[0] = 2, order[1] = s, order[2] = l;
    }
    i64 permuted[3][3];
    for (int k = 0; k < 3; ++k) std::memcpy(permuted[k], h[order[k]], sizeof permuted[k]);
    std::memcpy(h, permuted, sizeof h);
    ++pass;

    gauss_reduce(b, h[0], h[1]);

    // Orthonormal frame (e1, e2) of the plane of the first two rows, and the
    // coordinates of all three rows in it.
    lattice_vector(b, h[0], r[0]);
    lattice_vector(b, h[1], r[1]);
    lattice_vector(b, h[2], r[2]);
    const double n0 = norm(r[0]);
    const double e1[3] = {r[0][0] / n0, r[0][1] / n0, r[0][2] / n0};
    const double g = dot(r[1], e1);
    const double w[3] = {r[1][0] - e1[0] * g, r[1][1] - e1[1] * g, r[1][2] - e1[2] * g};
    const double nw = norm(w);
    const double e2[3] = {w[0] / nw, w[1] / nw, w[2] / nw};
    const double a2[2] = {dot(r[0], e1), dot(r[0], e2)};
    const double b2[2] = {g, dot(r[1], e2)};
    const double t0[2] = {dot(r[2], e1), dot(r[2], e2)};

    Candidate candidates[7];
    sorted_candidates(a2, b2, candidates);
    const Coefficients k = closest_vector(candidates, a2, b2, t0);

    for (int j = 0; j < 3; ++j) {
      h[2][j] = wrap_add(wrap_add(wrap_mul(k.k0, h[0][j]), wrap_mul(k.k1, h[1][j])), h[2][j]);
    }
    lattice_vector(b, h[2], r[2]);

    const double n1 = norm(r[1]);
    const double n2 = norm(r[2]);
    if (n2 >= n1) break;  // a NaN length is not converged

    i64 flat[9];
    std::memcpy(flat, h, sizeof flat);
    if (history.seen_then_store(flat)) break;
    if (pass == kIterationLimit) break;

    lengths[0] = n0;
    lengths[1] = n1;
    lengths[2] = n2;
  }

  ReducedCell out;
  std::memcpy(out.rcell, r, sizeof r);
  std::memcpy(out.op, h, sizeof h);
  return out;
}

}  // namespace ak::cellgeom
