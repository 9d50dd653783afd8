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

// Rows up to this many code points are written after a single room check.
constexpr std::size_t kShortRow = 1024;

// Writes the symbol of one row straight into the output: code points up to
// the first 0, values that are not Unicode scalars dropped, then spaces up to
// `width` characters. The row is walked by its column stride, so rows whose
// elements are not adjacent (sliced or transposed arrays) read correctly too.
void append_symbol(TextBuffer& out, const StridedView<std::uint32_t>& sym, std::size_t row,
                   std::size_t width) {
  const std::size_t n = sym.cols;
  const bool short_row = n <= kShortRow;
  // Four bytes per code point at most, then the padding (at most `width`).
  char* p = out.ensure(short_row ? 4 * n + width : 4);
  const char* element = sym.row_ptr(row);
  std::size_t chars = 0;
  for (std::size_t j = 0; j < n; ++j, element += sym.stride1) {
    std::uint32_t cp;
    std::memcpy(&cp, element, sizeof cp);
    if (cp == 0) break;
    if (!short_row) {
      out.advance_to(p);
      p = out.ensure(4);
    }
    if (cp < 0x80) {
      *p++ = static_cast<char>(cp);
    } else if (text::is_unicode_scalar(cp)) {
      p = put_utf8(p, cp);
    } else {
      continue;  // a surrogate or beyond U+10FFFF: dropped, decoding goes on
    }
    ++chars;
  }
  if (chars < width) {
    if (!short_row) {
      out.advance_to(p);
      p = out.ensure(width - chars);
    }
    std::memset(p, ' ', width - chars);
    p += width - chars;
  }
  out.advance_to(p);
}

// Bytes per line when every value fits its field and every symbol is ASCII
// and no wider than sym_width; 0 when that cannot be represented.
std::size_t line_estimate(std::span<const std::uint8_t> col_types, std::uint64_t sym_width) {
  // A symbol field with an oversized width ends the call before anything is
  // written, so it need not be reserved for.
  const std::size_t symbol = sym_width <= kMaxSymbolWidth ? static_cast<std::size_t>(sym_width) : 0;
  std::size_t total = 1;  // "\n"
  for (const std::uint8_t code : col_types) {
    switch (code) {
      case kStrCode: total += symbol; break;
      case kFloatCode: total += 1 + kFloatWidth; break;
      case kIntCode: total += 1 + kIntWidth; break;
      case kBoolCode: total += 3; break;
      default: break;
    }
  }
  return total;
}

}  // namespace

TextBuffer write_atom_block(const StridedView<std::uint32_t>& sym_codepoints, std::uint64_t sym_width,
                            const StridedView<double>& float_mat, const StridedView<std::int64_t>& int_mat,
                            const StridedView<std::uint8_t>& bool_mat, std::span<const std::uint8_t> col_types) {
  const std::size_t natoms = sym_codepoints.rows;
  TextBuffer out;
  if (natoms == 0) return out;

  // One reservation for the whole block. It is only a hint: if the size
  // cannot be computed or allocated, the buffer grows as lines are written,
  // and only a real shortage of memory then ends the call.
  const std::size_t per_line = line_estimate(col_types, sym_width);
  try {
    out.reserve_items(natoms, per_line);
  } catch (const std::bad_alloc&) {
  }

  // Codes that write nothing are dropped once, not tested on every row.
  std::vector<std::uint8_t> codes;
  codes.reserve(col_types.size());
  for (const std::uint8_t code : col_types) {
    if (code == kStrCode || code == kFloatCode || code == kIntCode || code == kBoolCode) codes.push_back(code);
  }

  for (std::size_t row = 0; row < natoms; ++row) {
    std::size_t fcol = 0, icol = 0, bcol = 0;
    for (const std::uint8_t code : codes) {
      switch (code) {
        case kStrCode:
          if (sym_width > kMaxSymbolWidth) panic("Formatting argument out of range");
          append_symbol(out, sym_codepoints, row, static_cast<std::size_t>(sym_width));
          break;
        case kFloatCode: {
          const double value = float_mat.at(row, fcol++);
          char* p = out.ensure(kFloatRoom);
          *p++ = ' ';
          out.advance_to(text::write_fixed(p, value, kFloatWidth, kFloatPrecision));
          break;
        }
        case kIntCode: {
          const std::int64_t value = int_mat.at(row, icol++);
          char* p = out.ensure(kIntRoom);
          *p++ = ' ';
          out.advance_to(text::write_int(p, value, kIntWidth));
          break;
        }
        default: {  // kBoolCode
          const bool value = bool_mat.at(row, bcol++) != 0;
          char* p = out.ensure(3);
          p[0] = ' ';
          p[1] = ' ';
          p[2] = value ? 'T' : 'F';
          out.advance_to(p + 3);
          break;
        }
      }
    }
    out.push_back('\n');
  }
  return out;
}

}  // namespace ak::atomlines
