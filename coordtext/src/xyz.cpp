#include "xyz.hpp"

#include <cstring>

#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/tokenizer.hpp"
#include "text/unicode.hpp"

namespace ak::coordtext {
namespace {

constexpr unsigned kCoordWidth = 22;
constexpr unsigned kCoordPrecision = 15;
constexpr std::size_t kSymbolWidth = 2;
constexpr std::size_t kLineLength = 72;  // a symbol of two characters and three fields of 22

// Writes a symbol of more than two bytes at p, padded to two characters.
char* put_wide_symbol(TextBuffer& out, char* p, std::string_view symbol) {
  std::memcpy(p, symbol.data(), symbol.size());
  p += symbol.size();
  bool ascii = true;
  for (const char c : symbol) ascii &= static_cast<unsigned char>(c) < 0x80;
  if (ascii) return p;  // more than two characters already
  out.note_non_ascii();
  // The width counts characters; a symbol of more than 4 bytes per missing
  // character is wide enough whatever it holds.
  if (symbol.size() < 4 * kSymbolWidth) {
    for (std::size_t c = text::count_chars(symbol); c < kSymbolWidth; ++c) *p++ = ' ';
  }
  return p;
}

Failure cannot_parse(std::string_view token, std::size_t line, const char* reason) {
  std::string message = "XYZ: cannot parse coordinate '";
  message.append(token);
  message += "' on line ";
  message += std::to_string(line);
  message += ": ";
  message += reason;
  return Failure{std::move(message)};
}

}  // namespace

Result<XyzBlock> parse_xyz_block(std::span<const std::string_view> lines) {
  XyzBlock block{{}, OwnedArray<double>(lines.size(), 3)};
  block.symbols.reserve(lines.size());
  double* out = block.positions.data();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text::Tokenizer tokens(lines[i]);
    std::string_view token;
    if (!tokens.next(token)) return Failure{"XYZ: empty line at atom index " + std::to_string(i)};
    block.symbols.push_back(text::normalize_symbol(token));
    for (int column = 0; column < 3; ++column) {
      if (!tokens.next(token)) {
        return Failure{"XYZ: not enough position fields on atom line " + std::to_string(i)};
      }
      if (const char* reason = text::parse_float(token, out[3 * i + column])) {
        return cannot_parse(token, i, reason);
      }
    }
  }
  return block;
}

Result<TextBuffer> format_xyz_block(std::span<const std::string_view> symbols,
                                    const StridedView<double>& positions, TextBuffer out) {
  const std::size_t n = symbols.size();
  if (n != positions.rows) {
    return Failure{"format_xyz_block_rs: symbols length (" + std::to_string(n) +
                   ") != positions rows (" + std::to_string(positions.rows) + ")"};
  }
  if (n == 0) return out;
  if (positions.cols < 3) panic(kIndexOutOfBounds);
  // Room for one row after its symbol bytes.
  constexpr std::size_t kRowRoom = kSymbolWidth + 3 * (1 + text::fixed_max_len(kCoordWidth, kCoordPrecision)) + 1;
  out.reserve_items(n, kLineLength, kRowRoom);
  const char* row = positions.data;
  const std::ptrdiff_t column = positions.stride1;
  for (std::size_t i = 0; i < n; ++i, row += positions.stride0) {
    const std::string_view symbol = symbols[i];
    char* p = out.ensure(symbol.size() + kRowRoom);
    if (symbol.size() <= kSymbolWidth) {
      // The usual symbol: at most two bytes, so one or two ASCII characters
      // or a single two-byte character; padded to two characters.
      std::memcpy(p, "  ", kSymbolWidth);
      if (!symbol.empty()) p[0] = symbol[0];
      if (symbol.size() == 2) p[1] = symbol[1];
      const auto first = static_cast<unsigned char>(p[0]), second = static_cast<unsigned char>(p[1]);
      p += kSymbolWidth;
      if (((first | second) & 0x80) != 0) [[unlikely]] {
        out.note_non_ascii();
        if ((first & 0x80) != 0) *p++ = ' ';  // one two-byte character
      }
    } else {
      p = put_wide_symbol(out, p, symbol);
    }
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      double value;
      std::memcpy(&value, row + j * column, sizeof value);
      p = text::write_fixed<kCoordWidth, kCoordPrecision>(p, value);
    }
    *p++ = '\n';
    out.advance_to(p);
  }
  return out;
}

}  // namespace ak::coordtext
