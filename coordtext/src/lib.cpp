// The `_coordtext` module: plain XYZ, POSCAR/CONTCAR and XDATCAR text blocks.
#include <Python.h>

#include <optional>

#include "call.hpp"
#include "module.hpp"
#include "results.hpp"
#include "vasp.hpp"
#include "xyz.hpp"

namespace {

using ak::frame::Args;
using ak::frame::ElementType;
using ak::frame::Function;
using ak::frame::InternedStrings;
using ak::frame::LineList;
using ak::frame::Outcome;
using ak::frame::PyRef;
using ak::frame::Sealed;

// The XYZ reader converts its arguments, then does its work in a function
// of its own (never inlined): its symbol table (kilobytes) is not on the
// stack while conversions run Python code that may call it again. The
// writers keep their text scratch (4 KB) in one frame: a second frame costs
// a short call a few percent.

Outcome parse_poscar(Args& args) {
  const LineList& lines = args.lines(0);
  const bool selective = args.boolean(1);
  const Sealed sealed = args.seal();
  ak::coordtext::PoscarReader reader(lines.size(sealed), selective, ak::frame::kResultArrays);
  if (auto failure = lines.feed(sealed, [&](auto chunk, std::size_t) { return reader.read(chunk); })) {
    return std::move(*failure);
  }
  ak::coordtext::PoscarBlock block = reader.take_block();
  PyRef positions = ak::frame::array_result(std::move(block.positions), ElementType::float64);
  PyRef flags = block.flags ? ak::frame::array_result(std::move(*block.flags), ElementType::boolean)
                            : PyRef::borrow(Py_None);
  return ak::frame::tuple_result({&positions, &flags});
}

Outcome format_poscar(Args& args) {
  const auto coord = args.array<double>(0, ElementType::float64);
  const auto flags = args.optional_array<std::uint8_t>(1, ElementType::boolean);
  const Sealed sealed = args.seal();
  ak::frame::TextScratch scratch;
  const std::optional<ak::StridedView<std::uint8_t>> flag_view =
      flags ? std::optional(flags->view(sealed)) : std::nullopt;
  auto text = ak::coordtext::format_poscar_positions(coord.view(sealed), flag_view ? &*flag_view : nullptr,
                                                     ak::frame::text_result_buffer(scratch));
  if (!text.ok()) return std::move(text).failure();
  return ak::frame::text_result(std::move(text.value()));
}

Outcome parse_xdatcar(Args& args) {
  const LineList& lines = args.lines(0);
  const Sealed sealed = args.seal();
  ak::coordtext::XdatcarReader reader(lines.size(sealed), ak::frame::kResultArrays);
  if (auto failure = lines.feed(sealed, [&](auto chunk, std::size_t) { return reader.read(chunk); })) {
    return std::move(*failure);
  }
  return ak::frame::array_result(reader.take_positions(), ElementType::float64);
}

Outcome format_xdatcar(Args& args) {
  const auto positions = args.array<double>(0, ElementType::float64);
  const std::uint64_t index = args.uint64(1);
  const Sealed sealed = args.seal();
  ak::frame::TextScratch scratch;
  return ak::frame::text_result(
      ak::coordtext::format_xdatcar_config(positions.view(sealed), index, ak::frame::text_result_buffer(scratch)));
}

[[gnu::noinline]] Outcome read_xyz(const Sealed& sealed, const LineList& lines) {
  const std::size_t n = lines.size(sealed);
  ak::coordtext::XyzReader reader(n, ak::frame::kResultArrays);
  PyRef symbols = PyRef::steal(ak::frame::check(PyList_New(static_cast<Py_ssize_t>(n))));
  InternedStrings symbol_strings;
  std::uint32_t ids[LineList::kChunk];
  auto failure = lines.feed(sealed, [&](auto chunk, std::size_t first) -> std::optional<ak::Failure> {
    if (auto failed = reader.read(chunk, ids)) return failed;
    symbol_strings.update(reader.symbols());
    symbol_strings.fill(symbols.get(), first, ids, chunk.size());
    return std::nullopt;
  });
  if (failure) return std::move(*failure);
  PyRef positions = ak::frame::array_result(reader.take_positions(), ElementType::float64);
  return ak::frame::tuple_result({&symbols, &positions});
}

Outcome parse_xyz(Args& args) {
  const LineList& lines = args.lines(0);
  return read_xyz(args.seal(), lines);
}

Outcome format_xyz(Args& args) {
  const LineList& symbols = args.lines(0);
  const auto positions = args.array<double>(1, ElementType::float64);
  const Sealed sealed = args.seal();
  ak::frame::TextScratch scratch;
  auto text = ak::coordtext::format_xyz_block(symbols.views(sealed), positions.view(sealed),
                                              ak::frame::text_result_buffer(scratch));
  if (!text.ok()) return std::move(text).failure();
  return ak::frame::text_result(std::move(text.value()));
}

constexpr Function kParsePoscar{
    "parse_poscar_positions_rs",
    {{{"lines"}, {"selective"}}},
    "Parse the N-atom position block from a POSCAR/CONTCAR file.\n\n"
    "Parameters\n----------\n"
    "lines : list[str]\n    The N atom lines already read from the file descriptor.\n"
    "selective : bool\n    Whether selective-dynamics flags (T/F) are present.\n\n"
    "Returns\n-------\n"
    "(positions, flags)\n    positions: ndarray float64 [N,3]; flags: ndarray bool [N,3] "
    "(True = frozen = 'F' in file) or None when not selective.",
    parse_poscar};

constexpr Function kFormatPoscar{
    "format_poscar_positions_rs",
    {{{"coord"}, {"flags", "None"}}},
    "Format the N-atom position block for a POSCAR/CONTCAR file.\n\n"
    "Parameters\n----------\n"
    "coord : ndarray float64 [N,3]\n    Atom positions, Cartesian or scaled as the caller decides.\n"
    "flags : ndarray bool [N,3] or None\n    Selective-dynamics mask (True = frozen = 'F' in file).\n\n"
    "Returns\n-------\n"
    "str\n    The complete block, ready for the file object's write.",
    format_poscar};

constexpr Function kParseXdatcar{
    "parse_xdatcar_coords_rs",
    {{{"lines"}}},
    "Parse the coordinate block for one XDATCAR frame.\n\n"
    "Parameters\n----------\n"
    "lines : list[str]\n    The N coordinate lines for this frame (already read).\n\n"
    "Returns\n-------\n"
    "ndarray float64 [N,3]\n    Fractional coordinates.",
    parse_xdatcar};

constexpr Function kFormatXdatcar{
    "format_xdatcar_config_rs",
    {{{"scaled_positions"}, {"index"}}},
    "Format one complete XDATCAR configuration block.\n\n"
    "Parameters\n----------\n"
    "scaled_positions : ndarray float64 [N,3]\n    Fractional coordinates of one frame.\n"
    "index : int\n    1-based frame index written to the header line.\n\n"
    "Returns\n-------\n"
    "str\n    The full block including the \"Direct configuration=\" header, ready for the file "
    "object's write.",
    format_xdatcar};

constexpr Function kParseXyz{
    "parse_xyz_block_rs",
    {{{"lines"}}},
    "Parse N atom lines from a simple XYZ file.\n\n"
    "Parameters\n----------\n"
    "lines : list[str]\n    The N atom lines (already extracted from the full file).\n\n"
    "Returns\n-------\n"
    "(symbols: list[str], positions: ndarray float64 [N,3])",
    parse_xyz};

constexpr Function kFormatXyz{
    "format_xyz_block_rs",
    {{{"symbols"}, {"positions"}}},
    "Format N atoms as simple XYZ atom lines.\n\n"
    "Parameters\n----------\n"
    "symbols : list[str]\n    Chemical symbols, length N.\n"
    "positions : ndarray float64 [N,3]\n    Atom positions.\n\n"
    "Returns\n-------\n"
    "str\n    The atom lines, without the atom-count and comment header lines.",
    format_xyz};

}  // namespace

PyMODINIT_FUNC PyInit__coordtext(void) {
  return ak::frame::init_module<kParsePoscar, kFormatPoscar, kParseXdatcar, kFormatXdatcar, kParseXyz,
                                kFormatXyz>("_coordtext");
}
