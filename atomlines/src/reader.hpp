// Extended-XYZ atom lines typed by column codes: one code per token of a
// line, read left to right.
//
//   'f' (102)  float    -> next float column
//   'i' (105)  integer  -> next integer column
//   'b' (98)   boolean  -> next boolean column (stored as 1 or 0)
//   's' (115)  string   -> next string column (the token's text, unchanged)
//   any other  skip     -> the token is taken and discarded
//
// The k-th column of a kind is the k-th code of that kind; codes of other
// kinds do not shift it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "owned_array.hpp"

namespace ak::atomlines {

inline constexpr std::uint8_t kFloatCode = 'f';
inline constexpr std::uint8_t kIntCode = 'i';
inline constexpr std::uint8_t kBoolCode = 'b';
inline constexpr std::uint8_t kStrCode = 's';

// The columns of a block, grouped by kind. Numeric groups are row-major
// (natoms x count of their kind); `strs` holds one list per string column.
struct AtomColumns {
  OwnedArray<double> floats;
  OwnedArray<std::int64_t> ints;
  OwnedArray<std::uint8_t> bools;
  std::vector<std::vector<std::string>> strs;
};

// Splits every line on ASCII whitespace, taking one token per code and never
// looking further, and converts the tokens by their codes. Extra tokens at the
// end of a line are ignored. The first bad or missing token, in row order and
// then code order, ends the parse with its message ("row R: ...").
Result<AtomColumns> parse_atom_lines(std::span<const std::string_view> lines,
                                     std::span<const std::uint8_t> col_types);

}  // namespace ak::atomlines
