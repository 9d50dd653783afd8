#include "xyz.hpp"

#include <cstring>

#include "messages.hpp"
#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/row_tokens.hpp"
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

}  // namespace

XyzReader::XyzReader(std::size_t n_lines, const ArrayStorage& storage)
    : positions_(n_lines, 3, Fill::unset, storage), symbols_(text::normalize_symbol, text::normalize_symbol_word) {}

// One instance of the row loop per scan path (text/row_tokens.hpp): on the
// vector path the three coordinates of a row are scanned side by side, and
// their varying signs and integer digits cost no mispredictions. Both find
// the same tokens and report the same first failure.
std::optional<Failure> XyzReader::read(std::span<const std::string_view> lines, std::uint32_t* symbol_ids,
                                       SimdPath path) {
  return text::run_rows(path, [this, lines, symbol_ids]<SimdPath Path>() -> std::optional<Failure> {
    using Tokens = text::TokensOn<Path>;
    double* row = positions_.data() + 3 * line_;
    for (std::size_t k = 0; k < lines.size(); ++k, row += 3) {
      const char* const begin = lines[k].data();
      const char* const end = begin + lines[k].size();
      Tokens tokens(begin, end);
      const char* p = tokens.next(begin);
      if (p == end) return messages::xyz_empty_line(line_ + k);
      const char* token_end = text::token_end(p + 1, end);
      symbol_ids[k] = symbols_.id(p, static_cast<std::size_t>(token_end - p), begin, end);
      for (int column = 0; column < 3; ++column) {
        p = tokens.next(token_end);
        if (p == end) return messages::xyz_missing_position(line_ + k);
        const text::ScanResult number = Tokens::scan_float(p, end, begin, row[column]);
        token_end = number.end;
        if (!number.ok) [[unlikely]] {
          return messages::xyz_cannot_parse(std::string_view(p, static_cast<std::size_t>(token_end - p)), line_ + k,
                                            text::kFloatInvalid);
        }
      }
    }
    line_ += lines.size();
    return std::nullopt;
  });
}

Result<TextBuffer> format_xyz_block(std::span<const std::string_view> symbols,
                                    const StridedView<double>& positions, TextBuffer out, SimdPath path) {
  const std::size_t n = symbols.size();
  if (n != positions.rows) {
    return messages::xyz_length_mismatch(n, positions.rows);
  }
  if (n == 0) return out;
  if (positions.cols < 3) panic(kIndexOutOfBounds);
  // Room for one row after its symbol bytes.
  constexpr std::size_t kRowRoom = kSymbolWidth + 3 * (1 + text::fixed_max_len(kCoordWidth, kCoordPrecision)) + 1;
  out.reserve_items(n, kLineLength, kRowRoom);
  const std::ptrdiff_t column = positions.stride1;
  run_on(path, [&]<SimdPath Path>() {
    for (std::size_t i = 0; i < n; ++i) {
      const char* const row = positions.row_ptr(i);
      const std::string_view symbol = symbols[i];
      char* p = out.ensure(symbol.size() + kRowRoom, i, n);
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
        p = text::write_fixed<kCoordWidth, kCoordPrecision, Path>(p, value);
      }
      *p++ = '\n';
      out.advance_to(p);
    }
  });
  return out;
}

}  // namespace ak::coordtext
