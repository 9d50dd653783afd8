#include "reader.hpp"

#include <algorithm>
#include <cstring>

#include "messages.hpp"
#include "text/float_parse.hpp"
#include "text/int_parse.hpp"
#include "text/row_tokens.hpp"
#include "text/tokenizer.hpp"

namespace ak::atomlines {
namespace {

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

}  // namespace

AtomLineReader::AtomLineReader(std::size_t n_lines, std::span<const std::uint8_t> col_types,
                               const ArrayStorage& storage)
    : n_str_(static_cast<std::size_t>(std::count(col_types.begin(), col_types.end(), kStrCode))), strings_(n_str_) {
  steps_.reserve(col_types.size());
  std::uint32_t n_float = 0, n_int = 0, n_bool = 0, n_str = 0;
  for (const std::uint8_t code : col_types) {
    switch (code) {
      case kFloatCode: steps_.push_back({Kind::floating, n_float++}); break;
      case kIntCode: steps_.push_back({Kind::integer, n_int++}); break;
      case kBoolCode: steps_.push_back({Kind::boolean, n_bool++}); break;
      case kStrCode: steps_.push_back({Kind::string, n_str++}); break;
      default: steps_.push_back({Kind::skip, 0}); break;
    }
  }
  // Every element is written before the block is handed out.
  floats_ = OwnedArray<double>(n_lines, n_float, Fill::unset, storage);
  ints_ = OwnedArray<std::int64_t>(n_lines, n_int, Fill::unset, storage);
  bools_ = OwnedArray<std::uint8_t>(n_lines, n_bool, Fill::unset, storage);
}

// The rows of read(), one instance per scan path (text/row_tokens.hpp): on
// the vector path the tokens of a row are scanned side by side instead of
// one after the other. Both find the same tokens.
struct RowScan {
  template <class Tokens>
  [[gnu::always_inline]] static std::optional<Failure> read(AtomLineReader& reader,
                                                            std::span<const std::string_view> lines,
                                                            std::uint32_t* string_ids) {
    const auto& steps = reader.steps_;
    const std::size_t line = reader.line_;
    const std::size_t n_float = reader.floats_.cols(), n_int = reader.ints_.cols(), n_bool = reader.bools_.cols(),
                      n_str = reader.n_str_cols();
    double* floats = reader.floats_.data() + line * n_float;
    std::int64_t* ints = reader.ints_.data() + line * n_int;
    std::uint8_t* bools = reader.bools_.data() + line * n_bool;
    for (std::size_t k = 0; k < lines.size();
         ++k, floats += n_float, ints += n_int, bools += n_bool, string_ids += n_str) {
      const char* const begin = lines[k].data();
      const char* const end = begin + lines[k].size();
      Tokens tokens(begin, end);
      const char* token_end = begin;
      for (const Step& step : steps) {
        const char* const p = tokens.next(token_end);
        if (p == end) return messages::ran_out(line + k, steps.size());
        switch (step.kind) {
          case Kind::floating: {
            const text::ScanResult number = Tokens::scan_float(p, end, begin, floats[step.column]);
            token_end = number.end;
            if (!number.ok) [[unlikely]] {
              return messages::cannot_parse(line + k, std::string_view(p, static_cast<std::size_t>(token_end - p)),
                                            "float", text::kFloatInvalid);
            }
            break;
          }
          case Kind::integer: {
            const text::IntScanResult number = text::scan_int64(p, end, begin, ints[step.column]);
            token_end = number.end;
            if (number.error != nullptr) [[unlikely]] {
              return messages::cannot_parse(line + k, std::string_view(p, static_cast<std::size_t>(token_end - p)),
                                            "int", number.error);
            }
            break;
          }
          case Kind::boolean: {
            token_end = text::token_end(p + 1, end);
            const std::string_view token(p, static_cast<std::size_t>(token_end - p));
            if (!parse_bool(token, bools[step.column])) [[unlikely]] {
              return messages::cannot_parse(line + k, token, "bool", nullptr);
            }
            break;
          }
          case Kind::string:
            token_end = text::token_end(p + 1, end);
            string_ids[step.column] =
                reader.strings_[step.column].id(p, static_cast<std::size_t>(token_end - p), begin, end);
            break;
          case Kind::skip:
          default:
            token_end = text::token_end(p + 1, end);
            break;
        }
      }
    }
    reader.line_ += lines.size();
    return std::nullopt;
  }

  using Kind = AtomLineReader::Kind;
  using Step = AtomLineReader::Step;
};

std::optional<Failure> AtomLineReader::read(std::span<const std::string_view> lines, std::uint32_t* string_ids,
                                            SimdPath path) {
  return text::run_rows(path, [this, lines, string_ids]<SimdPath Path>() {
    return RowScan::read<text::TokensOn<Path>>(*this, lines, string_ids);
  });
}

AtomColumns AtomLineReader::take_numeric_columns() noexcept {
  return AtomColumns{std::move(floats_), std::move(ints_), std::move(bools_), {}};
}

Result<AtomColumns> parse_atom_lines(std::span<const std::string_view> lines,
                                     std::span<const std::uint8_t> col_types, SimdPath path) {
  AtomLineReader reader(lines.size(), col_types);
  std::vector<std::uint32_t> ids(lines.size() * reader.n_str_cols());
  if (auto failure = reader.read(lines, ids.data(), path)) return std::move(*failure);
  AtomColumns columns = reader.take_numeric_columns();
  const std::size_t n_str = reader.n_str_cols();
  columns.strs.resize(n_str);
  for (std::size_t j = 0; j < n_str; ++j) {
    columns.strs[j].reserve(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) columns.strs[j].emplace_back(reader.strings(j).text(ids[k * n_str + j]));
  }
  return columns;
}

}  // namespace ak::atomlines
