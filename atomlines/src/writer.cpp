#include "writer.hpp"

#include <cstring>
#include <new>
#include <vector>

#include "failure.hpp"
#include "reader.hpp"
#include "text/number_format.hpp"
#include "text/unicode.hpp"

namespace ak::atomlines {
namespace {

constexpr unsigned kFloatWidth = 16;
constexpr unsigned kFloatPrecision = 8;
constexpr unsigned kIntWidth = 8;

// Room one float or integer field may need, leading space included.
constexpr std::size_t kFloatRoom = 1 + text::fixed_max_len(kFloatWidth, kFloatPrecision);
constexpr std::size_t kIntRoom = 1 + text::int_max_len(kIntWidth);

// UTF-8 encoding of a Unicode scalar value; returns the end of the bytes.
inline char* put_utf8(char* p, std::uint32_t cp) noexcept {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

// Rows up to this many code points are written within the room of the row.
constexpr std::size_t kShortRow = 1024;

// Room a symbol field may need in a row: four bytes per code point at most,
// then the padding (at most `width`); nothing for long rows, which ask for
// their own room as they go.
std::size_t symbol_room(std::size_t cols, std::size_t width) {
  return cols <= kShortRow ? 4 * cols + width : 0;
}

// Writes the symbol of one row at p: code points up to the first 0, values
// that are not Unicode scalars dropped, then spaces up to `width`
// characters. The row is walked by its column stride, so rows whose elements
// are not adjacent (sliced or transposed arrays) read correctly too. Needs
// symbol_room() bytes at p.
char* put_short_symbol(TextBuffer& out, char* p, const char* element, std::size_t n, std::ptrdiff_t stride,
                       std::size_t width) {
  std::size_t chars = 0;
  for (std::size_t j = 0; j < n; ++j, element += stride) {
    std::uint32_t cp;
    std::memcpy(&cp, element, sizeof cp);
    if (cp == 0) break;
    if (cp < 0x80) {
      *p++ = static_cast<char>(cp);
    } else if (text::is_unicode_scalar(cp)) {
      p = put_utf8(p, cp);
      out.note_non_ascii();
    } else {
      continue;  // a surrogate or beyond U+10FFFF: dropped, decoding goes on
    }
    ++chars;
  }
  if (chars < width) {
    std::memset(p, ' ', width - chars);
    p += width - chars;
  }
  return p;
}

// The same for rows of more than kShortRow code points, asking the buffer
// for room as it goes; commits what it wrote.
void append_long_symbol(TextBuffer& out, const char* element, std::size_t n, std::ptrdiff_t stride,
                        std::size_t width) {
  std::size_t chars = 0;
  for (std::size_t j = 0; j < n; ++j, element += stride) {
    std::uint32_t cp;
    std::memcpy(&cp, element, sizeof cp);
    if (cp == 0) break;
    char* p = out.ensure(4);
    if (cp < 0x80) {
      *p++ = static_cast<char>(cp);
    } else if (text::is_unicode_scalar(cp)) {
      p = put_utf8(p, cp);
      out.note_non_ascii();
    } else {
      continue;
    }
    out.advance_to(p);
    ++chars;
  }
  if (chars < width) out.append_fill(' ', width - chars);
}

}  // namespace

TextBuffer write_atom_block(const StridedView<std::uint32_t>& sym_codepoints, std::uint64_t sym_width,
                            const StridedView<double>& float_mat, const StridedView<std::int64_t>& int_mat,
                            const StridedView<std::uint8_t>& bool_mat, std::span<const std::uint8_t> col_types,
                            TextBuffer out) {
  const std::size_t natoms = sym_codepoints.rows;
  if (natoms == 0) return out;

  // The fields of a row, with the byte offset of each element within its
  // matrix row; codes that write nothing are dropped. The field that would
  // fail first, reading rows in order, ends the call before anything is
  // written (the partial text would be dropped anyway).
  struct Field {
    std::uint8_t code;
    std::ptrdiff_t offset;
  };
  std::vector<Field> fields;
  fields.reserve(col_types.size());
  std::size_t fcols = 0, icols = 0, bcols = 0;
  std::size_t fail_row = natoms;
  const char* fail_message = nullptr;
  auto fails_at = [&](std::size_t row, const char* message) {
    if (row < fail_row) {
      fail_row = row;
      fail_message = message;
    }
  };
  // First row at which element (row, col) of a matrix is out of bounds.
  auto first_bad_row = [natoms](std::size_t col, std::size_t rows, std::size_t cols) {
    return col >= cols ? 0 : rows < natoms ? rows : natoms;
  };
  std::size_t row_room = 1;  // room for the longest row; "\n" to start
  std::size_t line_min = 1;  // length of the shortest row
  std::size_t symbol_fields = 0;
  for (const std::uint8_t code : col_types) {
    switch (code) {
      case kStrCode:
        if (sym_width > kMaxSymbolWidth) fails_at(0, "Formatting argument out of range");
        fields.push_back({code, 0});
        ++symbol_fields;
        line_min += static_cast<std::size_t>(sym_width);
        break;
      case kFloatCode:
        fails_at(first_bad_row(fcols, float_mat.rows, float_mat.cols), kIndexOutOfBounds);
        fields.push_back({code, static_cast<std::ptrdiff_t>(fcols++) * float_mat.stride1});
        row_room += kFloatRoom;
        line_min += 1 + kFloatWidth;
        break;
      case kIntCode:
        fails_at(first_bad_row(icols, int_mat.rows, int_mat.cols), kIndexOutOfBounds);
        fields.push_back({code, static_cast<std::ptrdiff_t>(icols++) * int_mat.stride1});
        row_room += kIntRoom;
        line_min += 1 + kIntWidth;
        break;
      case kBoolCode:
        fails_at(first_bad_row(bcols, bool_mat.rows, bool_mat.cols), kIndexOutOfBounds);
        fields.push_back({code, static_cast<std::ptrdiff_t>(bcols++) * bool_mat.stride1});
        row_room += 3;
        line_min += 3;
        break;
      default:
        break;
    }
  }
  if (fail_message != nullptr) panic(fail_message);

  const auto width = static_cast<std::size_t>(sym_width);
  const std::size_t sym_cols = sym_codepoints.cols;
  const bool long_symbols = sym_cols > kShortRow;
  row_room += symbol_fields * symbol_room(sym_cols, width);

  // One reservation for the whole block. Every field is at least its width,
  // so this is no more than the text needs: when it cannot be had, neither
  // can the text, and the call ends here rather than after filling memory.
  out.reserve_items(natoms, line_min, row_room);

  for (std::size_t row = 0; row < natoms; ++row) {
    // Rows only of the matrices read: the others may have fewer rows.
    const char* const floats = fcols != 0 ? float_mat.row_ptr(row) : nullptr;
    const char* const ints = icols != 0 ? int_mat.row_ptr(row) : nullptr;
    const char* const bools = bcols != 0 ? bool_mat.row_ptr(row) : nullptr;
    char* p = out.ensure(row_room);
    for (const Field& field : fields) {
      switch (field.code) {
        case kStrCode:
          if (!long_symbols) {
            p = put_short_symbol(out, p, sym_codepoints.row_ptr(row), sym_cols, sym_codepoints.stride1, width);
          } else {
            out.advance_to(p);
            append_long_symbol(out, sym_codepoints.row_ptr(row), sym_cols, sym_codepoints.stride1, width);
            p = out.ensure(row_room);
          }
          break;
        case kFloatCode: {
          double value;
          std::memcpy(&value, floats + field.offset, sizeof value);
          *p++ = ' ';
          p = text::write_fixed<kFloatWidth, kFloatPrecision>(p, value);
          break;
        }
        case kIntCode: {
          std::int64_t value;
          std::memcpy(&value, ints + field.offset, sizeof value);
          *p++ = ' ';
          p = text::write_int(p, value, kIntWidth);
          break;
        }
        default: {  // kBoolCode
          std::memcpy(p, "  F", 3);
          if (bools[field.offset] != 0) p[2] = 'T';
          p += 3;
          break;
        }
      }
    }
    *p++ = '\n';
    out.advance_to(p);
  }
  return out;
}

}  // namespace ak::atomlines
