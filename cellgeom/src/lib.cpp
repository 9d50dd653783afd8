// The `_cellgeom` module: Minkowski reduction and supercell positions.
#include <Python.h>

#include "call.hpp"
#include "minkowski.hpp"
#include "module.hpp"
#include "results.hpp"
#include "supercell.hpp"

namespace {

using ak::frame::Args;
using ak::frame::ElementType;
using ak::frame::Function;
using ak::frame::Outcome;
using ak::frame::PyRef;
using ak::frame::Sealed;

Outcome minkowski(Args& args) {
  const auto cell = args.array<double>(0, ElementType::float64);
  const Sealed sealed = args.seal();
  auto reduced = ak::cellgeom::minkowski_reduce(cell.view(sealed));
  if (!reduced.ok()) return std::move(reduced).failure();
  PyRef rcell_array = ak::frame::small_array_result(reduced.value().rcell, 3, 3, ElementType::float64);
  PyRef op_array = ak::frame::small_array_result(reduced.value().op, 3, 3, ElementType::int64);
  return ak::frame::tuple_result({&rcell_array, &op_array});
}

Outcome supercell(Args& args) {
  const auto prim = args.array<double>(0, ElementType::float64);
  const auto lattice = args.array<double>(1, ElementType::float64);
  const bool cell_major = args.boolean(2);
  const Sealed sealed = args.seal();
  auto positions = ak::cellgeom::make_supercell_positions(prim.view(sealed), lattice.view(sealed), cell_major,
                                                          ak::frame::kResultArrays);
  return ak::frame::array_result(std::move(positions), ElementType::float64);
}

constexpr Function kMinkowski{
    "minkowski_reduce_rs",
    {{{"cell"}}},
    "Minkowski-reduce a 3\xc3\x97" "3 lattice cell (3D full reduction only).\n\n"
    "Returns (rcell, op) where rcell = op @ cell and op is the unimodular\n"
    "transformation matrix (determinant +1 or -1). Handedness maintenance is\n"
    "left to the caller.\n\n"
    "Parameters\n----------\n"
    "cell : ndarray float64 (3, 3)\n    Lattice vectors, one per row (row-major).\n\n"
    "Returns\n-------\n"
    "(rcell: ndarray float64 (3,3), op: ndarray int64 (3,3))",
    minkowski};

constexpr Function kSupercell{
    "make_supercell_positions_rs",
    {{{"prim_positions"}, {"lattice_points"}, {"cell_major"}}},
    "Build Cartesian positions for a supercell.\n\n"
    "Cell-major order (cell_major=True): row l * N_prim + a is atom a shifted by\n"
    "lattice point l, so the result is N_super shifted copies of the primitive cell.\n"
    "Atom-major order (cell_major=False): row a * N_super + l, so each atom is\n"
    "repeated at every lattice point before the next atom.\n\n"
    "Parameters\n----------\n"
    "prim_positions : ndarray float64 (N_prim, 3)\n    Atom positions in the primitive cell.\n"
    "lattice_points : ndarray float64 (N_super, 3)\n    Cartesian lattice point offsets.\n"
    "cell_major : bool\n    True for cell-major ordering, False for atom-major ordering.\n\n"
    "Returns\n-------\n"
    "ndarray float64 (N_prim * N_super, 3)\n    Cartesian positions.",
    supercell};

}  // namespace

PyMODINIT_FUNC PyInit__cellgeom(void) {
  return ak::frame::init_module<kMinkowski, kSupercell>("_cellgeom");
}
