// The XYZ, POSCAR, XDATCAR and atom-block writers on strided views of fuzzed
// doubles, against texts assembled from std::to_chars and snprintf, byte for
// byte, and the supercell positions against plain loops, bit for bit (NaN
// as NaN): each
// on every code path the processor supports (simd_path.hpp).
//
// Input: rows (0..7), columns (0..4), a layout byte (row-major, column-major,
// rows reversed, broadcast first row), a flag byte, an index, then the
// doubles (zeros past the end of the input) and the symbols' bytes; the
// atom block and the supercell take what follows (see their functions).
// Besides the texts, the failures are checked: fewer than three columns with
// rows must panic with the out-of-bounds text, a flags shape unlike coord's
// must fail with its message.

#include <algorithm>
#include <optional>

#include "common.hpp"
#include "failure.hpp"
#include "simd_path.hpp"
#include "supercell.hpp"
#include "text/unicode.hpp"
#include "vasp.hpp"
#include "writer.hpp"
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

// The supported code paths of the writers.
std::vector<ak::SimdPath> paths() {
  std::vector<ak::SimdPath> out;
  for (const ak::SimdPath p : ak::WritePaths::list) {
    if (ak::simd_path_supported(p)) out.push_back(p);
  }
  return out;
}

// Deterministic filler for inputs larger than the fuzz data.
std::uint64_t mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A double of the kinds the writers see: coordinates, fractions, wide and
// tiny values, halves and ties, and now and then any bit pattern.
double value_of(std::uint64_t bits) {
  const double unit = static_cast<double>(bits >> 11) * 0x1p-53;
  switch (bits & 7) {
    case 0: return std::bit_cast<double>(bits);
    case 1: return (unit - 0.5) * 100.0;
    case 2: return unit;
    case 3: return (unit - 0.5) * std::ldexp(1.0, static_cast<int>((bits >> 3) & 63) - 20);
    case 4: return std::ldexp(static_cast<double>(bits >> 40), -static_cast<int>((bits >> 3) & 31));
    case 5: return -unit * 1e-8;
    case 6: return static_cast<double>(static_cast<std::int64_t>(bits) >> 40) + 0.5;
    default: return (unit - 0.5) * 1e9;
  }
}

// The atom-block writer: up to 9 column codes from the input (mostly s, f,
// i, b), up to 40 rows of generated values and symbols (ASCII, two-byte
// letters, values that are no Unicode scalar, a 0 ending it early), a symbol
// width, against the line layout built from the references.
void check_atom_block(fuzzkit::Bytes& in, std::uint64_t seed) {
  const std::size_t ncodes = in.u8() % 10, natoms = in.u8() % 41, sym_cols = in.u8() % 5;
  const std::uint64_t sym_width = in.u8() % 6;
  std::vector<std::uint8_t> codes(ncodes);
  std::size_t nf = 0, ni = 0, nb = 0;
  for (auto& code : codes) {
    const std::uint8_t b = in.u8();
    static constexpr std::uint8_t kCodes[] = {'s', 'f', 'f', 'f', 'i', 'b'};
    code = b < 240 ? kCodes[b % 6] : b;
    nf += code == 'f';
    ni += code == 'i';
    nb += code == 'b';
  }
  std::vector<double> floats(natoms * nf);
  std::vector<std::int64_t> ints(natoms * ni);
  std::vector<std::uint8_t> bools(natoms * nb);
  std::vector<std::uint32_t> cps(natoms * sym_cols);
  for (auto& v : floats) v = value_of(mix(seed));
  for (auto& v : ints) {
    const std::uint64_t b = mix(seed);
    v = static_cast<std::int64_t>(b) >> (b & 63);
  }
  for (auto& v : bools) v = static_cast<std::uint8_t>(mix(seed) % 3 == 0 ? 0 : mix(seed) & 0xff);
  for (auto& v : cps) {
    static constexpr std::uint32_t kPoints[] = {'H', 'e', 'F', 'u', 0, 0xE9, 0x3B1, 0xD800, 0x110000, 0x1F600};
    v = kPoints[mix(seed) % 10];
  }
  std::string want;
  for (std::size_t r = 0; r < natoms; ++r) {
    std::size_t f = 0, i = 0, b = 0;
    for (const std::uint8_t code : codes) {
      if (code == 's') {
        std::size_t chars = 0;
        for (std::size_t j = 0; j < sym_cols && cps[r * sym_cols + j] != 0; ++j) {
          const std::uint32_t cp = cps[r * sym_cols + j];
          if (!ak::text::is_unicode_scalar(cp)) continue;
          char buf[4];
          want.append(buf, static_cast<std::size_t>(ak::text::put_utf8(buf, cp) - buf));
          ++chars;
        }
        if (chars < sym_width) want.append(sym_width - chars, ' ');
      } else if (code == 'f') {
        want += " " + fuzzkit::ref_fixed(floats[r * nf + f++], 16, 8);
      } else if (code == 'i') {
        want += " " + fuzzkit::ref_int(ints[r * ni + i++], 8);
      } else if (code == 'b') {
        want += bools[r * nb + b++] != 0 ? "  T" : "  F";
      }
    }
    want += "\n";
  }
  for (const ak::SimdPath path : paths()) {
    const auto text = ak::atomlines::write_atom_block(
        fuzzkit::c_view(cps, natoms, sym_cols), sym_width, fuzzkit::c_view(floats, natoms, nf),
        fuzzkit::c_view(ints, natoms, ni), fuzzkit::c_view(bools, natoms, nb), codes, ak::TextBuffer(), path);
    expect_text(text.view(), want, ak::simd_path_name(path));
  }
}

