// The XYZ, POSCAR and XDATCAR writers on strided views of fuzzed doubles,
// against texts assembled from std::to_chars, byte for byte.
//
// Input: rows (0..7), columns (0..4), a layout byte (row-major, column-major,
// rows reversed, broadcast first row), a flag byte, an index, then the
// doubles (zeros past the end of the input) and the symbols' bytes. Besides
// the texts, the failures are checked: fewer than three columns with rows
// must panic with the out-of-bounds text, a flags shape unlike coord's must
// fail with its message.

#include <algorithm>
#include <optional>

#include "common.hpp"
#include "failure.hpp"
#include "vasp.hpp"
#include "xyz.hpp"

namespace {

using fuzzkit::require;

template <class F>
std::optional<std::string> panic_text(F&& f) {
  try {
    f();
  } catch (const ak::Panic& p) {
    return p.message();
  }
  return std::nullopt;
}

void expect_text(std::string_view got, const std::string& want, const char* what) {
  if (got != want) fuzzkit::fail(what, std::string(got) + "\n----- want\n" + want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzkit::Bytes in{data, size};
  const std::size_t rows = in.u8() % 8, cols = in.u8() % 5;
  const std::uint8_t layout = in.u8() % 4, flag_byte = in.u8();
  const std::uint64_t index = in.take<std::uint64_t>() >> (in.u8() % 64);

  // Backing store holds rows x cols doubles in the chosen layout.
  std::vector<double> store(std::max<std::size_t>(rows * cols, 1));
  for (auto& v : store) v = in.take<double>();
  ak::StridedView<double> view;
  view.rows = rows;
  view.cols = cols;
  const auto d = static_cast<std::ptrdiff_t>(sizeof(double));
  const char* base = reinterpret_cast<const char*>(store.data());
  switch (layout) {
    case 0: view.data = base; view.stride0 = d * static_cast<std::ptrdiff_t>(cols); view.stride1 = d; break;
    case 1: view.data = base; view.stride0 = d; view.stride1 = d * static_cast<std::ptrdiff_t>(rows); break;
    case 2:  // rows reversed: a negative row stride
      view.stride0 = -d * static_cast<std::ptrdiff_t>(cols);
      view.stride1 = d;
      view.data = base + (rows == 0 ? 0 : static_cast<std::ptrdiff_t>(rows - 1) * d * static_cast<std::ptrdiff_t>(cols));
      break;
    default: view.data = base; view.stride0 = 0; view.stride1 = d; break;  // every row the first
  }
  auto at = [&](std::size_t i, std::size_t j) { return view.get(i, j); };

  // Symbols: up to 3 bytes each from the input, forced to printable ASCII or
  // a two-byte letter so that widths count characters.
  std::vector<std::string> symbols(rows);
  for (auto& s : symbols) {
    const std::size_t len = in.u8() % 4;
    for (std::size_t k = 0; k < len; ++k) {
      const std::uint8_t b = in.u8();
      if (b < 0x80) s.push_back(static_cast<char>('!' + b % 94));
      else s += "\xc3\xa9";  // U+00E9
    }
  }
  std::vector<std::string_view> symbol_views(symbols.begin(), symbols.end());

  std::vector<std::uint8_t> flags(rows * cols);
  for (std::size_t k = 0; k < flags.size(); ++k) flags[k] = static_cast<std::uint8_t>((flag_byte >> (k % 8)) & 1u) * (k % 3 == 2 ? 255 : 1);
  const auto flag_view = fuzzkit::c_view(flags, rows, cols);
  const bool short_rows = rows != 0 && cols < 3;

  // XYZ
  {
    std::string want;
    for (std::size_t i = 0; i < rows && !short_rows; ++i) {
      std::vector<char32_t> cps;
      fuzzkit::decode_utf8(symbols[i], &cps);
      const std::size_t chars = cps.size();
      want += symbols[i] + std::string(chars < 2 ? 2 - chars : 0, ' ');
      for (std::size_t j = 0; j < 3; ++j) want += " " + fuzzkit::ref_fixed(at(i, j), 22, 15);
      want += "\n";
    }
    std::optional<std::string> got_text;
    auto panicked = panic_text([&] {
      auto r = ak::coordtext::format_xyz_block(symbol_views, view);
      require(r.ok(), "format_xyz_block failed");
      got_text = std::string(r.value().view());
    });
    require(panicked.has_value() == short_rows, "XYZ panic presence");
    if (panicked) require(*panicked == ak::kIndexOutOfBounds, "XYZ panic text");
    else expect_text(*got_text, want, "XYZ text");
    if (rows != 0) {
      auto r = ak::coordtext::format_xyz_block(std::span(symbol_views).first(rows - 1), view);
      require(!r.ok() && r.error() == "format_xyz_block_rs: symbols length (" + std::to_string(rows - 1) +
                                          ") != positions rows (" + std::to_string(rows) + ")",
              "XYZ length message");
    }
  }

  // POSCAR, with and without flags, and with a flags shape unlike coord's.
  for (int with_flags = 0; with_flags < 2; ++with_flags) {
    std::string want;
    for (std::size_t i = 0; i < rows && !short_rows; ++i) {
      for (std::size_t j = 0; j < 3; ++j) want += " " + fuzzkit::ref_fixed(at(i, j), 19, 16);
      for (std::size_t j = 0; with_flags && j < 3; ++j) want += flags[i * cols + j] ? "   F" : "   T";
      want += "\n";
    }
    std::optional<std::string> got_text;
    auto panicked = panic_text([&] {
      auto r = ak::coordtext::format_poscar_positions(view, with_flags ? &flag_view : nullptr);
      require(r.ok(), "format_poscar_positions failed");
      got_text = std::string(r.value().view());
    });
    require(panicked.has_value() == short_rows, "POSCAR panic presence");
    if (panicked) require(*panicked == ak::kIndexOutOfBounds, "POSCAR panic text");
    else expect_text(*got_text, want, "POSCAR text");
  }
  {
    auto other = fuzzkit::c_view(flags, rows, cols + 1);
    auto r = ak::coordtext::format_poscar_positions(view, &other);
    require(!r.ok() && r.error() == "format_poscar_positions_rs: coord and flags must have the same shape",
            "POSCAR shape message");
  }

  // XDATCAR
  {
    std::string want = "Direct configuration=" + fuzzkit::ref_uint(index, 6) + "\n";
    for (std::size_t i = 0; i < rows && !short_rows; ++i) {
      want += " ";
      for (std::size_t j = 0; j < 3; ++j) want += " " + fuzzkit::ref_fixed(at(i, j), 11, 8);
      want += "\n";
    }
    std::optional<std::string> got_text;
    auto panicked = panic_text([&] { got_text = std::string(ak::coordtext::format_xdatcar_config(view, index).view()); });
    require(panicked.has_value() == short_rows, "XDATCAR panic presence");
    if (panicked) require(*panicked == ak::kIndexOutOfBounds, "XDATCAR panic text");
    else expect_text(*got_text, want, "XDATCAR text");
  }
  return 0;
}
