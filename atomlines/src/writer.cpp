#include "writer.hpp"

#include <cstring>
#include <new>

#include "failure.hpp"
#include "reader.hpp"
#include "small_vector.hpp"
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

// Writes one code point of a symbol at p (room: 4 bytes) and counts it;
// values that are not Unicode scalars (surrogates, beyond U+10FFFF) are
// dropped without ending the symbol.
inline char* put_symbol_char(TextBuffer& out, char* p, std::uint32_t cp, std::size_t& chars) noexcept {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (text::is_unicode_scalar(cp)) {
    p = text::put_utf8(p, cp);
    out.note_non_ascii();
  } else {
    return p;
  }
  ++chars;
  return p;
}

// Rows up to this many code points are written within the room of the row.
constexpr std::size_t kShortRow = 1024;

// Padding of up to this many spaces is stored as one fixed-size block.
constexpr std::size_t kPadBlock = 16;

// Room a symbol field may need in a row: four bytes per code point at most,
// then the padding (at least a whole pad block); nothing for long rows, which
// ask for their own room as they go.
std::size_t symbol_room(std::size_t cols, std::size_t width) {
  return cols <= kShortRow ? 4 * cols + (width > kPadBlock ? width : kPadBlock) : 0;
}

// Writes the symbol of one row at p: code points up to the first 0, values
// that are not Unicode scalars dropped, then spaces up to `width`
// characters. The row is walked by its column stride, so rows whose elements
// are not adjacent (sliced or transposed arrays) read correctly too. Needs
// symbol_room() bytes at p.
char* put_short_symbol(TextBuffer& out, char* p, const char* element, std::size_t n, std::ptrdiff_t stride,
                       std::size_t width) {
  // The usual symbol: a few ASCII code points. One and two letters are mixed
  // in real data, so every code point of the row is stored without a branch
  // on where the symbol ends; the count stops at the first 0, the padding
  // then covers what was stored past it. Anything else takes the loop below.
  if (n <= kPadBlock && width <= kPadBlock) {
    std::size_t chars = 0;
    bool ended = false, plain = true;
    for (std::size_t j = 0; j < n; ++j) {
      std::uint32_t cp;
      std::memcpy(&cp, element + static_cast<std::ptrdiff_t>(j) * stride, sizeof cp);
      ended |= cp == 0;
      plain &= ended || cp < 0x80;
      p[j] = static_cast<char>(cp);
      chars += !ended;
    }
    if (plain) {
      std::memcpy(p + chars, "                ", kPadBlock);  // pads to width, covers bytes past the end
      return p + (chars < width ? width : chars);
    }
  }
  std::size_t chars = 0;
  for (std::size_t j = 0; j < n; ++j) {
    std::uint32_t cp;
    std::memcpy(&cp, element + static_cast<std::ptrdiff_t>(j) * stride, sizeof cp);
    if (cp == 0) break;
    p = put_symbol_char(out, p, cp, chars);
  }
  if (chars < width) {
    const std::size_t pad = width - chars;
    if (pad <= kPadBlock) {
      std::memcpy(p, "                ", kPadBlock);  // a constant size: no call
    } else {
      std::memset(p, ' ', pad);
    }
    p += pad;
  }
  return p;
}

// The same for rows of more than kShortRow code points, asking the buffer
// for room as it goes; commits what it wrote.
void append_long_symbol(TextBuffer& out, const char* element, std::size_t n, std::ptrdiff_t stride,
                        std::size_t width) {
  std::size_t chars = 0;
  for (std::size_t j = 0; j < n; ++j) {
    std::uint32_t cp;
    std::memcpy(&cp, element + static_cast<std::ptrdiff_t>(j) * stride, sizeof cp);
    if (cp == 0) break;
    out.advance_to(put_symbol_char(out, out.ensure(4), cp, chars));
  }
  if (chars < width) out.append_fill(' ', width - chars);
}

}  // namespace

TextBuffer write_atom_block(const StridedView<std::uint32_t>& sym_codepoints, std::uint64_t sym_width,
                            const StridedView<double>& float_mat, const StridedView<std::int64_t>& int_mat,
                            const StridedView<std::uint8_t>& bool_mat, std::span<const std::uint8_t> col_types,
                            TextBuffer out, SimdPath path) {
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
  SmallVector<Field, 16> fields;
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
  // A field reading the next column (`used`, advanced) of a matrix; `room` is
  // its longest text, `least` its shortest.
  auto add_matrix_field = [&](std::uint8_t code, std::size_t& used, std::size_t rows, std::size_t cols,
                              std::ptrdiff_t stride1, std::size_t room, std::size_t least) {
    fails_at(first_bad_row(used, rows, cols), kIndexOutOfBounds);
    fields.push_back({code, static_cast<std::ptrdiff_t>(used++) * stride1});
    row_room += room;
    line_min += least;
  };
  for (const std::uint8_t code : col_types) {
    switch (code) {
      case kStrCode:
        if (sym_width > kMaxSymbolWidth) fails_at(0, kFormatArgumentOutOfRange);
        fields.push_back({code, 0});
        ++symbol_fields;
        line_min += static_cast<std::size_t>(sym_width);
        break;
      case kFloatCode:
        add_matrix_field(code, fcols, float_mat.rows, float_mat.cols, float_mat.stride1, kFloatRoom,
                         1 + kFloatWidth);
        break;
      case kIntCode:
        add_matrix_field(code, icols, int_mat.rows, int_mat.cols, int_mat.stride1, kIntRoom, 1 + kIntWidth);
        break;
      case kBoolCode:
        add_matrix_field(code, bcols, bool_mat.rows, bool_mat.cols, bool_mat.stride1, 3, 3);
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

  run_on(path, [&]<SimdPath Path>() {
    for (std::size_t row = 0; row < natoms; ++row) {
      // Rows only of the matrices read: the others may have fewer rows.
      const char* const floats = fcols != 0 ? float_mat.row_ptr(row) : nullptr;
      const char* const ints = icols != 0 ? int_mat.row_ptr(row) : nullptr;
      const char* const bools = bcols != 0 ? bool_mat.row_ptr(row) : nullptr;
      char* p = out.ensure(row_room, row, natoms);
      for (const Field& field : fields) {
        switch (field.code) {
          case kStrCode:
            if (!long_symbols) {
              p = put_short_symbol(out, p, sym_codepoints.row_ptr(row), sym_cols, sym_codepoints.stride1, width);
            } else {
              out.advance_to(p);
              append_long_symbol(out, sym_codepoints.row_ptr(row), sym_cols, sym_codepoints.stride1, width);
              p = out.ensure(row_room, row, natoms);
            }
            break;
          case kFloatCode: {
            double value;
            std::memcpy(&value, floats + field.offset, sizeof value);
            *p++ = ' ';
            p = text::write_fixed<kFloatWidth, kFloatPrecision, Path>(p, value);
            break;
          }
          case kIntCode: {
            std::int64_t value;
            std::memcpy(&value, ints + field.offset, sizeof value);
            *p++ = ' ';
            p = text::write_int<kIntWidth, Path>(p, value);
            break;
          }
          case kBoolCode:
            std::memcpy(p, "  F", 3);
            p[2] = static_cast<char>('F' + (bools[field.offset] != 0) * ('T' - 'F'));  // mixed data: no branch
            p += 3;
            break;
          default:  // not reached: codes that write nothing are not made fields
            break;
        }
      }
      *p++ = '\n';
      out.advance_to(p);
    }
  });
  return out;
}

}  // namespace ak::atomlines
