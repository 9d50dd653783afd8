// Minkowski reduction of a 3x3 lattice cell (rows are lattice vectors).
//
// The reduction alternates a Gauss (Lagrange) reduction of the two shortest
// rows with a closest-vector search in their plane that shortens the third
// row, until the third row stops getting shorter. Every loop is bounded and
// repeated states are caught by two fixed-size histories, so it always ends.
//
// The result is reproducible bit for bit: every floating-point operation is
// done in one fixed order (the build must not contract a*b+c into fma), and
// every integer operation on the operator wraps modulo 2^64.
#pragma once

#include <cstdint>

#include "failure.hpp"
#include "strided.hpp"

namespace ak::cellgeom {

struct ReducedCell {
  double rcell[3][3];    // row i is the lattice vector of op row i
  std::int64_t op[3][3];  // unimodular (det +1 or -1) unless it wrapped
};

// Reduces `cell`, whose rows are the lattice vectors; rcell = op x cell,
// evaluated row by row from the input. Handedness is not preserved: op may
// have determinant -1. Fails with "cell must be shape (3, 3)" for any other
// shape, and throws ak::Panic("called `Option::unwrap()` on a `None` value")
// when the candidate sort meets a NaN key: a zero row, two parallel rows, or
// any NaN or infinite entry in `cell`.
Result<ReducedCell> minkowski_reduce(const StridedView<double>& cell);

}  // namespace ak::cellgeom
