// The per-call floor of every exported function: the same name and
// parameters, bound and converted by the same frame, returning result
// objects of the same kinds and sizes made by the same frame calls, and
// doing nothing else: no text is parsed or formatted, no symbol normalised,
// nothing checked. What a real call costs beyond its floor at one atom is
// its fixed cost of work set-up. Built only for the benchmarks; never
// installed.
#include <Python.h>

#include <cstring>
#include <optional>
#include <vector>

#include "call.hpp"
#include "module.hpp"
#include "owned_array.hpp"
#include "results.hpp"

namespace {

using ak::Fill;
using ak::OwnedArray;
using ak::frame::Args;
using ak::frame::ElementType;
using ak::frame::Function;
using ak::frame::LineList;
using ak::frame::Outcome;
using ak::frame::PyRef;
using ak::frame::Sealed;
using ak::frame::check;

// A new rows x cols result array, as the readers make theirs.
template <class T>
PyRef result_array(std::size_t rows, std::size_t cols, ElementType type, Fill fill) {
  return ak::frame::array_result(OwnedArray<T>(rows, cols, fill, ak::frame::kResultArrays), type);
}

// A list of n references to one str (a symbol or string column whose rows
// all hold the same text), made from the first token bytes of the first line.
PyRef shared_str_list(std::size_t n, std::string_view first) {
  PyRef list = PyRef::steal(check(PyList_New(static_cast<Py_ssize_t>(n))));
  if (n == 0) return list;
  std::size_t k = 0;
  while (k < first.size() && first[k] != ' ') ++k;
  PyRef text = ak::frame::text_result(first.substr(0, k));
  for (std::size_t i = 0; i < n; ++i) PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(text.get()));
  return list;
}

// The views of every line are taken (the walk is the frame's), nothing read.
std::string_view walk(const LineList& lines, const Sealed& sealed) {
  std::string_view first;
  lines.feed(sealed, [&](std::span<const std::string_view> chunk, std::size_t at) -> std::optional<ak::Failure> {
    if (at == 0) first = chunk[0];
    return std::nullopt;
  });
  return first;
}

// A str of `n` lines of `width` bytes each (the last byte a line feed).
PyRef text_of(std::size_t n, std::size_t width, std::size_t extra = 0) {
  ak::frame::TextScratch scratch;
  ak::TextBuffer out = ak::frame::text_result_buffer(scratch);
  const std::size_t size = n * width + extra;
  char* p = out.ensure(size);
  std::memset(p, ' ', size);
  for (std::size_t i = 1; i <= n; ++i) p[extra + i * width - 1] = '\n';
  out.advance_to(p + size);
  return ak::frame::text_result(std::move(out));
}

Outcome parse_poscar(Args& args) {
  const LineList& lines = args.lines(0);
  const bool selective = args.boolean(1);
  const Sealed sealed = args.seal();
  const std::size_t n = lines.size(sealed);
  walk(lines, sealed);
  PyRef positions = result_array<double>(n, 3, ElementType::float64, Fill::unset);
  PyRef flags = selective ? result_array<std::uint8_t>(n, 3, ElementType::boolean, Fill::zeros)
                          : PyRef::borrow(Py_None);
  return ak::frame::tuple_result({&positions, &flags});
}

Outcome format_poscar(Args& args) {
  const auto coord = args.array<double>(0, ElementType::float64);
  const auto flags = args.optional_array<std::uint8_t>(1, ElementType::boolean);
  const Sealed sealed = args.seal();
  return text_of(coord.view(sealed).rows, flags ? 73 : 61);
}

Outcome parse_xdatcar(Args& args) {
  const LineList& lines = args.lines(0);
  const Sealed sealed = args.seal();
  walk(lines, sealed);
  return result_array<double>(lines.size(sealed), 3, ElementType::float64, Fill::unset);
}

Outcome format_xdatcar(Args& args) {
  const auto positions = args.array<double>(0, ElementType::float64);
  args.uint64(1);
  const Sealed sealed = args.seal();
  return text_of(positions.view(sealed).rows, 38, 28);
}

Outcome parse_xyz(Args& args) {
  const LineList& lines = args.lines(0);
  const Sealed sealed = args.seal();
  const std::size_t n = lines.size(sealed);
  PyRef symbols = shared_str_list(n, walk(lines, sealed));
  PyRef positions = result_array<double>(n, 3, ElementType::float64, Fill::unset);
  return ak::frame::tuple_result({&symbols, &positions});
}

Outcome format_xyz(Args& args) {
  const LineList& symbols = args.lines(0);
  const auto positions = args.array<double>(1, ElementType::float64);
  const Sealed sealed = args.seal();
  symbols.views(sealed);
  return text_of(positions.view(sealed).rows, 72);
}

