#include "vasp.hpp"

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

}  // namespace

Result<PoscarBlock> parse_poscar_positions(std::span<const std::string_view> lines, bool selective) {
  PoscarBlock block{OwnedArray<double>(lines.size(), 3), std::nullopt};
  std::uint8_t* frozen = nullptr;
  if (selective) frozen = block.flags.emplace(lines.size(), 3).data();
  double* out = block.positions.data();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text::Tokenizer tokens(lines[i]);
    std::string_view token;
    for (std::size_t j = 0; j < 3; ++j) {
      if (!tokens.next(token)) {
        return Failure{"POSCAR: not enough fields on atom line " + std::to_string(i) +
                       " (need 3 coordinates)"};
      }
      if (const char* reason = text::parse_float(token, out[3 * i + j])) {
        return Failure{quoted_on_line("POSCAR: cannot parse coordinate '", token, "' on atom line ", i) +
                       ": " + reason};
      }
    }
    if (!selective) continue;
    for (std::size_t j = 0; j < 3; ++j) {
      if (!tokens.next(token)) break;  // missing flags read as "T"
      if (token == "F") {
        frozen[3 * i + j] = 1;
      } else if (token != "T") {
        return Failure{quoted_on_line("POSCAR: expected selective dynamics flag 'T' or 'F', got '",
                                      token, "' on atom line ", i)};
      }
    }
  }
  return block;
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
    char* p = out.ensure(kRowRoom);
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

Result<OwnedArray<double>> parse_xdatcar_coords(std::span<const std::string_view> lines) {
  OwnedArray<double> positions(lines.size(), 3);
  double* out = positions.data();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text::Tokenizer tokens(lines[i]);
    std::string_view token;
    for (std::size_t j = 0; j < 3; ++j) {
      if (!tokens.next(token)) {
        return Failure{"XDATCAR: not enough fields on coordinate line " + std::to_string(i)};
      }
      if (const char* reason = text::parse_float(token, out[3 * i + j])) {
        return Failure{quoted_on_line("XDATCAR: cannot parse '", token, "' on line ", i) + ": " + reason};
      }
    }
  }
  return positions;
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
    p = out.ensure(kRowRoom);
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
