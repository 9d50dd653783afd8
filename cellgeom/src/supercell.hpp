// Cartesian positions of a supercell: every primitive atom position shifted by
// every lattice-point offset, laid out in cell-major or atom-major order.
#pragma once

#include "owned_array.hpp"
#include "simd_path.hpp"
#include "strided.hpp"

namespace ak::cellgeom {

// Returns an (N_prim * N_super, 3) array whose rows are prim[a] + lattice[l]
// (columns 0..2 only; extra input columns are ignored):
//   cell_major: row l * N_prim + a  (N_super shifted copies of the cell)
//   otherwise:  row a * N_super + l  (each atom at every lattice point)
// Panics with "ndarray: Shape too large, product of non-zero axis lengths
// overflows isize" when 3 * N_prim * N_super exceeds 2^63 - 1, with "capacity
// overflow" when it is 2^60 or more, and, when both row counts are non-zero,
// with "ndarray: index out of bounds" when an input has fewer than 3 columns.
// The size checks come first; an empty input gives a (0, 3) array whatever the
// column counts. The result is made in `storage`. `path` (supported here)
// picks the code path; every path gives the same bits (NaN payloads aside).
ak::OwnedArray<double> make_supercell_positions(const ak::StridedView<double>& prim,
                                                const ak::StridedView<double>& lattice, bool cell_major,
                                                const ak::ArrayStorage& storage = ak::kHeapArrays,
                                                ak::SimdPath path = ak::best_simd_path());

}  // namespace ak::cellgeom
