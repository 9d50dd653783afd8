// Every failure text of the atom-line reader, built only on failure. Rows are
// 0-based positions in the caller's list; tokens are quoted and escaped.
#pragma once

#include <cstddef>
#include <string_view>

#include "failure.hpp"

namespace ak::atomlines::messages {

// "row R: expected N tokens, ran out", N counting every code.
Failure ran_out(std::size_t row, std::size_t codes);
// "row R: cannot parse "TOKEN" as KIND", then ": REASON" when there is one.
Failure cannot_parse(std::size_t row, std::string_view token, std::string_view kind, const char* reason);

}  // namespace ak::atomlines::messages
