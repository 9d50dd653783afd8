#include "messages.hpp"

#include <string>

#include "text/unicode.hpp"

namespace ak::atomlines::messages {

Failure ran_out(std::size_t row, std::size_t codes) {
  return failure("row ", row, ": expected ", codes, " tokens, ran out");
}

Failure cannot_parse(std::size_t row, std::string_view token, std::string_view kind, const char* reason) {
  std::string quoted;
  text::append_quoted_token(quoted, token);
  if (reason == nullptr) return failure("row ", row, ": cannot parse ", quoted, " as ", kind);
  return failure("row ", row, ": cannot parse ", quoted, " as ", kind, ": ", reason);
}

}  // namespace ak::atomlines::messages
