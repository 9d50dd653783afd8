#include "reader.hpp"

#include <bit>
#include <cstring>
#include <string>

#include "text/float_parse.hpp"
#include "text/int_parse.hpp"
#include "text/tokenizer.hpp"
#include "text/unicode.hpp"

namespace ak::atomlines {
namespace {

enum class Kind : std::uint8_t { skip, floating, integer, boolean, string };

// One code resolved to its kind and its column within that kind, so the row
// loop does no counting of its own.
struct Step {
  Kind kind;
  std::size_t column;
};

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;  // little-endian: byte k of the text is bits 8k..8k+7
}

// Splits a line on ASCII whitespace (TAB, LF, FF, CR, SPACE) one token at a
// time, like text::Tokenizer, but scans eight bytes per step: numeric
// columns are long runs of digits and padding, and a byte-at-a-time loop
// spends most of its time on the branch at every byte.
class LineTokens {
 public:
  explicit LineTokens(std::string_view line) noexcept
      : pos_(line.data()), end_(line.data() + line.size()) {}

  bool next(std::string_view& token) noexcept {
    const char* p = skip_space(pos_);
    if (p == end_) {
      pos_ = p;
      return false;
    }
    const char* stop = token_end(p + 1);
    token = std::string_view(p, static_cast<std::size_t>(stop - p));
    pos_ = stop;
    return true;
  }

 private:
  const char* skip_space(const char* p) const noexcept {
    for (;;) {
      while (end_ - p >= 8) {
        // Bytes that differ from ' ' become non-zero; find the first one.
        const std::uint64_t diff = load8(p) ^ (kOnes * ' ');
        if (diff != 0) {
          p += std::countr_zero(diff) / 8;
          break;
        }
        p += 8;
      }
      while (p != end_ && *p == ' ') ++p;
      if (p == end_ || !text::is_ascii_space(static_cast<unsigned char>(*p))) return p;
      ++p;  // a tab, line feed, form feed or carriage return
    }
  }

  const char* token_end(const char* p) const noexcept {
    for (;;) {
      while (end_ - p >= 8) {
        // Flags the bytes below 0x21 (every separator is one); bytes of
        // 0x80 and above are never flagged. Only the lowest flag is exact,
        // which is the one used.
        const std::uint64_t w = load8(p);
        const std::uint64_t low = (w - kOnes * 0x21) & ~w & kHighs;
        if (low != 0) {
          p += std::countr_zero(low) / 8;
          break;
        }
        p += 8;
      }
      // Byte-wise from the candidate (or through the last few bytes).
      while (p != end_ && static_cast<unsigned char>(*p) > 0x20) ++p;
      if (p == end_ || text::is_ascii_space(static_cast<unsigned char>(*p))) return p;
      ++p;  // NUL, vertical tab and other control bytes belong to the token
    }
  }

  const char* pos_;
  const char* end_;
};

// The eight accepted spellings; everything else (t, 1, yes, .true., ...) is
// refused. Returns false when the token is not one of them.
bool parse_bool(std::string_view token, std::uint8_t& out) noexcept {
  switch (token.size()) {
    case 1:
      if (token[0] == 'T') { out = 1; return true; }
      if (token[0] == 'F') { out = 0; return true; }
      return false;
    case 4:
      if (token == "True" || token == "TRUE" || token == "true") { out = 1; return true; }
      return false;
    case 5:
      if (token == "False" || token == "FALSE" || token == "false") { out = 0; return true; }
      return false;
    default:
      return false;
  }
}

Failure token_failure(std::size_t row, std::string_view token, const char* as, const char* reason) {
  std::string message = "row ";
  message += std::to_string(row);
  message += ": cannot parse ";
  text::append_quoted_token(message, token);
  message += " as ";
  message += as;
  if (reason != nullptr) {
    message += ": ";
    message += reason;
  }
  return Failure{std::move(message)};
}

Failure ran_out(std::size_t row, std::size_t expected) {
  return Failure{"row " + std::to_string(row) + ": expected " + std::to_string(expected) +
                 " tokens, ran out"};
}

}  // namespace

Result<AtomColumns> parse_atom_lines(std::span<const std::string_view> lines,
                                     std::span<const std::uint8_t> col_types) {
  std::vector<Step> steps;
  steps.reserve(col_types.size());
  std::size_t n_float = 0, n_int = 0, n_bool = 0, n_str = 0;
  for (const std::uint8_t code : col_types) {
    switch (code) {
      case kFloatCode: steps.push_back({Kind::floating, n_float++}); break;
      case kIntCode: steps.push_back({Kind::integer, n_int++}); break;
      case kBoolCode: steps.push_back({Kind::boolean, n_bool++}); break;
      case kStrCode: steps.push_back({Kind::string, n_str++}); break;
      default: steps.push_back({Kind::skip, 0}); break;
    }
  }

  const std::size_t natoms = lines.size();
  AtomColumns columns{OwnedArray<double>(natoms, n_float), OwnedArray<std::int64_t>(natoms, n_int),
                      OwnedArray<std::uint8_t>(natoms, n_bool), {}};
  columns.strs.resize(n_str);
  for (auto& list : columns.strs) list.reserve(natoms);
  if (natoms == 0 || steps.empty()) return columns;

  double* floats = columns.floats.data();
  std::int64_t* ints = columns.ints.data();
  std::uint8_t* bools = columns.bools.data();
  const std::size_t expected = col_types.size();

  for (std::size_t row = 0; row < natoms; ++row) {
    LineTokens tokens(lines[row]);
    std::string_view token;
    for (const Step& step : steps) {
      if (!tokens.next(token)) return ran_out(row, expected);
      switch (step.kind) {
        case Kind::floating: {
          if (const char* error = text::parse_float(token, floats[row * n_float + step.column])) {
            return token_failure(row, token, "float", error);
          }
          break;
        }
        case Kind::integer: {
          if (const char* error = text::parse_int64(token, ints[row * n_int + step.column])) {
            return token_failure(row, token, "int", error);
          }
          break;
        }
        case Kind::boolean: {
          if (!parse_bool(token, bools[row * n_bool + step.column])) {
            return token_failure(row, token, "bool", nullptr);
          }
          break;
        }
        case Kind::string:
          columns.strs[step.column].emplace_back(token);
          break;
        case Kind::skip:
          break;
      }
    }
  }
  return columns;
}

}  // namespace ak::atomlines
