// Minkowski reduction on any nine doubles (the first 72 bytes of the input).
//
// It must end (libFuzzer's -timeout catches a hang) and either throw ak::Panic
// with the NaN-key text, or return
//   - an operator whose determinant is +1 or -1 modulo 2^64: every step is an
//     integer row operation of determinant +-1 done in wrapping arithmetic,
//     and reduction modulo 2^64 keeps determinants, so this holds even when
//     entries wrapped;
//   - rcell equal, bit for bit, to the rows of op applied to the input in the
//     fixed order ((0.0 + h0*B0) + h1*B1) + h2*B2.
// A cell with a NaN or infinite entry must always throw.

#include "common.hpp"
#include "failure.hpp"
#include "minkowski.hpp"

namespace {

using fuzzkit::require;

std::uint64_t det_mod_2_64(const std::int64_t (&op)[3][3]) {
  auto u = [&](int i, int j) { return static_cast<std::uint64_t>(op[i][j]); };
  return u(0, 0) * (u(1, 1) * u(2, 2) - u(1, 2) * u(2, 1)) - u(0, 1) * (u(1, 0) * u(2, 2) - u(1, 2) * u(2, 0)) +
         u(0, 2) * (u(1, 0) * u(2, 1) - u(1, 1) * u(2, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 72) return 0;
  double cell[3][3];
  std::memcpy(cell, data, sizeof cell);
  bool finite = true;
  for (auto& row : cell) {
    for (double v : row) finite &= std::isfinite(v);
  }
  const ak::StridedView<double> view{reinterpret_cast<const char*>(cell), 3, 3, 3 * sizeof(double), sizeof(double)};
  ak::cellgeom::ReducedCell r;
  try {
    auto reduced = ak::cellgeom::minkowski_reduce(view);
    require(reduced.ok(), "a (3, 3) cell was refused");
    r = reduced.value();
  } catch (const ak::Panic& p) {
    require(p.message() == "called `Option::unwrap()` on a `None` value", "panic text", p.message());
    return 0;
  }
  require(finite, "a cell with a NaN or infinite entry did not panic");
  const std::uint64_t det = det_mod_2_64(r.op);
  require(det == 1 || det == ~std::uint64_t{0}, "operator is not unimodular");
  for (int i = 0; i < 3; ++i) {
    const double h0 = static_cast<double>(r.op[i][0]);
    const double h1 = static_cast<double>(r.op[i][1]);
    const double h2 = static_cast<double>(r.op[i][2]);
    for (int j = 0; j < 3; ++j) {
      const double v = ((0.0 + h0 * cell[0][j]) + h1 * cell[1][j]) + h2 * cell[2][j];
      require(fuzzkit::same_bits(v, r.rcell[i][j]) || (std::isnan(v) && std::isnan(r.rcell[i][j])),
              "rcell is not op applied to the cell");
    }
  }
  return 0;
}
