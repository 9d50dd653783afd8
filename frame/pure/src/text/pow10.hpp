// Powers of ten that fit an unsigned 64-bit integer: kPow10[i] = 10^i.
#pragma once

#include <array>
#include <cstdint>

namespace ak::text {

inline constexpr std::array<std::uint64_t, 20> kPow10 = [] {
  std::array<std::uint64_t, 20> table{};
  std::uint64_t value = 1;
  for (auto& entry : table) {
    entry = value;
    value *= 10;  // wraps after the last entry, which is never stored
  }
  return table;
}();

}  // namespace ak::text
