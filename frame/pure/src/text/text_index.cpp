#include "text/text_index.hpp"

#include <new>
#include <utility>

namespace ak::text {

std::int64_t TextIndex::find(std::string_view text, std::uint64_t hash, const std::string_view* texts) const noexcept {
  if (!entries_) return -1;
  const auto tag = static_cast<std::uint32_t>(hash);
  for (std::size_t at = tag & mask_;; at = (at + 1) & mask_) {
    const Entry& entry = entries_[at];
    if (entry.id_plus_one == 0) return -1;
    if (entry.hash == tag && texts[entry.id_plus_one - 1] == text) return entry.id_plus_one - 1;
  }
}

void TextIndex::insert(std::uint32_t id, std::uint64_t hash) {
  if (2 * (used_ + 1) > mask_ + 1) grow();
  place(Entry{id + 1, static_cast<std::uint32_t>(hash)});
  ++used_;
}

void TextIndex::place(Entry entry) noexcept {
  std::size_t at = entry.hash & mask_;
  while (entries_[at].id_plus_one != 0) at = (at + 1) & mask_;
  entries_[at] = entry;
}

void TextIndex::grow() {
  const std::size_t capacity = entries_ ? 2 * (mask_ + 1) : kFirstCapacity;
  // An entry is placed by 32 bits of its hash: the index ends there (two
  // thousand million texts, far beyond any column's memory).
  if (static_cast<std::uint64_t>(capacity) > (std::uint64_t{1} << 32)) throw std::bad_alloc();
  const std::size_t old_capacity = entries_ ? mask_ + 1 : 0;
  std::unique_ptr<Entry[]> old = std::exchange(entries_, std::make_unique<Entry[]>(capacity));  // zeroed: empty
  mask_ = capacity - 1;
  for (std::size_t i = 0; i < old_capacity; ++i) {
    if (old[i].id_plus_one != 0) place(old[i]);
  }
}

}  // namespace ak::text
