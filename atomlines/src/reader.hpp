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
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "owned_array.hpp"
#include "simd_path.hpp"
#include "small_vector.hpp"
#include "text/interner.hpp"

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

// Reads the atom lines of one frame, handed over in order in chunks. Every
// line is split on ASCII whitespace, one token taken per code and never
// more, and each token converted by its code; extra tokens at the end of a
// line are ignored. The first bad or missing token, in line order and then
// code order, ends the reading with its message ("row R: ...").
class AtomLineReader {
 public:
  // The numeric columns are made in `storage`.
  AtomLineReader(std::size_t n_lines, std::span<const std::uint8_t> col_types,
                 const ArrayStorage& storage = kHeapArrays);

  std::size_t n_str_cols() const noexcept { return n_str_; }

  // Reads the next lines. The token of string column j on the k-th of them
  // gets the id string_ids[k * n_str_cols() + j] into strings(j). Returns the
  // message of the first failure, after which the reader must not be used
  // again. `path` (supported here) picks the scans' code path; every path
  // reads the same.
  std::optional<Failure> read(std::span<const std::string_view> lines, std::uint32_t* string_ids,
                              SimdPath path = best_simd_path());

  // The distinct texts of string column j (views into the lines read).
  const text::TokenInterner& strings(std::size_t column) const noexcept { return strings_[column]; }

  // The numeric columns, once all lines were read (`strs` left empty).
  AtomColumns take_numeric_columns() noexcept;

 private:
  enum class Kind : std::uint8_t { skip, floating, integer, boolean, string };
  // One code resolved to its kind and its column within that kind.
  struct Step {
    Kind kind;
    std::uint32_t column;
  };

  SmallVector<Step, 16> steps_;
  OwnedArray<double> floats_;
  OwnedArray<std::int64_t> ints_;
  OwnedArray<std::uint8_t> bools_;
  std::size_t n_str_ = 0;
  FirstInline<text::TokenInterner> strings_;  // one per string column
  std::size_t line_ = 0;

  friend struct RowScan;  // the body of read(), one instance per scan path (reader.cpp)
};

// The whole block at once, through AtomLineReader.
Result<AtomColumns> parse_atom_lines(std::span<const std::string_view> lines,
                                     std::span<const std::uint8_t> col_types,
                                     SimdPath path = best_simd_path());

}  // namespace ak::atomlines
