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
using ak::frame::PyRef;
using ak::frame::Signature;

constexpr Signature kMinkowski{"minkowski_reduce_rs", {"cell"}, 1, 1};
constexpr Signature kSupercell{
    "make_supercell_positions_rs", {"prim_positions", "lattice_points", "cell_major"}, 3, 3};

PyObject* minkowski(Args& args) {
  const auto cell = args.array<double>(0, ElementType::float64);
  if (cell.view.rows != 3 || cell.view.cols != 3) {
    throw ak::frame::ValueErrorRaised{"cell must be shape (3, 3)"};
  }
  double input[3][3];
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) input[i][j] = cell.view.get(i, j);
  }
  const ak::cellgeom::ReducedCell reduced = ak::cellgeom::minkowski_reduce(input);
  ak::OwnedArray<double> rcell(3, 3);
  ak::OwnedArray<std::int64_t> op(3, 3);
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) {
      rcell(i, j) = reduced.rcell[i][j];
      op(i, j) = reduced.op[i][j];
    }
  }
  PyRef rcell_array = ak::frame::array_result(std::move(rcell), ElementType::float64);
  PyRef op_array = ak::frame::array_result(std::move(op), ElementType::int64);
  return ak::frame::tuple_result({&rcell_array, &op_array}).release();
}

PyObject* supercell(Args& args) {
  const auto prim = args.array<double>(0, ElementType::float64);
  const auto lattice = args.array<double>(1, ElementType::float64);
  const bool cell_major = args.boolean(2);
  auto positions = ak::cellgeom::make_supercell_positions(prim.view, lattice.view, cell_major);
  return ak::frame::array_result(std::move(positions), ElementType::float64).release();
}

AK_FASTCALL_ENTRY(minkowski_entry, kMinkowski, minkowski)
AK_FASTCALL_ENTRY(supercell_entry, kSupercell, supercell)


PyMethodDef functions[] = {
    AK_METHOD("minkowski_reduce_rs", minkowski_entry,
     "minkowski_reduce_rs(cell)\n--\n\n"
     "Minkowski-reduce a 3\xc3\x97" "3 lattice cell (3D full reduction only).\n\n"
     "Returns (rcell, op) where rcell = op @ cell and op is the unimodular\n"
     "transformation matrix (determinant +1 or -1). Handedness maintenance is\n"
     "left to the caller.\n\n"
     "Parameters\n----------\n"
     "cell : ndarray float64 (3, 3)\n    Lattice vectors, one per row (row-major).\n\n"
     "Returns\n-------\n"
     "(rcell: ndarray float64 (3,3), op: ndarray int64 (3,3))"),
    AK_METHOD("make_supercell_positions_rs", supercell_entry,
     "make_supercell_positions_rs(prim_positions, lattice_points, cell_major)\n--\n\n"
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
     "ndarray float64 (N_prim * N_super, 3)\n    Cartesian positions."),
};

PyModuleDef definition = ak::frame::module_definition("_cellgeom");

}  // namespace

PyMODINIT_FUNC PyInit__cellgeom(void) { return ak::frame::init_module(definition, functions); }
