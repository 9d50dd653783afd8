#include "vasp.hpp"

#include <array>
#include <cstring>
#include <string>

#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/tokenizer.hpp"

namespace ak::coordtext {
namespace {

constexpr unsigned kPoscarWidth = 19;
constexpr unsigned kPoscarPrecision = 16;
constexpr std::size_t kPoscarLine = 61;       // " %19.16f" x 3 + "\n"
constexpr std::size_t kPoscarFlaggedLine = 73;  // plus "   T" x 3

constexpr unsigned kXdatcarWidth = 11;
constexpr unsigned kXdatcarPrecision = 8;
constexpr std::size_t kXdatcarLine = 38;  // "  %11.8f %11.8f %11.8f\n"
constexpr std::string_view kXdatcarHeaderText = "Direct configuration=";

std::string quoted_on_line(const char* prefix, std::string_view token, const char* middle,
                           std::size_t line) {
  std::string message = prefix;
  message.append(token);
  message += middle;
  message += std::to_string(line);
  return message;
}


// The failure texts of a coordinate reader, completed by the line number
// (and, for a parse failure, the token and the reason).
struct CoordinateTexts {
  const char* missing;       // then the line number
  const char* missing_end;   // after the line number
  const char* cannot_parse;  // then the token
  const char* on_line;       // between the token and the line number
};

// Selective-dynamics letters: 'T' (free) is 1, 'F' (frozen) 2, any other
// byte 0. T and F come in any mix; a table lookup tells them apart without a
// branch on the letter.
constexpr auto kFlagLetter = [] {
  std::array<std::uint8_t, 256> table{};
  table['T'] = 1;
  table['F'] = 2;
  return table;
}();

// The failure of a coordinate read that stopped at p: no token left there,
// or a token that is no float. Out of line: it is built once per call.
[[gnu::noinline, gnu::cold]] Failure coordinate_failure(const char* p, const char* end, const CoordinateTexts& texts,
                                                        std::size_t line) {
  if (p == end) return Failure{texts.missing + std::to_string(line) + texts.missing_end};
  const std::string_view token(p, static_cast<std::size_t>(text::token_end(p + 1, end) - p));
  return Failure{quoted_on_line(texts.cannot_parse, token, texts.on_line, line) + ": " + text::kFloatInvalid};
}

// Reads the first three tokens of the line [begin, end) as coordinates into
// row[0..2], fetching and parsing one field at a time. Returns the position
// after the third token, or null with `stop` at the field that failed (the
// line's end when the field is missing).
[[gnu::always_inline]] inline const char* read_three(const char* begin, const char* end, double* row,
                                                     const char*& stop) noexcept {
  const char* p = begin;
  for (int column = 0; column < 3; ++column) {
    p = text::skip_space(p, end);
    if (p == end) [[unlikely]] {
      stop = p;
      return nullptr;
    }
    const text::ScanResult number = text::scan_float(p, end, begin, row[column]);
    if (!number.ok) [[unlikely]] {
      stop = p;
      return nullptr;
    }
    p = number.end;
  }
  return p;
}

constexpr CoordinateTexts kPoscarTexts{"POSCAR: not enough fields on atom line ", " (need 3 coordinates)",
                                       "POSCAR: cannot parse coordinate '", "' on atom line "};
constexpr CoordinateTexts kXdatcarTexts{"XDATCAR: not enough fields on coordinate line ", "",
                                        "XDATCAR: cannot parse '", "' on line "};

}  // namespace

PoscarReader::PoscarReader(std::size_t n_lines, bool selective)
    : block_{OwnedArray<double>(n_lines, 3, Fill::unset), std::nullopt} {
  // Missing flags read as "T" (0): the flags start zeroed.
  if (selective) block_.flags.emplace(n_lines, 3, Fill::zeros);
}

std::optional<Failure> PoscarReader::read(std::span<const std::string_view> lines) {
  double* row = block_.positions.data() + 3 * line_;
  std::uint8_t* frozen = block_.flags ? block_.flags->data() + 3 * line_ : nullptr;
  for (std::size_t k = 0; k < lines.size(); ++k, row += 3) {
    const char* const begin = lines[k].data();
    const char* const end = begin + lines[k].size();
    const char* stop = nullptr;
    const char* p = read_three(begin, end, row, stop);
    if (p == nullptr) return coordinate_failure(stop, end, kPoscarTexts, line_ + k);
    if (frozen == nullptr) continue;
    for (std::size_t j = 0; j < 3; ++j) {
      p = text::skip_space(p, end);
      if (p == end) break;  // missing flags read as "T"
      // A flag is one letter followed by a separator or the end. T and F
      // come in any mix, so the letter is stored without a branch on it.
      const bool one_letter = p + 1 == end || text::is_ascii_space(static_cast<unsigned char>(p[1]));
      const std::uint8_t letter = kFlagLetter[static_cast<unsigned char>(*p)];
      if (!one_letter || letter == 0) [[unlikely]] {
        return Failure{quoted_on_line("POSCAR: expected selective dynamics flag 'T' or 'F', got '",
                                      std::string_view(p, static_cast<std::size_t>(text::token_end(p + 1, end) - p)),
                                      "' on atom line ", line_ + k)};
      }
      frozen[3 * k + j] = letter >> 1;
      ++p;
    }
  }
  line_ += lines.size();
  return std::nullopt;
}

Result<PoscarBlock> parse_poscar_positions(std::span<const std::string_view> lines, bool selective) {
  PoscarReader reader(lines.size(), selective);
  if (auto failure = reader.read(lines)) return std::move(*failure);
  return reader.take_block();
}

Result<TextBuffer> format_poscar_positions(const StridedView<double>& coord,
                                           const StridedView<std::uint8_t>* flags, TextBuffer out) {
  if (flags != nullptr && (flags->rows != coord.rows || flags->cols != coord.cols)) {
    return Failure{"format_poscar_positions_rs: coord and flags must have the same shape"};
  }
  const std::size_t n = coord.rows;
  if (n == 0) return out;
  if (coord.cols < 3) panic(kIndexOutOfBounds);
  constexpr std::size_t kRowRoom = 3 * (1 + text::fixed_max_len(kPoscarWidth, kPoscarPrecision)) + 12 + 1;
  out.reserve_items(n, flags != nullptr ? kPoscarFlaggedLine : kPoscarLine, kRowRoom);
  const char* row = coord.data;
  const std::ptrdiff_t column = coord.stride1;
  const char* flag_row = flags != nullptr ? flags->data : nullptr;
  for (std::size_t i = 0; i < n; ++i, row += coord.stride0) {
    char* p = out.ensure(kRowRoom, i, n);
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      double value;
      std::memcpy(&value, row + j * column, sizeof value);
      p = text::write_fixed<kPoscarWidth, kPoscarPrecision>(p, value);
    }
    if (flag_row != nullptr) {
      for (int j = 0; j < 3; ++j) {
        std::memcpy(p, "   T", 4);
        if (flag_row[j * flags->stride1] != 0) p[3] = 'F';
        p += 4;
      }
      flag_row += flags->stride0;
    }
    *p++ = '\n';
    out.advance_to(p);
  }
  return out;
}

