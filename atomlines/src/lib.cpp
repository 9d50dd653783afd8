// The `_atomlines` module: typed extended-XYZ atom lines, read into column
// groups and written from per-kind matrices.
#include <Python.h>

#include <vector>

#include "call.hpp"
#include "module.hpp"
#include "reader.hpp"
#include "results.hpp"
#include "writer.hpp"

namespace {

using ak::frame::Args;
using ak::frame::ByteList;
using ak::frame::ElementType;
using ak::frame::Function;
using ak::frame::InternedStrings;
using ak::frame::LineList;
using ak::frame::Outcome;
using ak::frame::PyRef;
using ak::frame::Sealed;

// The writer keeps its text scratch (4 KB) in one frame: a second frame
// costs a short call a few percent.
Outcome write_atoms(Args& args) {
  const auto sym_codepoints = args.array<std::uint32_t>(0, ElementType::uint32);
  const std::uint64_t sym_width = args.uint64(1);
  const auto float_mat = args.array<double>(2, ElementType::float64);
  const auto int_mat = args.array<std::int64_t>(3, ElementType::int64);
  const auto bool_mat = args.array<std::uint8_t>(4, ElementType::uint8);
  const ByteList col_types = args.bytes(5);
  const Sealed sealed = args.seal();
  ak::frame::TextScratch scratch;
  return ak::frame::text_result(ak::atomlines::write_atom_block(
      sym_codepoints.view(sealed), sym_width, float_mat.view(sealed), int_mat.view(sealed), bool_mat.view(sealed),
      col_types, ak::frame::text_result_buffer(scratch)));
}

// The reader converts its arguments, then does its work in a function of its
// own (never inlined): its string tables (kilobytes) are not on the stack
// while conversions run Python code that may call it again.
[[gnu::noinline]] Outcome read_lines(const Sealed& sealed, const LineList& lines, const ByteList& col_types) {
  const std::size_t n = lines.size(sealed);
  ak::atomlines::AtomLineReader reader(n, col_types, ak::frame::kResultArrays);
  const std::size_t n_str = reader.n_str_cols();

  PyRef strs = PyRef::steal(ak::frame::check(PyList_New(static_cast<Py_ssize_t>(n_str))));
  for (std::size_t j = 0; j < n_str; ++j) {
    PyList_SET_ITEM(strs.get(), static_cast<Py_ssize_t>(j), ak::frame::check(PyList_New(static_cast<Py_ssize_t>(n))));
  }
  ak::FirstInline<InternedStrings> column_strings(n_str);
  ak::SmallVector<std::uint32_t, 4 * LineList::kChunk> ids(LineList::kChunk * n_str);
  auto failure = lines.feed(sealed, [&](auto chunk, std::size_t first) -> std::optional<ak::Failure> {
    if (auto failed = reader.read(chunk, ids.data())) return failed;
    for (std::size_t j = 0; j < n_str; ++j) {
      column_strings[j].update(reader.strings(j));
      column_strings[j].fill(PyList_GET_ITEM(strs.get(), static_cast<Py_ssize_t>(j)), first, ids.data() + j,
                             chunk.size(), n_str);
    }
    return std::nullopt;
  });
  if (failure) return std::move(*failure);

  ak::atomlines::AtomColumns columns = reader.take_numeric_columns();
  PyRef floats = ak::frame::array_result(std::move(columns.floats), ElementType::float64);
  PyRef ints = ak::frame::array_result(std::move(columns.ints), ElementType::int64);
  PyRef bools = ak::frame::array_result(std::move(columns.bools), ElementType::uint8);
  static ak::frame::DictShape shape{"floats", "ints", "bools", "strs"};
  return ak::frame::dict_result(shape, {&floats, &ints, &bools, &strs});
}

Outcome read_atom_lines(Args& args) {
  const LineList& lines = args.lines(0);
  const ByteList col_types = args.bytes(1);
  return read_lines(args.seal(), lines, col_types);
}

constexpr Function kWriteAtoms{
    "write_atoms_rs",
    {{{"sym_codepoints"}, {"sym_width"}, {"float_mat"}, {"int_mat"}, {"bool_mat"}, {"col_types"}}},
    "Build the complete extxyz atom block (all `natoms` lines) as a Python str.\n\n"
    "Parameters\n----------\n"
    "sym_codepoints : ndarray uint32 [natoms, max_str_len]\n"
    "    a (natoms, max_str_len) uint32 array of UTF-32 LE codepoints; a 0 ends a symbol.\n"
    "sym_width : int\n    Width in characters to which each symbol is left-justified.\n"
    "float_mat : ndarray float64 [natoms, n_float]\n    Float columns, in the order of the float codes.\n"
    "int_mat : ndarray int64 [natoms, n_int]\n    Integer columns, in the order of the integer codes.\n"
    "bool_mat : ndarray uint8 [natoms, n_bool]\n    Boolean columns (0 is false, anything else true).\n"
    "col_types : bytes or list[int]\n    One code per field of a line:\n"
    "    b's'=115 symbol, left-justified to `sym_width`;\n"
    "    b'f'=102 float, written \" %16.8f\";\n"
    "    b'i'=105 int, written \" %8d\";\n"
    "    b'b'=98 bool, written \"  T\" / \"  F\";\n"
    "    any other code writes nothing.\n\n"
    "Returns\n-------\n"
    "str\n    `natoms` lines, each ending in a newline.\n\n"
    "`float_mat`, `int_mat`, `bool_mat` may have 0 columns.",
    write_atoms};

constexpr Function kReadAtomLines{
    "read_atom_lines_rs",
    {{{"lines"}, {"col_types"}}},
    "Parse `natoms` atom lines, returning a Python dict with keys:\n\n"
    "    \"floats\": ndarray float64 [natoms, n_float_cols]\n"
    "    \"ints\":   ndarray int64   [natoms, n_int_cols]\n"
    "    \"bools\":  ndarray uint8   [natoms, n_bool_cols] (0 or 1)\n"
    "    \"strs\":   list of n_str_cols lists of str, each of length natoms\n\n"
    "Parameters\n----------\n"
    "lines : list[str]\n    The `natoms` atom lines of one frame.\n"
    "col_types : bytes or list[int]\n"
    "    a bytes/list of ints, one per token per line: b'f'=102 float, b'i'=105 int,\n"
    "    b's'=115 string, b'b'=98 bool; any other code skips its token.\n\n"
    "Raises `ValueError` if any line cannot be parsed according to `col_types`.",
    read_atom_lines};

}  // namespace

PyMODINIT_FUNC PyInit__atomlines(void) {
  return ak::frame::init_module<kWriteAtoms, kReadAtomLines>("_atomlines");
}
