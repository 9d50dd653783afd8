// Typed atom-line reader against a plain reference, then the block writer on
// the columns it read.
//
// Input: byte 0 gives the number of column codes (0..7), the next bytes the
// codes themselves (mostly f, i, b, s; otherwise the raw byte, a skip code
// unless it happens to be one of them), one more byte a symbol width and a
// flag; the rest is cut into lines, each in a block of its own size. The
// reference must give the same message or the same columns, on every scan
// path. When the block reads, it is rendered by
// write_atom_block (the first string column as the symbol) and read back:
// integers and booleans exactly, floats as rounded to 8 digits, every string
// column as the symbol. With the flag set, one matrix loses a column and the
// writer must panic with the out-of-bounds text instead.

#include <algorithm>
#include <optional>

#include "common.hpp"
#include "failure.hpp"
#include "reader.hpp"
#include "text/float_parse.hpp"
#include "text/int_parse.hpp"
#include "text/row_tokens.hpp"  // ScanPaths
#include "text/unicode.hpp"
#include "writer.hpp"

namespace {

using fuzzkit::require;

struct Columns {
  std::vector<double> floats;
  std::vector<std::int64_t> ints;
  std::vector<std::uint8_t> bools;
  std::vector<std::vector<std::string>> strs;
  std::size_t nf = 0, ni = 0, nb = 0, ns = 0;
};

std::optional<std::string> reference(std::span<const std::string_view> lines, std::span<const std::uint8_t> codes,
                                     Columns& c) {
  for (auto code : codes) {
    c.nf += code == 'f';
    c.ni += code == 'i';
    c.nb += code == 'b';
    c.ns += code == 's';
  }
  c.strs.resize(c.ns);
  if (codes.empty()) {
    return std::nullopt;
  }
  for (std::size_t r = 0; r < lines.size(); ++r) {
    const auto tokens = fuzzkit::tokens_of(lines[r]);
    const std::string row = "row " + std::to_string(r) + ": ";
    std::size_t s = 0;
    for (std::size_t k = 0; k < codes.size(); ++k) {
      if (k >= tokens.size()) return row + "expected " + std::to_string(codes.size()) + " tokens, ran out";
      const std::string_view t = tokens[k];
      auto quoted = [&] {
        std::string q;
        ak::text::append_quoted_token(q, t);
        return q;
      };
      switch (codes[k]) {
        case 'b':
          if (t == "T" || t == "True" || t == "TRUE" || t == "true") {
            c.bools.push_back(1);
          } else if (t == "F" || t == "False" || t == "FALSE" || t == "false") {
            c.bools.push_back(0);
          } else {
            return row + "cannot parse " + quoted() + " as bool";
          }
          break;
        case 'f': {
          double v;
          if (ak::text::parse_float(t, v) != nullptr) return row + "cannot parse " + quoted() + " as float: invalid float literal";
          c.floats.push_back(v);
          break;
        }
        case 'i': {
          std::int64_t v;
          if (const char* why = ak::text::parse_int64(t, v)) return row + "cannot parse " + quoted() + " as int: " + why;
          c.ints.push_back(v);
          break;
        }
        case 's': c.strs[s++].emplace_back(t); break;
        default: break;
      }
    }
  }
  return std::nullopt;
}

bool same_double(double a, double b) { return fuzzkit::same_bits(a, b) || (std::isnan(a) && std::isnan(b)); }

void compare(const ak::atomlines::AtomColumns& got, const Columns& want, std::size_t natoms) {
  require(got.floats.rows() == natoms && got.floats.cols() == want.nf, "float shape");
  require(got.ints.rows() == natoms && got.ints.cols() == want.ni, "int shape");
  require(got.bools.rows() == natoms && got.bools.cols() == want.nb, "bool shape");
  require(got.strs.size() == want.ns, "string column count");
  for (std::size_t k = 0; k < want.floats.size(); ++k) require(same_double(got.floats.data()[k], want.floats[k]), "float value");
  for (std::size_t k = 0; k < want.ints.size(); ++k) require(got.ints.data()[k] == want.ints[k], "int value");
  for (std::size_t k = 0; k < want.bools.size(); ++k) require(got.bools.data()[k] == want.bools[k], "bool value");
  for (std::size_t j = 0; j < want.ns; ++j) require(got.strs[j] == want.strs[j], "string column");
}

double rounded8(double x) {
  if (!std::isfinite(x)) return x;
  return std::strtod(fuzzkit::ref_fixed(x, 0, 8).c_str(), nullptr);
}

void write_and_read_back(const Columns& c, std::size_t natoms, std::span<const std::uint8_t> codes,
                         unsigned sym_width, bool drop_column) {
  // Symbols as code points, one row per atom, zero-padded; the same symbol
  // text for every atom when there is no string column.
  std::vector<std::vector<char32_t>> symbols(natoms);
  std::size_t width = 1;
  for (std::size_t r = 0; r < natoms; ++r) {
    if (c.ns != 0 && !fuzzkit::decode_utf8(c.strs[0][r], &symbols[r])) return;
    for (char32_t cp : symbols[r]) {
      if (cp == 0) return;  // a NUL would end the symbol early
    }
    width = std::max(width, symbols[r].size());
  }
  std::vector<std::uint32_t> cps(natoms * width, 0);
  for (std::size_t r = 0; r < natoms; ++r) {
    for (std::size_t j = 0; j < symbols[r].size(); ++j) cps[r * width + j] = symbols[r][j];
  }
  std::size_t nf = c.nf, ni = c.ni, nb = c.nb;
  const std::uint8_t* missing = nullptr;
  if (drop_column) {
    for (auto& code : codes) {
      std::size_t* n = code == 'f' ? &nf : code == 'i' ? &ni : code == 'b' ? &nb : nullptr;
      if (n != nullptr) {
        --*n;
        missing = &code;
        break;
      }
    }
  }
  // Matrices with the dropped column removed from the end of each row.
  auto shrink = [&](const auto& v, std::size_t from, std::size_t to) {
    std::remove_cvref_t<decltype(v)> out;
    for (std::size_t r = 0; r < natoms; ++r) out.insert(out.end(), v.begin() + r * from, v.begin() + r * from + to);
    return out;
  };
  const auto floats = shrink(c.floats, c.nf, nf);
  const auto ints = shrink(c.ints, c.ni, ni);
  const auto bools = shrink(c.bools, c.nb, nb);
  try {
    auto text = ak::atomlines::write_atom_block(fuzzkit::c_view(cps, natoms, width), sym_width,
                                                fuzzkit::c_view(floats, natoms, nf), fuzzkit::c_view(ints, natoms, ni),
                                                fuzzkit::c_view(bools, natoms, nb), codes);
    require(missing == nullptr || natoms == 0, "writer read past a matrix without panicking");
    const auto lines = fuzzkit::split_lines(text.view());
    require(lines.size() == natoms, "writer line count");
    for (auto line : lines) require(line.back() == '\n', "writer line end");
    // Skip codes write nothing, so the text reads back with the others only;
    // a symbol after another field is glued to it, so only a leading symbol
    // can be read back.
    std::vector<std::uint8_t> kept;
    for (auto code : codes) {
      if (code == 'f' || code == 'i' || code == 'b' || code == 's') kept.push_back(code);
    }
    if (std::find(kept.begin() + (kept.empty() ? 0 : 1), kept.end(), 's') != kept.end()) return;
    auto back = ak::atomlines::parse_atom_lines(lines, kept);
    require(back.ok(), "written block does not read back", back.ok() ? "" : back.error());
    const auto& b = back.value();
    for (std::size_t k = 0; k < c.floats.size(); ++k) require(same_double(b.floats.data()[k], rounded8(c.floats[k])), "float round trip");
    for (std::size_t k = 0; k < c.ints.size(); ++k) require(b.ints.data()[k] == c.ints[k], "int round trip");
    for (std::size_t k = 0; k < c.bools.size(); ++k) require(b.bools.data()[k] == c.bools[k], "bool round trip");
    for (std::size_t j = 0; j < c.ns; ++j) require(b.strs[j] == c.strs[0], "symbol round trip");
  } catch (const ak::Panic& p) {
    require(missing != nullptr && natoms != 0, "unexpected panic", p.message());
    require(p.message() == ak::kIndexOutOfBounds, "panic text", p.message());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzkit::Bytes in{data, size};
  std::vector<std::uint8_t> codes(in.u8() % 8);
  static constexpr std::uint8_t kPick[] = {'f', 'i', 'b', 's', 'f', 'i'};
  for (auto& code : codes) {
    const std::uint8_t b = in.u8();
    code = b % 8 < 6 ? kPick[b % 8] : b;
  }
  const std::uint8_t extra = in.u8();
  const fuzzkit::OwnedLines owned(in.rest());
  const std::span<const std::string_view> lines = owned.views;

  Columns want;
  const auto error = reference(lines, codes, want);
  // Every scan path the processor has reads the block the same way.
  fuzzkit::for_each_path<ak::text::ScanPaths>([&](ak::SimdPath path) {
    auto got = ak::atomlines::parse_atom_lines(lines, codes, path);
    require(got.ok() == !error.has_value(), "success differs from reference", got.ok() ? *error : got.error());
    if (error) {
      require(got.error() == *error, "message differs", got.error() + "\n" + *error);
    } else {
      compare(got.value(), want, lines.size());
    }
  });
  if (error) return 0;
  if (!codes.empty()) write_and_read_back(want, lines.size(), codes, extra % 16, extra >= 128);
  return 0;
}