XdatcarReader::XdatcarReader(std::size_t n_lines) : positions_(n_lines, 3, Fill::unset) {}

std::optional<Failure> XdatcarReader::read(std::span<const std::string_view> lines) {
  double* row = positions_.data() + 3 * line_;
  for (std::size_t k = 0; k < lines.size(); ++k, row += 3) {
    const char* const begin = lines[k].data();
    const char* const end = begin + lines[k].size();
    const char* stop = nullptr;
    if (read_three(begin, end, row, stop) == nullptr) return coordinate_failure(stop, end, kXdatcarTexts, line_ + k);
  }
  line_ += lines.size();
  return std::nullopt;
}

Result<OwnedArray<double>> parse_xdatcar_coords(std::span<const std::string_view> lines) {
  XdatcarReader reader(lines.size());
  if (auto failure = reader.read(lines)) return std::move(*failure);
  return reader.take_positions();
}

TextBuffer format_xdatcar_config(const StridedView<double>& scaled_positions, std::uint64_t index,
                                 TextBuffer out) {
  const std::size_t n = scaled_positions.rows;
  if (n != 0 && scaled_positions.cols < 3) panic(kIndexOutOfBounds);
  constexpr std::size_t kHeaderRoom = kXdatcarHeaderText.size() + text::int_max_len(6) + 1;
  constexpr std::size_t kRowRoom = 2 + 3 * (1 + text::fixed_max_len(kXdatcarWidth, kXdatcarPrecision)) + 1;
  out.reserve_items(n, kXdatcarLine, kHeaderRoom + kRowRoom);
  char* p = out.ensure(kHeaderRoom);
  std::memcpy(p, kXdatcarHeaderText.data(), kXdatcarHeaderText.size());
  p = text::write_uint(p + kXdatcarHeaderText.size(), index, 6);
  *p++ = '\n';
  out.advance_to(p);
  const char* row = scaled_positions.data;
  const std::ptrdiff_t column = scaled_positions.stride1;
  for (std::size_t i = 0; i < n; ++i, row += scaled_positions.stride0) {
    p = out.ensure(kRowRoom, i, n);
    *p++ = ' ';
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      double value;
      std::memcpy(&value, row + j * column, sizeof value);
      p = text::write_fixed<kXdatcarWidth, kXdatcarPrecision>(p, value);
    }
    *p++ = '\n';
    out.advance_to(p);
  }
  return out;
}

}  // namespace ak::coordtext