Outcome write_atoms(Args& args) {
  const auto sym_codepoints = args.array<std::uint32_t>(0, ElementType::uint32);
  const std::uint64_t sym_width = args.uint64(1);
  args.array<double>(2, ElementType::float64);
  args.array<std::int64_t>(3, ElementType::int64);
  args.array<std::uint8_t>(4, ElementType::uint8);
  const ak::frame::ByteList col_types = args.bytes(5);
  const Sealed sealed = args.seal();
  std::size_t width = 1;
  for (const std::uint8_t code : col_types) {
    width += code == 's' ? sym_width : code == 'f' ? 17 : code == 'i' ? 9 : code == 'b' ? 3 : 0;
  }
  return text_of(sym_codepoints.view(sealed).rows, width);
}

Outcome read_atom_lines(Args& args) {
  const LineList& lines = args.lines(0);
  const ak::frame::ByteList col_types = args.bytes(1);
  const Sealed sealed = args.seal();
  const std::size_t n = lines.size(sealed);
  const std::string_view first = walk(lines, sealed);
  std::size_t nf = 0, ni = 0, nb = 0, ns = 0;
  for (const std::uint8_t code : col_types) {
    nf += code == 'f';
    ni += code == 'i';
    nb += code == 'b';
    ns += code == 's';
  }
  PyRef strs = PyRef::steal(check(PyList_New(static_cast<Py_ssize_t>(ns))));
  for (std::size_t j = 0; j < ns; ++j) {
    PyList_SET_ITEM(strs.get(), static_cast<Py_ssize_t>(j), shared_str_list(n, first).release());
  }
  PyRef floats = result_array<double>(n, nf, ElementType::float64, Fill::unset);
  PyRef ints = result_array<std::int64_t>(n, ni, ElementType::int64, Fill::unset);
  PyRef bools = result_array<std::uint8_t>(n, nb, ElementType::uint8, Fill::unset);
  static ak::frame::DictShape shape{"floats", "ints", "bools", "strs"};
  return ak::frame::dict_result(shape, {&floats, &ints, &bools, &strs});
}

Outcome minkowski(Args& args) {
  const auto cell = args.array<double>(0, ElementType::float64);
  const Sealed sealed = args.seal();
  double rcell[9];
  std::int64_t op[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const auto view = cell.view(sealed);
  for (std::size_t i = 0; i < 9; ++i) rcell[i] = view.get(i / 3, i % 3);
  PyRef rcell_array = ak::frame::small_array_result(rcell, 3, 3, ElementType::float64);
  PyRef op_array = ak::frame::small_array_result(op, 3, 3, ElementType::int64);
  return ak::frame::tuple_result({&rcell_array, &op_array});
}

Outcome supercell(Args& args) {
  const auto prim = args.array<double>(0, ElementType::float64);
  const auto lattice = args.array<double>(1, ElementType::float64);
  args.boolean(2);
  const Sealed sealed = args.seal();
  const std::size_t rows = prim.view(sealed).rows * lattice.view(sealed).rows;
  return result_array<double>(rows, 3, ElementType::float64, Fill::unset);
}

constexpr Function kParsePoscar{"parse_poscar_positions_rs", {{{"lines"}, {"selective"}}}, "", parse_poscar};
constexpr Function kFormatPoscar{"format_poscar_positions_rs", {{{"coord"}, {"flags", "None"}}}, "", format_poscar};
constexpr Function kParseXdatcar{"parse_xdatcar_coords_rs", {{{"lines"}}}, "", parse_xdatcar};
constexpr Function kFormatXdatcar{"format_xdatcar_config_rs", {{{"scaled_positions"}, {"index"}}}, "", format_xdatcar};
constexpr Function kParseXyz{"parse_xyz_block_rs", {{{"lines"}}}, "", parse_xyz};
constexpr Function kFormatXyz{"format_xyz_block_rs", {{{"symbols"}, {"positions"}}}, "", format_xyz};
constexpr Function kWriteAtoms{
    "write_atoms_rs",
    {{{"sym_codepoints"}, {"sym_width"}, {"float_mat"}, {"int_mat"}, {"bool_mat"}, {"col_types"}}},
    "",
    write_atoms};
constexpr Function kReadAtomLines{"read_atom_lines_rs", {{{"lines"}, {"col_types"}}}, "", read_atom_lines};
constexpr Function kMinkowski{"minkowski_reduce_rs", {{{"cell"}}}, "", minkowski};
constexpr Function kSupercell{
    "make_supercell_positions_rs", {{{"prim_positions"}, {"lattice_points"}, {"cell_major"}}}, "", supercell};

}  // namespace

PyMODINIT_FUNC PyInit__akcallfloor(void) {
  return ak::frame::init_module<kParsePoscar, kFormatPoscar, kParseXdatcar, kFormatXdatcar, kParseXyz, kFormatXyz,
                                kWriteAtoms, kReadAtomLines, kMinkowski, kSupercell>("_akcallfloor");
}
