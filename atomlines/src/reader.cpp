#include "reader.hpp"

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
    text::Tokenizer tokens(lines[row]);
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
