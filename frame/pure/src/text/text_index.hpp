// The ids of a growing list of distinct texts, found by text.
//
// Open addressing with linear probing over the texts' keyed hashes
// (keyed_hash.hpp), never more than half full, so a lookup probes a few
// entries whatever texts a file holds. The texts themselves stay the owner's;
// an entry keeps an id and the low 32 bits of its text's hash, which place it
// again when the index grows and turn away most other texts unread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace ak::text {

class TextIndex {
 public:
  // The id of `text`, given its hash and the owner's texts (texts[id] is the
  // text of id), or -1.
  std::int64_t find(std::string_view text, std::uint64_t hash, const std::string_view* texts) const noexcept;
  // Records `id` under the hash of its text, which is not in the index yet.
  void insert(std::uint32_t id, std::uint64_t hash);

 private:
  struct Entry {
    std::uint32_t id_plus_one;  // 0: empty
    std::uint32_t hash;
  };
  static constexpr std::size_t kFirstCapacity = 64;

  void grow();
  void place(Entry entry) noexcept;

  std::unique_ptr<Entry[]> entries_;
  std::size_t mask_ = 0;  // capacity - 1; capacity a power of two
  std::size_t used_ = 0;
};

}  // namespace ak::text