// The supercell positions: up to 9 primitive rows and up to 700 lattice
// rows (enough for every path's whole-register loops and their tails), of 3
// or 4 columns, against the plain sums in both orders, bit for bit (NaN as
// NaN).
void check_supercell(fuzzkit::Bytes& in, std::uint64_t seed) {
  const std::size_t n_prim = in.u8() % 10, n_super = (in.u8() | (std::size_t{in.u8()} << 8)) % 701;
  const std::size_t prim_cols = 3 + in.u8() % 2, lattice_cols = 3 + in.u8() % 2;
  std::vector<double> prim(n_prim * prim_cols), lattice(n_super * lattice_cols);
  for (auto& v : prim) v = value_of(mix(seed));
  for (auto& v : lattice) v = value_of(mix(seed));
  const auto pv = fuzzkit::c_view(prim, n_prim, prim_cols), lv = fuzzkit::c_view(lattice, n_super, lattice_cols);
  for (const bool cell_major : {true, false}) {
    std::vector<double> want;
    for (std::size_t r = 0; r < n_prim * n_super; ++r) {
      const std::size_t a = cell_major ? r % n_prim : r / n_super, l = cell_major ? r / n_prim : r % n_super;
      for (std::size_t c = 0; c < 3; ++c) want.push_back(prim[a * prim_cols + c] + lattice[l * lattice_cols + c]);
    }
    for (const ak::SimdPath path : paths()) {
      const auto got = ak::cellgeom::make_supercell_positions(pv, lv, cell_major, ak::kHeapArrays, path);
      require(got.rows() == n_prim * n_super && got.cols() == 3, "supercell shape");
      for (std::size_t k = 0; k < want.size(); ++k) {
        // Bit for bit, but for NaN: of two NaN operands, which one's payload
        // the sum carries depends on the operand order the compiler picks.
        const double g = got.data()[k];
        require(std::isnan(want[k]) ? std::isnan(g) : fuzzkit::same_bits(g, want[k]), "supercell values",
                ak::simd_path_name(path));
      }
    }
  }
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
    for (const ak::SimdPath path : paths()) {
      std::optional<std::string> got_text;
      auto panicked = panic_text([&] {
        auto r = ak::coordtext::format_xyz_block(symbol_views, view, ak::TextBuffer(), path);
        require(r.ok(), "format_xyz_block failed");
        got_text = std::string(r.value().view());
      });
      require(panicked.has_value() == short_rows, "XYZ panic presence");
      if (panicked) require(*panicked == ak::kIndexOutOfBounds, "XYZ panic text");
      else expect_text(*got_text, want, ak::simd_path_name(path));
    }
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
    for (const ak::SimdPath path : paths()) {
      std::optional<std::string> got_text;
      auto panicked = panic_text([&] {
        auto r = ak::coordtext::format_poscar_positions(view, with_flags ? &flag_view : nullptr, ak::TextBuffer(), path);
        require(r.ok(), "format_poscar_positions failed");
        got_text = std::string(r.value().view());
      });
      require(panicked.has_value() == short_rows, "POSCAR panic presence");
      if (panicked) require(*panicked == ak::kIndexOutOfBounds, "POSCAR panic text");
      else expect_text(*got_text, want, ak::simd_path_name(path));
    }
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
    for (const ak::SimdPath path : paths()) {
      std::optional<std::string> got_text;
      auto panicked = panic_text(
          [&] { got_text = std::string(ak::coordtext::format_xdatcar_config(view, index, ak::TextBuffer(), path).view()); });
      require(panicked.has_value() == short_rows, "XDATCAR panic presence");
      if (panicked) require(*panicked == ak::kIndexOutOfBounds, "XDATCAR panic text");
      else expect_text(*got_text, want, ak::simd_path_name(path));
    }
  }

  const std::uint64_t seed = in.take<std::uint64_t>();
  check_atom_block(in, seed);
  check_supercell(in, seed ^ 0x5eed);
  return 0;
}
