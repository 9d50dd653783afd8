#include "vasp.hpp"

#include <array>
#include <cstring>
#include <string_view>

#include "messages.hpp"
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
[[gnu::noinline, gnu::cold]] Failure coordinate_failure(const char* p, const char* end, messages::Vasp format,
                                                        std::size_t line) {
  if (p == end) return messages::missing_coordinate(format, line);
  const std::string_view token(p, static_cast<std::size_t>(text::token_end(p + 1, end) - p));
  return messages::cannot_parse_coordinate(format, token, line, text::kFloatInvalid);
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

}  // namespace

PoscarReader::PoscarReader(std::size_t n_lines, bool selective, const ArrayStorage& storage)
    : block_{OwnedArray<double>(n_lines, 3, Fill::unset, storage), std::nullopt} {
  // Missing flags read as "T" (0): the flags start zeroed.
  if (selective) block_.flags.emplace(n_lines, 3, Fill::zeros, storage);
}

std::optional<Failure> PoscarReader::read(std::span<const std::string_view> lines) {
  double* row = block_.positions.data() + 3 * line_;
  std::uint8_t* frozen = block_.flags ? block_.flags->data() + 3 * line_ : nullptr;
  for (std::size_t k = 0; k < lines.size(); ++k, row += 3) {
    const char* const begin = lines[k].data();
    const char* const end = begin + lines[k].size();
    const char* stop = nullptr;
    const char* p = read_three(begin, end, row, stop);
    if (p == nullptr) return coordinate_failure(stop, end, messages::Vasp::poscar, line_ + k);
    if (frozen == nullptr) continue;
    for (std::size_t j = 0; j < 3; ++j) {
      p = text::skip_space(p, end);
      if (p == end) break;  // missing flags read as "T"
      // A flag is one letter followed by a separator or the end. T and F
      // come in any mix, so the letter is stored without a branch on it.
      const bool one_letter = p + 1 == end || text::is_ascii_space(static_cast<unsigned char>(p[1]));
      const std::uint8_t letter = kFlagLetter[static_cast<unsigned char>(*p)];
      if (!one_letter || letter == 0) [[unlikely]] {
        return messages::poscar_bad_flag(std::string_view(p, static_cast<std::size_t>(text::token_end(p + 1, end) - p)),
                                         line_ + k);
      }
      frozen[3 * k + j] = letter >> 1;
      ++p;
    }
  }
  line_ += lines.size();
  return std::nullopt;
}

Result<TextBuffer> format_poscar_positions(const StridedView<double>& coord,
                                           const StridedView<std::uint8_t>* flags, TextBuffer out, SimdPath path) {
  if (flags != nullptr && (flags->rows != coord.rows || flags->cols != coord.cols)) {
    return messages::poscar_shape_mismatch();
  }
  const std::size_t n = coord.rows;
  if (n == 0) return out;
  if (coord.cols < 3) panic(kIndexOutOfBounds);
  constexpr std::size_t kRowRoom = 3 * (1 + text::fixed_max_len(kPoscarWidth, kPoscarPrecision)) + 12 + 1;
  out.reserve_items(n, flags != nullptr ? kPoscarFlaggedLine : kPoscarLine, kRowRoom);
  const std::ptrdiff_t column = coord.stride1;
  run_on(path, [&]<SimdPath Path>() {
    for (std::size_t i = 0; i < n; ++i) {
      const char* const row = coord.row_ptr(i);
      char* p = out.ensure(kRowRoom, i, n);
      for (int j = 0; j < 3; ++j) {
        *p++ = ' ';
        double value;
        std::memcpy(&value, row + j * column, sizeof value);
        p = text::write_fixed<kPoscarWidth, kPoscarPrecision, Path>(p, value);
      }
      if (flags != nullptr) {
        // "   T" or "   F" per flag: the letter is picked without a branch.
        const char* const flag_row = flags->row_ptr(i);
        for (int j = 0; j < 3; ++j) {
          const bool frozen = flag_row[j * flags->stride1] != 0;
          std::memcpy(p, "   T", 4);
          p[3] = static_cast<char>('T' - frozen * ('T' - 'F'));
          p += 4;
        }
      }
      *p++ = '\n';
      out.advance_to(p);
    }
  });
  return out;
}

XdatcarReader::XdatcarReader(std::size_t n_lines, const ArrayStorage& storage)
    : positions_(n_lines, 3, Fill::unset, storage) {}

std::optional<Failure> XdatcarReader::read(std::span<const std::string_view> lines) {
  double* row = positions_.data() + 3 * line_;
  for (std::size_t k = 0; k < lines.size(); ++k, row += 3) {
    const char* const begin = lines[k].data();
    const char* const end = begin + lines[k].size();
    const char* stop = nullptr;
    if (read_three(begin, end, row, stop) == nullptr) return coordinate_failure(stop, end, messages::Vasp::xdatcar, line_ + k);
  }
  line_ += lines.size();
  return std::nullopt;
}

TextBuffer format_xdatcar_config(const StridedView<double>& scaled_positions, std::uint64_t index,
                                 TextBuffer out, SimdPath path) {
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
  const std::ptrdiff_t column = scaled_positions.stride1;
  run_on(path, [&]<SimdPath Path>() {
    for (std::size_t i = 0; i < n; ++i) {
      const char* const row = scaled_positions.row_ptr(i);
      char* q = out.ensure(kRowRoom, i, n);
      *q++ = ' ';
      for (int j = 0; j < 3; ++j) {
        *q++ = ' ';
        double value;
        std::memcpy(&value, row + j * column, sizeof value);
        q = text::write_fixed<kXdatcarWidth, kXdatcarPrecision, Path>(q, value);
      }
      *q++ = '\n';
      out.advance_to(q);
    }
  });
  return out;
}

}  // namespace ak::coordtext
