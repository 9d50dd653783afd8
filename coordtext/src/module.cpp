// The `_coordtext` module: plain XYZ, POSCAR/CONTCAR and XDATCAR text blocks.
#include <Python.h>

#include "call.hpp"
#include "module.hpp"
#include "results.hpp"
#include "vasp.hpp"
#include "xyz.hpp"

namespace {

using ak::frame::Args;
using ak::frame::ElementType;
using ak::frame::PyRef;
using ak::frame::Signature;

constexpr Signature kParsePoscar{"parse_poscar_positions_rs", {"lines", "selective"}, 2, 2};
constexpr Signature kFormatPoscar{"format_poscar_positions_rs", {"coord", "flags"}, 2, 1};
constexpr Signature kParseXdatcar{"parse_xdatcar_coords_rs", {"lines"}, 1, 1};
constexpr Signature kFormatXdatcar{"format_xdatcar_config_rs", {"scaled_positions", "index"}, 2, 2};
constexpr Signature kParseXyz{"parse_xyz_block_rs", {"lines"}, 1, 1};
constexpr Signature kFormatXyz{"format_xyz_block_rs", {"symbols", "positions"}, 2, 2};

PyObject* parse_poscar(Args& args) {
  const auto lines = args.strings(0);
  const bool selective = args.boolean(1);
  auto block = ak::frame::take(ak::coordtext::parse_poscar_positions(lines.views(), selective));
  PyRef positions = ak::frame::array_result(std::move(block.positions), ElementType::float64);
  PyRef flags = block.flags ? ak::frame::array_result(std::move(*block.flags), ElementType::boolean)
                            : PyRef::borrow(Py_None);
  return ak::frame::tuple_result({&positions, &flags}).release();
}

PyObject* format_poscar(Args& args) {
  const auto coord = args.array<double>(0, ElementType::float64);
  std::optional<ak::frame::BorrowedArray<std::uint8_t>> flags;
  if (args.present(1) && args.slot(1) != Py_None) flags = args.array<std::uint8_t>(1, ElementType::boolean);
  auto text = ak::frame::take(ak::coordtext::format_poscar_positions(
      coord.view, flags ? &flags->view : nullptr, ak::frame::text_result_buffer()));
  return ak::frame::text_result(std::move(text)).release();
}

PyObject* parse_xdatcar(Args& args) {
  const auto lines = args.strings(0);
  auto positions = ak::frame::take(ak::coordtext::parse_xdatcar_coords(lines.views()));
  return ak::frame::array_result(std::move(positions), ElementType::float64).release();
}

PyObject* format_xdatcar(Args& args) {
  const auto positions = args.array<double>(0, ElementType::float64);
  const std::uint64_t index = args.uint64(1);
  auto text = ak::coordtext::format_xdatcar_config(positions.view, index, ak::frame::text_result_buffer());
  return ak::frame::text_result(std::move(text)).release();
}

PyObject* parse_xyz(Args& args) {
  const auto lines = args.strings(0);
  auto block = ak::frame::take(ak::coordtext::parse_xyz_block(lines.views()));
  PyRef symbols = ak::frame::string_list_result(block.symbols);
  PyRef positions = ak::frame::array_result(std::move(block.positions), ElementType::float64);
  return ak::frame::tuple_result({&symbols, &positions}).release();
}

PyObject* format_xyz(Args& args) {
  const auto symbols = args.strings(0);
  const auto positions = args.array<double>(1, ElementType::float64);
  auto text = ak::frame::take(
      ak::coordtext::format_xyz_block(symbols.views(), positions.view, ak::frame::text_result_buffer()));
  return ak::frame::text_result(std::move(text)).release();
}

AK_FASTCALL_ENTRY(parse_poscar_entry, kParsePoscar, parse_poscar)
AK_FASTCALL_ENTRY(format_poscar_entry, kFormatPoscar, format_poscar)
AK_FASTCALL_ENTRY(parse_xdatcar_entry, kParseXdatcar, parse_xdatcar)
AK_FASTCALL_ENTRY(format_xdatcar_entry, kFormatXdatcar, format_xdatcar)
AK_FASTCALL_ENTRY(parse_xyz_entry, kParseXyz, parse_xyz)
AK_FASTCALL_ENTRY(format_xyz_entry, kFormatXyz, format_xyz)



PyMethodDef functions[] = {
    AK_METHOD("parse_poscar_positions_rs", parse_poscar_entry,
     "parse_poscar_positions_rs(lines, selective)\n--\n\n"
     "Parse the N-atom position block from a POSCAR/CONTCAR file.\n\n"
     "Parameters\n----------\n"
     "lines : list[str]\n    The N atom lines already read from the file descriptor.\n"
     "selective : bool\n    Whether selective-dynamics flags (T/F) are present.\n\n"
     "Returns\n-------\n"
     "(positions, flags)\n    positions: ndarray float64 [N,3]; flags: ndarray bool [N,3] "
     "(True = frozen = 'F' in file) or None when not selective."),
    AK_METHOD("format_poscar_positions_rs", format_poscar_entry,
     "format_poscar_positions_rs(coord, flags=None)\n--\n\n"
     "Format the N-atom position block for a POSCAR/CONTCAR file.\n\n"
     "Parameters\n----------\n"
     "coord : ndarray float64 [N,3]\n    Atom positions, Cartesian or scaled as the caller decides.\n"
     "flags : ndarray bool [N,3] or None\n    Selective-dynamics mask (True = frozen = 'F' in file).\n\n"
     "Returns\n-------\n"
     "str\n    The complete block, ready for the file object's write."),
    AK_METHOD("parse_xdatcar_coords_rs", parse_xdatcar_entry,
     "parse_xdatcar_coords_rs(lines)\n--\n\n"
     "Parse the coordinate block for one XDATCAR frame.\n\n"
     "Parameters\n----------\n"
     "lines : list[str]\n    The N coordinate lines for this frame (already read).\n\n"
     "Returns\n-------\n"
     "ndarray float64 [N,3]\n    Fractional coordinates."),
    AK_METHOD("format_xdatcar_config_rs", format_xdatcar_entry,
     "format_xdatcar_config_rs(scaled_positions, index)\n--\n\n"
     "Format one complete XDATCAR configuration block.\n\n"
     "Parameters\n----------\n"
     "scaled_positions : ndarray float64 [N,3]\n    Fractional coordinates of one frame.\n"
     "index : int\n    1-based frame index written to the header line.\n\n"
     "Returns\n-------\n"
     "str\n    The full block including the \"Direct configuration=\" header, ready for the file "
     "object's write."),
    AK_METHOD("parse_xyz_block_rs", parse_xyz_entry,
     "parse_xyz_block_rs(lines)\n--\n\n"
     "Parse N atom lines from a simple XYZ file.\n\n"
     "Parameters\n----------\n"
     "lines : list[str]\n    The N atom lines (already extracted from the full file).\n\n"
     "Returns\n-------\n"
     "(symbols: list[str], positions: ndarray float64 [N,3])"),
    AK_METHOD("format_xyz_block_rs", format_xyz_entry,
     "format_xyz_block_rs(symbols, positions)\n--\n\n"
     "Format N atoms as simple XYZ atom lines.\n\n"
     "Parameters\n----------\n"
     "symbols : list[str]\n    Chemical symbols, length N.\n"
     "positions : ndarray float64 [N,3]\n    Atom positions.\n\n"
     "Returns\n-------\n"
     "str\n    The atom lines, without the atom-count and comment header lines."),
};

PyModuleDef definition = ak::frame::module_definition("_coordtext");

}  // namespace

PyMODINIT_FUNC PyInit__coordtext(void) { return ak::frame::init_module(definition, functions); }
