#include "text/interner.hpp"

#include <limits>
#include <new>

namespace ak::text {

std::uint32_t TokenInterner::slow_id(std::string_view token) {
  std::string_view text = token;
  if (transform_ != nullptr) {
    std::string transformed = transform_(token);
    if (const auto found = by_text_.find(transformed); found != by_text_.end()) return found->second;
    text = transformed_.emplace_back(std::move(transformed));
  } else if (const auto found = by_text_.find(text); found != by_text_.end()) {
    return found->second;
  }
  if (texts_.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  const auto id = static_cast<std::uint32_t>(texts_.size());
  texts_.push_back(text);
  by_text_.emplace(text, id);
  return id;
}

}  // namespace ak::text
